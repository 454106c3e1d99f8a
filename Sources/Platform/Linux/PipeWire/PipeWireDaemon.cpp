#include "Platform/Linux/PipeWire/PipeWireDaemon.h"

#include <pipewire/pipewire.h>

#include <thread>

namespace Platform::Linux::PipeWire {

namespace {

constexpr std::chrono::milliseconds pollInterval{100};

// Whether a connection is taken now: the socket connects synchronously.
bool daemonAnswers() {
  pw_loop* loop = pw_loop_new(nullptr);
  if (loop == nullptr) {
    return false;
  }
  pw_context* context = pw_context_new(loop, nullptr, 0);
  bool answers = false;
  if (context != nullptr) {
    if (pw_core* core = pw_context_connect(context, nullptr, 0); core != nullptr) {
      answers = true;
      pw_core_disconnect(core);
    }
    pw_context_destroy(context);
  }
  pw_loop_destroy(loop);
  return answers;
}

} // namespace

bool waitForPipeWire(std::chrono::milliseconds timeout, const std::stop_token& stop) {
  pw_init(nullptr, nullptr);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!stop.stop_requested()) {
    if (daemonAnswers()) {
      return true;
    }
    if (std::chrono::steady_clock::now() + pollInterval > deadline) {
      return false;
    }
    std::this_thread::sleep_for(pollInterval);
  }
  return false;
}

} // namespace Platform::Linux::PipeWire

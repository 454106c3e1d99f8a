#include "Platform/Linux/PipeWire/PipeWireDaemon.h"

#include "Platform/Error.h"

#include <pipewire/pipewire.h>

#include <thread>

#include <unistd.h>

namespace Platform::Linux::PipeWire {

namespace {

constexpr std::chrono::milliseconds pollInterval{100};

[[noreturn]] void fail(const std::string& description) {
  throw SystemError(ErrorDomain::screenCapture, -3802, description);
}

} // namespace

const std::shared_ptr<LoopThread>& Daemon::thread() {
  if (!thread_) {
    thread_ = std::make_shared<LoopThread>();
  }
  return thread_;
}

std::shared_ptr<Core> Daemon::core() {
  Lock lock(mutex_);
  if (current_ && !current_->lost()) {
    return current_;
  }
  current_.reset();
  const auto& loopThread = thread();
  LoopLock loop(loopThread->loop());
  // The socket connects synchronously: no daemon fails at once.
  pw_core* core = pw_context_connect(loopThread->context(), nullptr, 0);
  if (core == nullptr) {
    fail("Could not connect to PipeWire");
  }
  current_ = std::make_shared<Core>(loopThread, core);
  return current_;
}

std::shared_ptr<Core> Daemon::remoteCore(int remote) {
  std::shared_ptr<LoopThread> loopThread;
  try {
    Lock lock(mutex_);
    loopThread = thread();
  } catch (const Error&) {
    close(remote);
    throw;
  }
  LoopLock loop(loopThread->loop());
  pw_core* core = pw_context_connect_fd(loopThread->context(), remote, nullptr, 0);
  if (core == nullptr) {
    fail("Could not connect to PipeWire");
  }
  return std::make_shared<Core>(loopThread, core);
}

bool Daemon::waitUntilAccepting(std::chrono::milliseconds timeout, const std::stop_token& stop) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!stop.stop_requested()) {
    try {
      core();
      return true;
    } catch (const Error&) {
    }
    if (std::chrono::steady_clock::now() + pollInterval > deadline) {
      return false;
    }
    std::this_thread::sleep_for(pollInterval);
  }
  return false;
}

} // namespace Platform::Linux::PipeWire

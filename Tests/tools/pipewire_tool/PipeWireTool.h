#pragma once

// What the test tools that are PipeWire clients share: owners of the
// objects they make, a connection whose loop SIGINT and SIGTERM end, and a
// main that says what failed.

#include <pipewire/pipewire.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace PipeWireTool {

template <auto destroy> struct Destroy {
  template <typename T> void operator()(T* object) const { destroy(object); }
};

using MainLoop = std::unique_ptr<pw_main_loop, Destroy<pw_main_loop_destroy>>;
using Context = std::unique_ptr<pw_context, Destroy<pw_context_destroy>>;
using Core = std::unique_ptr<pw_core, Destroy<pw_core_disconnect>>;
using Stream = std::unique_ptr<pw_stream, Destroy<pw_stream_destroy>>;

// A main loop that SIGINT and SIGTERM end, and a core on it.
struct Connection {
  Connection() : loop(pw_main_loop_new(nullptr)) {
    if (!loop) {
      throw std::runtime_error("cannot make a PipeWire loop");
    }
    const auto quit = [](void* mainLoop, int) {
      pw_main_loop_quit(static_cast<pw_main_loop*>(mainLoop));
    };
    pw_loop_add_signal(events(), SIGINT, quit, loop.get());
    pw_loop_add_signal(events(), SIGTERM, quit, loop.get());
    context.reset(pw_context_new(events(), nullptr, 0));
    core.reset(context ? pw_context_connect(context.get(), nullptr, 0) : nullptr);
    if (!core) {
      throw std::runtime_error(std::string("cannot reach PipeWire: ") + std::strerror(errno));
    }
  }

  pw_loop* events() const { return pw_main_loop_get_loop(loop.get()); }

  MainLoop loop;
  Context context;
  Core core;
};

// A tool's main around `tool`: the loop takes the signals, blocked in every
// thread so that none ends the process before its nodes are taken away;
// a failure is said on standard error after the program's name.
inline int run(int argc, char** argv, const char* program, const std::function<int()>& tool) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  pw_init(&argc, &argv);
  int status = 1;
  try {
    status = tool();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", program, error.what());
  }
  pw_deinit();
  return status;
}

} // namespace PipeWireTool

#pragma once

#include "Platform/ThreadSafety.h"

#include <pulse/context.h>
#include <pulse/operation.h>
#include <pulse/thread-mainloop.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

// One connection to the PulseAudio server: a threaded main loop and a context
// that never autospawns a server.
//
// Thread contract: the PulseAudio objects may only be touched while a Lock is
// held, except from callbacks, which run on the main loop's thread with the
// lock already held. A Lock must never be taken on the main loop's thread.
// Every wait ends when its condition holds, when the context fails, or at a
// deadline, whichever comes first. The compiler checks the lock: a
// connection is the capability its Lock holds.

namespace Platform::Linux::Pulse {

class CAPABILITY("audio server main loop") Connection {
public:
  // Connects within `timeout`; throws Platform::Error when no server accepts.
  static std::shared_ptr<Connection> open(std::chrono::milliseconds timeout);

  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  pa_threaded_mainloop* mainloop() const { return mainloop_; }
  pa_context* context() const { return context_; }

  class SCOPED_CAPABILITY Lock {
  public:
    explicit Lock(const Connection& connection) ACQUIRE(connection);
    ~Lock() RELEASE();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    pa_threaded_mainloop* mainloop_;
  };

  // With the lock held: whether the context is connected and usable.
  bool isReady() const REQUIRES(this);
  // With the lock held: the context's last error as text.
  std::string lastError() const REQUIRES(this);

  // With the lock held: waits until `done` holds, the context fails or
  // `timeout` passes. Returns `done()`. Whatever makes `done` true must call
  // signal().
  bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) const
      REQUIRES(this);

  // With the lock held: runs `operation` (owned from here on) to its end.
  // False when it could not be started or did not finish in time.
  bool await(pa_operation* operation, std::chrono::milliseconds timeout) const REQUIRES(this);

  // Wakes every waiter; for callbacks, on the main loop's thread.
  void signal() const;

private:
  Connection();
  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
};

// How long one request to a connected server may take before we give up.
inline constexpr std::chrono::milliseconds requestTimeout{5000};

} // namespace Platform::Linux::Pulse

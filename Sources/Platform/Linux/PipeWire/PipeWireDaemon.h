#pragma once

#include "Platform/Linux/PipeWire/PipeWireCore.h"
#include "Platform/ThreadSafety.h"

#include <chrono>
#include <memory>
#include <stop_token>

// The platform's one way to the session's PipeWire daemon, as a client finds
// it ($PIPEWIRE_REMOTE, else the default socket in $XDG_RUNTIME_DIR). The
// platform makes one and hands it to everything that uses PipeWire (screen
// casts, cameras, the camera list): they share one core on one PipeWire
// thread and context. When the daemon went away (a restart), the next
// request connects again, so whoever holds the old core finds out by its
// lost() and asks again. A portal's remote is a core of its own on the same
// thread and context: the portal's grant holds on that socket only.
//
// Thread contract: any thread but PipeWire's.

namespace Platform::Linux::PipeWire {

class Daemon {
public:
  // The current core, or a new one when there is none or the last one was
  // lost. Throws Platform::Error when no daemon accepts.
  std::shared_ptr<Core> core() EXCLUDES(mutex_);

  // A core on `remote`, a connection to the daemon a portal opened (taken
  // over). Throws Platform::Error when it does not connect.
  std::shared_ptr<Core> remoteCore(int remote) EXCLUDES(mutex_);

  // Waits until the daemon takes connections again (after a restart), up to
  // `timeout` or until `stop`; whether it does.
  bool waitUntilAccepting(std::chrono::milliseconds timeout, const std::stop_token& stop)
      EXCLUDES(mutex_);

private:
  const std::shared_ptr<LoopThread>& thread() REQUIRES(mutex_);

  Mutex mutex_;
  std::shared_ptr<LoopThread> thread_ GUARDED_BY(mutex_); // made on first use
  std::shared_ptr<Core> current_ GUARDED_BY(mutex_);
};

} // namespace Platform::Linux::PipeWire

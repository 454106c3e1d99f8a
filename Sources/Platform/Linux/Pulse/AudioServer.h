#pragma once

#include "Platform/Linux/Pulse/PulseConnection.h"
#include "Platform/ThreadSafety.h"

#include <memory>

// The platform's one way to the audio server. Everything that talks to the
// server asks it for the connection; when the server went away (it restarts
// on device changes and updates), the next request opens a new one, so
// whoever holds the old connection finds out by its failed context and asks
// again.
//
// Thread contract: connection() may be called from any thread but the main
// loop's.

namespace Platform::Linux::Pulse {

class AudioServer {
public:
  // The current connection, or a new one when there is none or the last one
  // failed. Throws Platform::Error when no server accepts.
  std::shared_ptr<Connection> connection() EXCLUDES(mutex_);

  // True when a server accepts a connection.
  bool accepts();

private:
  Mutex mutex_;
  std::shared_ptr<Connection> current_ GUARDED_BY(mutex_);
};

} // namespace Platform::Linux::Pulse

#pragma once

#include "Platform/Linux/Pulse/PulseConnection.h"

#include <memory>
#include <mutex>

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
  std::shared_ptr<Connection> connection();

  // True when a server accepts a connection.
  bool accepts();

private:
  std::mutex mutex_;
  std::shared_ptr<Connection> current_;
};

} // namespace Platform::Linux::Pulse

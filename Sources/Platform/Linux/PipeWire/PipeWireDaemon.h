#pragma once

#include <chrono>
#include <stop_token>

// The PipeWire daemon of the session, as a client finds it ($PIPEWIRE_REMOTE,
// else the default socket in $XDG_RUNTIME_DIR).
//
// Thread contract: any thread.

namespace Platform::Linux::PipeWire {

// Waits until the daemon takes connections again (after a restart), up to
// `timeout` or until `stop`; whether it does.
bool waitForPipeWire(std::chrono::milliseconds timeout, const std::stop_token& stop);

} // namespace Platform::Linux::PipeWire

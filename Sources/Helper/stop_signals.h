#pragma once

#include <functional>

namespace App {

// A recording ends only through its stop path. Two steps, because the parent
// may signal us the moment it has spawned us:
//
// catchStopSignals, from the executable's pre-initialisation (before any
// library's start-up code runs), makes SIGINT, SIGTERM, SIGHUP and the death
// of the parent process (delivered as SIGTERM) write to one non-blocking
// pipe, and ignores SIGPIPE so that a parent that closed our standard output
// cannot end the process before the file is finished. Only system calls.
void catchStopSignals();

// deliverStopSignals, from main, runs `onSignal` on the main queue once per
// signal caught, those caught before included. A signal that comes while the
// main queue is busy waits for it.
void deliverStopSignals(std::function<void()> onSignal);

} // namespace App

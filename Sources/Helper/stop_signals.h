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

// releaseStopSignals, right after, unblocks SIGINT, SIGTERM and SIGHUP: the
// launcher blocked them so that none is lost while our libraries load, and
// one that came meanwhile is delivered now (to the handlers for a recording,
// with its default action otherwise).
void releaseStopSignals();

// deliverStopSignals, from main, runs `onSignal` on the main queue once per
// signal caught, those caught before included. A signal that comes while the
// main queue is busy waits for it; `atOnce` runs first, on the thread that
// watches the signals, for what cannot wait (a start blocking the main
// queue while it waits on the user).
void deliverStopSignals(std::function<void()> onSignal, std::function<void()> atOnce);

} // namespace App

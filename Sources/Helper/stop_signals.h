#pragma once

#include <functional>

namespace App {

// Routes SIGINT, SIGTERM and SIGHUP, and the death of the parent process
// (delivered as SIGTERM), through one non-blocking pipe to `onSignal`, which
// runs on the main queue once per signal. Ignores SIGPIPE, so that a parent
// that closed our standard output cannot end the process before the file is
// finished. Call once, first thing in the process, before anything can
// block: a signal that comes while the main queue is busy waits for it.
void installStopSignals(std::function<void()> onSignal);

} // namespace App

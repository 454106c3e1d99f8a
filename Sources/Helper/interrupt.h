#pragma once

#include "Vistrel/Recorder.h"

#include <memory>

namespace App {

// The recording's way out, on the main queue. Each stop signal prints its
// line; the first one stops the recorder and ends the process with the
// outcome once the file is finished. Later ones neither start a second stop
// nor cut the first one short. A signal that comes before the recording has
// started waits until it has (see recordingDidStart).
void handleInterrupt();

// The recording has started: signals that came during start now take the
// stop path, in order.
void recordingDidStart();

// A start that waits on the user (the desktop's picker) is cancelled by a
// stop signal rather than waited for: the user may never answer, and a
// meeting that ended meanwhile wants no recording. Between these two calls
// the first signal stops `recorder`, whose start then fails.
void cancelStartOnInterrupt(std::shared_ptr<Vistrel::Recorder> recorder);
void startDidSettle();
// Any thread, at each stop signal, before it waits for the main queue.
void interruptArrived();

} // namespace App

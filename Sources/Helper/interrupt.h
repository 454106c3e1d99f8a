#pragma once

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

} // namespace App

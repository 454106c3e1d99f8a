#pragma once

#include "Platform/Linux/AudioCapture.h"

#include <memory>
#include <optional>
#include <string>

// Audio captures over PulseAudio record streams: float32 interleaved at the
// source's own rate and channel count, in buffers of about 10 ms stamped on
// the host clock.
//
// Thread contract: as AudioCapture. Samples and the failure are delivered on
// a thread of the capture, so a receiver may call stop() from inside them.

namespace Platform::Linux::Pulse {

// Records the named source, or the default sink's monitor (resolved when
// recording starts) when no name is given. The stream never moves to another
// source: when its source goes, the capture fails.
std::unique_ptr<AudioCapture> makeRecordStreamCapture(std::optional<std::string> sourceName);

} // namespace Platform::Linux::Pulse

#pragma once

#include "Platform/Linux/AudioCapture.h"
#include "Platform/Linux/Pulse/AudioServer.h"

#include <memory>
#include <optional>
#include <string>

// Audio captures over PulseAudio record streams: float32 interleaved at the
// source's rate and channel count (as found at the start, kept for the whole
// recording), in buffers of about 40 ms stamped on the host clock.
//
// A capture outlives its source: when the source goes (a headset unplugged,
// the audio server restarting), it delivers silence at the real rate and
// keeps trying to record again; when a source of the same name is back, its
// sound goes on in the same buffers' timeline. The default sink's monitor is
// followed to whichever sink is the default now. Losses and returns are
// logged; none is a failure.
//
// Thread contract: as AudioCapture. Samples are delivered on a thread of the
// capture, so a receiver may call stop() from inside them.

namespace Platform::Linux::Pulse {

// Records the named source, or the default sink's monitor when no name is
// given.
std::unique_ptr<AudioCapture> makeRecordStreamCapture(std::shared_ptr<AudioServer> server,
                                                      std::optional<std::string> sourceName);

} // namespace Platform::Linux::Pulse

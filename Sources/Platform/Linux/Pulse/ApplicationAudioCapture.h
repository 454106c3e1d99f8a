#pragma once

#include "Platform/Linux/AudioCapture.h"
#include "Platform/ScreenCapture.h"

#include <memory>

// The sound one application plays, wherever it plays it: each of its
// playback streams is recorded on its own (a record stream on the stream
// itself, as level meters do, so one moved to a headset is still heard) and
// the streams are mixed on the host clock into buffers of the default
// sink's format. A stream that starts while recording is picked up at once;
// one that ends leaves silence. Nothing of the user's routing changes: no
// sink is created, no stream moved.
//
// Thread contract: as AudioCapture. The mix is delivered on a thread of the
// capture; the last of it from stop().

namespace Platform::Linux::Pulse {

std::unique_ptr<AudioCapture> makeApplicationAudioCapture(SCRunningApplication application);

} // namespace Platform::Linux::Pulse

#pragma once

#include "Platform/Linux/AudioCapture.h"
#include "Platform/MediaCapture.h"

#include <memory>

// The PulseAudio side of the Linux platform: audio input devices, microphone
// capture sessions and the audio captures behind the X11 stream's system
// audio. Every object made here shares one connection to the audio server,
// opened on first use; no server is ever spawned.
//
// Thread contract: every function and every member of the objects returned
// may be called from any thread. Samples and failures arrive on threads of
// the capture, never on the caller's.

namespace Platform::Linux {

std::shared_ptr<MediaCaptureService> makePulseMediaCaptureService();

std::shared_ptr<AudioCaptureFactory> makePulseAudioCaptureFactory();

// True when an audio server accepts a connection within a short timeout.
bool audioServerAccepts();

} // namespace Platform::Linux

#pragma once

#include "Platform/Linux/AudioCapture.h"
#include "Platform/Linux/Capture/DeviceCaptureService.h"

#include <memory>

namespace Platform::Linux::Pulse {
class AudioServer;
}

// The PulseAudio side of the Linux platform: audio input devices and their
// capture for capture sessions, and the audio captures behind the streams'
// system audio. Every object made here reaches the audio server through the one
// `server` given, which connects on first use and again after the server
// restarted; no server is ever spawned.
//
// Thread contract: every function and every member of the objects returned
// may be called from any thread. Samples and failures arrive on threads of
// the capture, never on the caller's.

namespace Platform::Linux {

std::shared_ptr<Capture::DeviceBackend>
makePulseDeviceBackend(std::shared_ptr<Pulse::AudioServer> server);

std::shared_ptr<AudioCaptureFactory>
makePulseAudioCaptureFactory(std::shared_ptr<Pulse::AudioServer> server);

} // namespace Platform::Linux

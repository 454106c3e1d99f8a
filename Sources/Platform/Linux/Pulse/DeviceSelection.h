#pragma once

#include "Platform/MediaCapture.h"

#include <optional>
#include <vector>

// Which device queries the audio server's sources answer.
//
// Every source that is not a monitor is a microphone: PulseAudio does not
// tell a built-in microphone from a plugged-in one reliably, so each is
// listed once under the microphone types. The external type stands for
// attached capture devices (cameras, capture cards), which PipeWire lists
// as video devices; a query for microphones and external devices lists each
// source exactly once. Microphones have no position: a query for the
// front or the back finds none.
//
// Thread contract: pure, callable from any thread.

namespace Platform::Linux::Pulse {

bool queryListsAudioSources(const std::vector<AVCaptureDeviceType>& deviceTypes,
                            std::optional<MediaType> mediaType, AVCaptureDevicePosition position);

} // namespace Platform::Linux::Pulse

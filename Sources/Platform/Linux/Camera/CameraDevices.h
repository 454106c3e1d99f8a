#pragma once

#include "Platform/Linux/AudioCapture.h"
#include "Platform/Linux/Capture/DeviceCaptureService.h"

#include <memory>

// The cameras of the Linux platform: every camera, capture card and virtual
// camera `pipeWire` offers (a Video/Source node that is not a screen cast),
// listed as external devices and recorded through the shared capture loop,
// with the device's own sound through `audio`. None, not an error, where
// PipeWire does not run.
//
// Thread contract: as DeviceBackend.

namespace Platform::Linux::PipeWire {
class Daemon;
} // namespace Platform::Linux::PipeWire

namespace Platform::Linux::Camera {

std::shared_ptr<Capture::DeviceBackend>
makeCameraBackend(std::shared_ptr<AudioCaptureFactory> audio,
                  std::shared_ptr<PipeWire::Daemon> pipeWire);

} // namespace Platform::Linux::Camera

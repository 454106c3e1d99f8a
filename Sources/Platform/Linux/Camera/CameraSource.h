#pragma once

#include "Platform/Linux/Capture/CaptureSource.h"
#include "Platform/Linux/PipeWire/PipeWireDaemon.h"
#include "Platform/Linux/PipeWire/PipeWireFrames.h"

#include <chrono>
#include <memory>

// A camera (a PipeWire Video/Source node) as the content a capture stream
// grabs: its own size, its newest picture at each grid point. A camera that
// goes away ends the stream with the media-capture code of a device that is
// gone; PipeWire going away ends it as a lost server.
//
// Thread contract: as CaptureSource.

namespace Platform::Linux::Camera {

// Long enough for a camera to wake up and send its first frame (USB cameras
// take a second or two, capture cards find their signal).
inline constexpr std::chrono::seconds firstFrameTimeout{10};

// Consumes the node through `pipeWire` and waits for its first frame. Throws Platform::Error
// (media capture) naming the camera when it cannot be had: busy, offering
// nothing we take, or silent for `firstFrameWait`.
std::unique_ptr<Capture::CaptureSource>
makeCameraSource(PipeWire::Daemon& pipeWire, const PipeWire::VideoNode& node,
                 std::chrono::milliseconds firstFrameWait = firstFrameTimeout);

} // namespace Platform::Linux::Camera

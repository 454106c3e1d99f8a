#pragma once

#include "Platform/Linux/AudioCapture.h"
#include "Platform/Linux/Camera/CameraNodes.h"
#include "Platform/Linux/Capture/CaptureSession.h"
#include "Platform/Linux/PipeWire/PipeWireDaemon.h"
#include "Platform/Linux/PipeWire/PipeWireFrames.h"

#include <memory>

// A camera being recorded: its pictures through the shared capture loop,
// paced to the video output's minimum frame duration, and its own sound,
// when it has some, through the audio server.
//
// Thread contract: as DeviceRun.

namespace Platform::Linux::Camera {

// Blocks until the camera's first picture is in, through `pipeWire`; throws Platform::Error when
// it cannot be had. Sound that cannot be recorded is said in the log and
// left out.
std::unique_ptr<Capture::DeviceRun> startCameraRun(const CameraNode& camera,
                                                   Capture::DeviceSinks sinks,
                                                   AudioCaptureFactory& audio,
                                                   std::shared_ptr<PipeWire::Daemon> pipeWire);

// The camera's node as the PipeWire consumer takes it.
PipeWire::VideoNode cameraVideoNode(const CameraNode& camera);

} // namespace Platform::Linux::Camera

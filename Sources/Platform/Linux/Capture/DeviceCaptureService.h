#pragma once

#include "Platform/Linux/Capture/CaptureSession.h"
#include "Platform/MediaCapture.h"

#include <memory>
#include <optional>
#include <vector>

// The media-capture service of the Linux platform, over the backends that
// know devices: the audio server's microphones, PipeWire's cameras. Each
// backend lists its own devices and runs them; the service puts the lists
// together, in the backends' order, and gives every session and output
// the one shape all backends take.
//
// Thread contract: every member of the service, and of a backend, may be
// called from any thread.

namespace Platform::Linux::Capture {

class DeviceBackend {
public:
  virtual ~DeviceBackend() = default;

  // Its devices that answer the query; none, not an error, when its
  // service cannot be reached.
  virtual std::vector<CaptureDeviceRef>
  discoverDevices(const std::vector<AVCaptureDeviceType>& deviceTypes,
                  std::optional<MediaType> mediaType, AVCaptureDevicePosition position) = 0;

  // Whether it listed `device`.
  virtual bool owns(const AVCaptureDevice& device) const = 0;

  // Throws Platform::Error when its device can no longer be opened.
  virtual void checkAvailable(const AVCaptureDevice& device) = 0;

  // Starts capturing one of its devices, as a DeviceRunMaker does.
  virtual std::unique_ptr<DeviceRun> start(const AVCaptureDevice& device, DeviceSinks sinks) = 0;
};

std::shared_ptr<MediaCaptureService>
makeDeviceCaptureService(std::vector<std::shared_ptr<DeviceBackend>> backends);

} // namespace Platform::Linux::Capture

#pragma once

#include "Platform/MediaCapture.h"

#include <memory>

// The media-capture service over the scripted world: device discovery by the
// type names of the simulated version, device inputs, data outputs and
// capture sessions that the world records as they are made.
// Thread contract: every member may be called from any thread.

namespace Platform::Simulated {

struct World;

class SimulatedMediaCaptureService final : public MediaCaptureService {
public:
  explicit SimulatedMediaCaptureService(std::shared_ptr<World> world);

  std::vector<CaptureDeviceRef> discoverDevices(const std::vector<AVCaptureDeviceType>& deviceTypes,
                                                std::optional<MediaType> mediaType,
                                                AVCaptureDevicePosition position) override;
  std::shared_ptr<AVCaptureDeviceInput> makeDeviceInput(const CaptureDeviceRef& device) override;
  std::shared_ptr<AVCaptureSession> makeCaptureSession() override;
  CaptureOutputRef makeAudioDataOutput() override;
  CaptureOutputRef makeVideoDataOutput() override;
  void allowScreenCaptureDevices() override;

private:
  const std::shared_ptr<World> world_;
};

} // namespace Platform::Simulated

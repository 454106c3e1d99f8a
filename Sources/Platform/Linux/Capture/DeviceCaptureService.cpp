#include "Platform/Linux/Capture/DeviceCaptureService.h"

#include <cerrno>

namespace Platform::Linux::Capture {

namespace {

using Backends = std::vector<std::shared_ptr<DeviceBackend>>;

DeviceBackend& ownerOf(const Backends& backends, const AVCaptureDevice& device) {
  for (const auto& backend : backends) {
    if (backend->owns(device)) {
      return *backend;
    }
  }
  throw SystemError(ErrorDomain::mediaCapture, EINVAL,
                    "The device \"" + device.localizedName() + "\" was not listed here");
}

class DeviceCaptureService final : public MediaCaptureService {
public:
  explicit DeviceCaptureService(Backends backends) : backends_(std::move(backends)) {}

  std::vector<CaptureDeviceRef> discoverDevices(const std::vector<AVCaptureDeviceType>& deviceTypes,
                                                std::optional<MediaType> mediaType,
                                                AVCaptureDevicePosition position) override {
    std::vector<CaptureDeviceRef> devices;
    for (const auto& backend : backends_) {
      auto found = backend->discoverDevices(deviceTypes, mediaType, position);
      devices.insert(devices.end(), std::make_move_iterator(found.begin()),
                     std::make_move_iterator(found.end()));
    }
    return devices;
  }

  std::shared_ptr<AVCaptureDeviceInput> makeDeviceInput(const CaptureDeviceRef& device) override {
    if (device == nullptr) {
      throw SystemError(ErrorDomain::mediaCapture, EINVAL, "No capture device was given");
    }
    ownerOf(backends_, *device).checkAvailable(*device);
    return std::make_shared<DeviceInput>(device);
  }

  std::shared_ptr<AVCaptureSession> makeCaptureSession() override {
    return std::make_shared<CaptureSession>(
        [backends = backends_](const AVCaptureDevice& device, DeviceSinks sinks) {
          return ownerOf(backends, device).start(device, std::move(sinks));
        });
  }

  CaptureOutputRef makeAudioDataOutput() override {
    return std::make_shared<DataOutput>(CaptureOutputKind::audioData);
  }

  CaptureOutputRef makeVideoDataOutput() override {
    return std::make_shared<DataOutput>(CaptureOutputKind::videoData);
  }

  // Attached screen-capture devices need a system switch elsewhere; Linux
  // offers none to switch on, and every device we list is always visible.
  void allowScreenCaptureDevices() override {}

private:
  const Backends backends_;
};

} // namespace

std::shared_ptr<MediaCaptureService>
makeDeviceCaptureService(std::vector<std::shared_ptr<DeviceBackend>> backends) {
  return std::make_shared<DeviceCaptureService>(std::move(backends));
}

} // namespace Platform::Linux::Capture

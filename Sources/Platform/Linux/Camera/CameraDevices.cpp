#include "Platform/Linux/Camera/CameraDevices.h"

#include "Platform/Linux/Camera/CameraNodes.h"
#include "Platform/Linux/Camera/CameraRun.h"

#include <algorithm>

namespace Platform::Linux::Camera {

namespace {

// A daemon that takes longer than this to list its objects is not waited for.
constexpr std::chrono::seconds listingPatience{2};

class CameraDevice final : public Capture::CaptureDevice {
public:
  explicit CameraDevice(CameraNode node)
      : CaptureDevice(node.name, node.description, {}), node_(std::move(node)) {}
  const CameraNode& node() const { return node_; }

private:
  CameraNode node_;
};

std::vector<CameraNode> listCameras() {
  const auto graph = PipeWire::readGraph(cameraMediaClasses(), listingPatience);
  return graph ? camerasIn(*graph) : std::vector<CameraNode>{};
}

bool positionMatches(const CameraNode& camera, AVCaptureDevicePosition position) {
  switch (position) {
  case AVCaptureDevicePosition::unspecified:
    return true;
  case AVCaptureDevicePosition::front:
    return camera.location == "front";
  case AVCaptureDevicePosition::back:
    return camera.location == "back";
  }
  return false;
}

class CameraBackend final : public Capture::DeviceBackend {
public:
  explicit CameraBackend(std::shared_ptr<AudioCaptureFactory> audio) : audio_(std::move(audio)) {}

  std::vector<CaptureDeviceRef> discoverDevices(const std::vector<AVCaptureDeviceType>& deviceTypes,
                                                std::optional<MediaType> mediaType,
                                                AVCaptureDevicePosition position) override {
    if (std::find(deviceTypes.begin(), deviceTypes.end(), AVCaptureDeviceType::external) ==
            deviceTypes.end() ||
        (mediaType && *mediaType != MediaType::video)) {
      return {};
    }
    std::vector<CaptureDeviceRef> devices;
    for (CameraNode& camera : listCameras()) {
      if (positionMatches(camera, position)) {
        devices.push_back(std::make_shared<CameraDevice>(std::move(camera)));
      }
    }
    return devices;
  }

  bool owns(const AVCaptureDevice& device) const override {
    return dynamic_cast<const CameraDevice*>(&device) != nullptr;
  }

  void checkAvailable(const AVCaptureDevice& device) override {
    const auto cameras = listCameras();
    if (std::none_of(cameras.begin(), cameras.end(),
                     [&](const CameraNode& camera) { return camera.name == device.uniqueID(); })) {
      throw SystemError(ErrorDomain::mediaCapture, MediaCaptureCode::noSuchDevice,
                        "The camera \u201C" + device.localizedName() +
                            "\u201D is no longer available");
    }
  }

  std::unique_ptr<Capture::DeviceRun> start(const AVCaptureDevice& device,
                                            Capture::DeviceSinks sinks) override {
    return startCameraRun(dynamic_cast<const CameraDevice&>(device).node(), std::move(sinks),
                          *audio_);
  }

private:
  const std::shared_ptr<AudioCaptureFactory> audio_;
};

} // namespace

std::shared_ptr<Capture::DeviceBackend>
makeCameraBackend(std::shared_ptr<AudioCaptureFactory> audio) {
  return std::make_shared<CameraBackend>(std::move(audio));
}

} // namespace Platform::Linux::Camera

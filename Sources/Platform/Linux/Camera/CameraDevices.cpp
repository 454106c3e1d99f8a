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

std::vector<CameraNode> listCameras(PipeWire::Daemon& pipeWire) {
  const auto graph = PipeWire::readGraph(pipeWire, cameraMediaClasses(), listingPatience);
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
  CameraBackend(std::shared_ptr<AudioCaptureFactory> audio,
                std::shared_ptr<PipeWire::Daemon> pipeWire)
      : audio_(std::move(audio)), pipeWire_(std::move(pipeWire)) {}

  std::vector<CaptureDeviceRef> discoverDevices(const std::vector<AVCaptureDeviceType>& deviceTypes,
                                                std::optional<MediaType> mediaType,
                                                AVCaptureDevicePosition position) override {
    if (std::find(deviceTypes.begin(), deviceTypes.end(), AVCaptureDeviceType::external) ==
            deviceTypes.end() ||
        (mediaType && *mediaType != MediaType::video)) {
      return {};
    }
    std::vector<CaptureDeviceRef> devices;
    for (CameraNode& camera : listCameras(*pipeWire_)) {
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
    const auto cameras = listCameras(*pipeWire_);
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
                          *audio_, pipeWire_);
  }

private:
  const std::shared_ptr<AudioCaptureFactory> audio_;
  const std::shared_ptr<PipeWire::Daemon> pipeWire_;
};

} // namespace

std::shared_ptr<Capture::DeviceBackend>
makeCameraBackend(std::shared_ptr<AudioCaptureFactory> audio,
                  std::shared_ptr<PipeWire::Daemon> pipeWire) {
  return std::make_shared<CameraBackend>(std::move(audio), std::move(pipeWire));
}

} // namespace Platform::Linux::Camera

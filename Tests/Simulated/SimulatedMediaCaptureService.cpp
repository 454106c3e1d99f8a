#include "Simulated/SimulatedMediaCaptureService.h"

#include "Simulated/RaiseError.h"
#include "Simulated/SimulatedCaptureSession.h"
#include "Simulated/World.h"

#include <algorithm>

namespace Platform::Simulated {

namespace {

std::string typeName(AVCaptureDeviceType type) {
  switch (type) {
  case AVCaptureDeviceType::microphone:
    return "microphone";
  case AVCaptureDeviceType::external:
    return "external";
  }
  return "unknown";
}

std::string discoveryEntry(const std::vector<AVCaptureDeviceType>& deviceTypes,
                           std::optional<MediaType> mediaType) {
  std::string entry = "discoverDevices(";
  for (std::size_t i = 0; i < deviceTypes.size(); ++i) {
    entry += (i == 0 ? "" : ", ") + typeName(deviceTypes[i]);
  }
  entry += "; ";
  entry += !mediaType ? "any" : *mediaType == MediaType::audio ? "audio" : "video";
  return entry + ")";
}

bool asks(const std::vector<AVCaptureDeviceType>& deviceTypes, AVCaptureDeviceType type) {
  return std::find(deviceTypes.begin(), deviceTypes.end(), type) != deviceTypes.end();
}

} // namespace

SimulatedMediaCaptureService::SimulatedMediaCaptureService(std::shared_ptr<World> world)
    : world_(std::move(world)) {}

std::vector<CaptureDeviceRef>
SimulatedMediaCaptureService::discoverDevices(const std::vector<AVCaptureDeviceType>& deviceTypes,
                                              std::optional<MediaType> mediaType,
                                              AVCaptureDevicePosition /*position*/) {
  world_->callLog.append(discoveryEntry(deviceTypes, mediaType));
  std::lock_guard lock(world_->mutex);
  std::vector<CaptureDeviceRef> devices;
  if (asks(deviceTypes, AVCaptureDeviceType::microphone) && mediaType != MediaType::video) {
    for (const DeviceDescription& device : world_->audioDevices) {
      devices.push_back(std::make_shared<SimulatedCaptureDevice>(device));
    }
  }
  if (asks(deviceTypes, AVCaptureDeviceType::external) && mediaType != MediaType::audio &&
      world_->allowScreenCaptureDevicesCalls > 0) {
    for (const DeviceDescription& device : world_->externalDevices) {
      devices.push_back(std::make_shared<SimulatedCaptureDevice>(device));
    }
  }
  return devices;
}

std::shared_ptr<AVCaptureDeviceInput>
SimulatedMediaCaptureService::makeDeviceInput(const CaptureDeviceRef& device) {
  const std::string uniqueID = device ? device->uniqueID() : std::string();
  world_->callLog.append("makeDeviceInput(" + uniqueID + ")");
  const ErrorRef failure = world_->read([&uniqueID](const World& world) -> ErrorRef {
    const auto found = world.failures.deviceInputs.find(uniqueID);
    return found == world.failures.deviceInputs.end() ? nullptr : found->second;
  });
  if (failure) {
    raise(failure);
  }
  if (!device) {
    raise(makeError(ErrorDomain::mediaCapture, -11814, "No capture device was given"));
  }
  return std::make_shared<SimulatedDeviceInput>(device);
}

std::shared_ptr<AVCaptureSession> SimulatedMediaCaptureService::makeCaptureSession() {
  world_->callLog.append("makeCaptureSession");
  auto session = std::make_shared<SimulatedCaptureSession>(world_);
  {
    std::lock_guard lock(world_->mutex);
    world_->captureSessions.push_back(session);
  }
  world_->objectMade.notify_all();
  return session;
}

CaptureOutputRef SimulatedMediaCaptureService::makeAudioDataOutput() {
  world_->callLog.append("makeAudioDataOutput");
  return std::make_shared<SimulatedCaptureOutput>(world_, CaptureOutputKind::audioData);
}

CaptureOutputRef SimulatedMediaCaptureService::makeVideoDataOutput() {
  world_->callLog.append("makeVideoDataOutput");
  return std::make_shared<SimulatedCaptureOutput>(world_, CaptureOutputKind::videoData);
}

void SimulatedMediaCaptureService::allowScreenCaptureDevices() {
  world_->callLog.append("allowScreenCaptureDevices");
  std::lock_guard lock(world_->mutex);
  ++world_->allowScreenCaptureDevicesCalls;
}

} // namespace Platform::Simulated

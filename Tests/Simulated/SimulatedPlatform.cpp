#include "Simulated/SimulatedPlatform.h"

#include "Simulated/SimulatedMediaCaptureService.h"
#include "Simulated/SimulatedMediaWritingService.h"
#include "Simulated/SimulatedScreenCaptureService.h"
#include "Simulated/SimulatedSystemServices.h"
#include "Simulated/World.h"

#include <algorithm>

namespace Platform::Simulated {

namespace {

template <typename Object>
std::shared_ptr<Object> waitForObject(World& world,
                                      const std::vector<std::shared_ptr<Object>>& objects,
                                      std::size_t index, std::chrono::milliseconds timeout) {
  std::unique_lock lock(world.mutex);
  if (!world.objectMade.wait_for(lock, timeout, [&] { return objects.size() > index; })) {
    return nullptr;
  }
  return objects[index];
}

} // namespace

SimulatedPlatform::SimulatedPlatform(SampleGeneration generation)
    : world_(std::make_shared<World>(generation)),
      services_{std::make_shared<SimulatedScreenCaptureService>(world_),
                std::make_shared<SimulatedMediaCaptureService>(world_),
                std::make_shared<SimulatedMediaWritingService>(world_),
                std::make_shared<SimulatedSystemServices>(world_)} {}

SimulatedPlatform::~SimulatedPlatform() {
  // The objects made hold the world, so the world's record of them would keep
  // both alive for good. Only this object reads the record; drop it, outside
  // the lock, as their destructors stop generators.
  std::vector<std::shared_ptr<SimulatedStream>> streams;
  std::vector<std::shared_ptr<SimulatedCaptureSession>> captureSessions;
  std::vector<std::shared_ptr<SimulatedAssetWriter>> writers;
  {
    std::lock_guard lock(world_->mutex);
    streams.swap(world_->streams);
    captureSessions.swap(world_->captureSessions);
    writers.swap(world_->writers);
  }
}

Services SimulatedPlatform::services() const {
  return services_;
}

void SimulatedPlatform::addDisplay(SCDisplay display, std::optional<CGDisplayMode> mode) {
  std::lock_guard lock(world_->mutex);
  world_->displays.push_back({display, mode});
}

void SimulatedPlatform::setMainDisplayID(std::uint32_t displayID) {
  std::lock_guard lock(world_->mutex);
  world_->mainDisplayID = displayID;
}

void SimulatedPlatform::addScreen(NSScreen screen) {
  std::lock_guard lock(world_->mutex);
  world_->screens.push_back(std::move(screen));
}

void SimulatedPlatform::addWindow(SCWindow window) {
  std::lock_guard lock(world_->mutex);
  world_->windows.push_back(std::move(window));
}

void SimulatedPlatform::addAudioDevice(DeviceDescription device) {
  std::lock_guard lock(world_->mutex);
  world_->audioDevices.push_back(std::move(device));
}

void SimulatedPlatform::addExternalDevice(DeviceDescription device) {
  std::lock_guard lock(world_->mutex);
  world_->externalDevices.push_back(std::move(device));
}

void SimulatedPlatform::setCapabilities(Capabilities capabilities) {
  std::lock_guard lock(world_->mutex);
  world_->capabilities = capabilities;
}

void SimulatedPlatform::setMicrophoneAuthorizationStatus(std::int64_t status) {
  std::lock_guard lock(world_->mutex);
  world_->microphoneAuthorizationStatus = status;
}

void SimulatedPlatform::setMicrophoneAccessAnswer(bool granted) {
  std::lock_guard lock(world_->mutex);
  world_->microphoneAccessAnswer = granted;
}

void SimulatedPlatform::setScreenCapturePreflight(bool allowed) {
  std::lock_guard lock(world_->mutex);
  world_->screenCapturePreflight = allowed;
}

void SimulatedPlatform::setScreenCaptureRequestAnswer(bool granted) {
  std::lock_guard lock(world_->mutex);
  world_->screenCaptureRequestAnswer = granted;
}

void SimulatedPlatform::setOpenURLAnswer(bool opens) {
  std::lock_guard lock(world_->mutex);
  world_->openURLAnswer = opens;
}

void SimulatedPlatform::setMainBundle(std::optional<Bundle> bundle) {
  std::lock_guard lock(world_->mutex);
  world_->mainBundle = std::move(bundle);
}

void SimulatedPlatform::addBundle(Bundle bundle) {
  std::lock_guard lock(world_->mutex);
  world_->bundles.push_back(std::move(bundle));
}

void SimulatedPlatform::setOutputSettingsAssistantAvailable(bool available) {
  std::lock_guard lock(world_->mutex);
  world_->assistantAvailable = available;
}

void SimulatedPlatform::setOutputSettingsAssistantReturnsSettings(bool returnsSettings) {
  std::lock_guard lock(world_->mutex);
  world_->assistantReturnsSettings = returnsSettings;
}

void SimulatedPlatform::setVideoFormatDescriptionAvailable(bool available) {
  std::lock_guard lock(world_->mutex);
  world_->videoFormatDescriptionAvailable = available;
}

void SimulatedPlatform::setKeepsAppendedSamples(bool keeps) {
  std::lock_guard lock(world_->mutex);
  world_->keepsAppendedSamples = keeps;
}

void SimulatedPlatform::failShareableContent(ErrorRef error) {
  std::lock_guard lock(world_->mutex);
  world_->failures.shareableContent = std::move(error);
}

void SimulatedPlatform::refuseStreamOutput(SCStreamOutputType type, ErrorRef error) {
  std::lock_guard lock(world_->mutex);
  world_->failures.streamOutputs[type] = std::move(error);
}

void SimulatedPlatform::failStreamStart(ErrorRef error) {
  std::lock_guard lock(world_->mutex);
  world_->failures.streamStart = std::move(error);
}

void SimulatedPlatform::holdStreamStarts() {
  std::lock_guard lock(world_->mutex);
  world_->streamStartsHeld = true;
}

void SimulatedPlatform::failDeviceInput(const std::string& uniqueID, ErrorRef error) {
  std::lock_guard lock(world_->mutex);
  world_->failures.deviceInputs[uniqueID] = std::move(error);
}

void SimulatedPlatform::refuseCaptureSessionInputs(bool refuse) {
  std::lock_guard lock(world_->mutex);
  world_->failures.refuseCaptureSessionInputs = refuse;
}

void SimulatedPlatform::refuseCaptureSessionOutputs(bool refuse) {
  std::lock_guard lock(world_->mutex);
  world_->failures.refuseCaptureSessionOutputs = refuse;
}

void SimulatedPlatform::failCaptureSessionStart(ErrorRef error) {
  std::lock_guard lock(world_->mutex);
  world_->failures.captureSessionStart = std::move(error);
}

void SimulatedPlatform::failAssetWriterCreation(ErrorRef error) {
  std::lock_guard lock(world_->mutex);
  world_->failures.assetWriterCreation = std::move(error);
}

void SimulatedPlatform::refuseWriterInputs(MediaType mediaType, bool refuse) {
  std::lock_guard lock(world_->mutex);
  world_->failures.refusedWriterInputs[mediaType] = refuse;
}

void SimulatedPlatform::refuseWriterInputAtCall(std::optional<std::size_t> callIndex) {
  std::lock_guard lock(world_->mutex);
  world_->failures.refusedWriterInputCall = callIndex;
}

void SimulatedPlatform::failStartWriting(ErrorRef error) {
  std::lock_guard lock(world_->mutex);
  world_->failures.startWriting = std::move(error);
}

void SimulatedPlatform::failFinishWriting(ErrorRef error) {
  std::lock_guard lock(world_->mutex);
  world_->failures.finishWriting = std::move(error);
}

void SimulatedPlatform::clearFailures() {
  std::lock_guard lock(world_->mutex);
  world_->failures = Failures{};
}

CallLog& SimulatedPlatform::callLog() const {
  return world_->callLog;
}

std::vector<std::shared_ptr<SimulatedStream>> SimulatedPlatform::streams() const {
  return world_->read([](const World& world) { return world.streams; });
}

std::vector<std::shared_ptr<SimulatedCaptureSession>> SimulatedPlatform::captureSessions() const {
  return world_->read([](const World& world) { return world.captureSessions; });
}

std::vector<std::shared_ptr<SimulatedAssetWriter>> SimulatedPlatform::writers() const {
  return world_->read([](const World& world) { return world.writers; });
}

std::shared_ptr<SimulatedStream>
SimulatedPlatform::waitForStream(std::size_t index, std::chrono::milliseconds timeout) const {
  return waitForObject(*world_, world_->streams, index, timeout);
}

std::shared_ptr<SimulatedCaptureSession>
SimulatedPlatform::waitForCaptureSession(std::size_t index,
                                         std::chrono::milliseconds timeout) const {
  return waitForObject(*world_, world_->captureSessions, index, timeout);
}

std::shared_ptr<SimulatedAssetWriter>
SimulatedPlatform::waitForWriter(std::size_t index, std::chrono::milliseconds timeout) const {
  return waitForObject(*world_, world_->writers, index, timeout);
}

std::vector<ActivityRecord> SimulatedPlatform::activities() const {
  return world_->read([](const World& world) { return world.activities; });
}

std::size_t SimulatedPlatform::activeActivityCount() const {
  return world_->read([](const World& world) {
    return static_cast<std::size_t>(
        std::count_if(world.activities.begin(), world.activities.end(),
                      [](const ActivityRecord& activity) { return !activity.isEnded; }));
  });
}

std::vector<std::string> SimulatedPlatform::openedURLs() const {
  return world_->read([](const World& world) { return world.openedURLs; });
}

int SimulatedPlatform::microphoneAccessRequestCount() const {
  return world_->read([](const World& world) { return world.microphoneAccessRequests; });
}

int SimulatedPlatform::screenCaptureAccessRequestCount() const {
  return world_->read([](const World& world) { return world.screenCaptureAccessRequests; });
}

int SimulatedPlatform::allowScreenCaptureDevicesCount() const {
  return world_->read([](const World& world) { return world.allowScreenCaptureDevicesCalls; });
}

} // namespace Platform::Simulated

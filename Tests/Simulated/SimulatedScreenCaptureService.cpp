#include "Simulated/SimulatedScreenCaptureService.h"

#include "Simulated/RaiseError.h"
#include "Simulated/SimulatedStream.h"
#include "Simulated/World.h"

namespace Platform::Simulated {

namespace {

std::string flag(bool value) {
  return value ? "true" : "false";
}

} // namespace

SimulatedScreenCaptureService::SimulatedScreenCaptureService(std::shared_ptr<World> world)
    : world_(std::move(world)) {}

SCShareableContent SimulatedScreenCaptureService::shareableContent(bool excludeDesktopWindows,
                                                                   bool onScreenWindowsOnly) {
  world_->callLog.append("shareableContent(" + flag(excludeDesktopWindows) + ", " +
                         flag(onScreenWindowsOnly) + ")");
  std::unique_lock lock(world_->mutex);
  if (const ErrorRef failure = world_->failures.shareableContent) {
    lock.unlock();
    raise(failure);
  }
  SCShareableContent content;
  for (const ScriptedDisplay& scripted : world_->displays) {
    content.displays.push_back(scripted.display);
  }
  for (const SCWindow& window : world_->windows) {
    if ((excludeDesktopWindows && window.windowLayer < 0) ||
        (onScreenWindowsOnly && !window.isOnScreen)) {
      continue;
    }
    content.windows.push_back(window);
  }
  return content;
}

std::shared_ptr<SCStream>
SimulatedScreenCaptureService::makeStream(const SCContentFilter& filter,
                                          const SCStreamConfiguration& configuration,
                                          std::weak_ptr<SCStreamDelegate> delegate) {
  world_->callLog.append("makeStream");
  auto stream =
      std::make_shared<SimulatedStream>(world_, filter, configuration, std::move(delegate));
  {
    std::lock_guard lock(world_->mutex);
    world_->streams.push_back(stream);
  }
  world_->objectMade.notify_all();
  return stream;
}

std::uint32_t SimulatedScreenCaptureService::mainDisplayID() {
  std::lock_guard lock(world_->mutex);
  if (world_->mainDisplayID) {
    return *world_->mainDisplayID;
  }
  return world_->displays.empty() ? 0 : world_->displays.front().display.displayID;
}

std::optional<CGDisplayMode> SimulatedScreenCaptureService::displayMode(std::uint32_t displayID) {
  std::lock_guard lock(world_->mutex);
  for (const ScriptedDisplay& scripted : world_->displays) {
    if (scripted.display.displayID == displayID) {
      return scripted.mode;
    }
  }
  return std::nullopt;
}

std::vector<NSScreen> SimulatedScreenCaptureService::screens() {
  std::lock_guard lock(world_->mutex);
  return world_->screens;
}

} // namespace Platform::Simulated

#include "Simulated/SimulatedSystemServices.h"

#include "Platform/Dispatch.h"
#include "Simulated/World.h"

#include <algorithm>

namespace Platform::Simulated {

namespace {

// Marks its activity ended when destroyed. Holds the world weakly: a token
// may outlive the platform in a test that forgot to release it.
class SimulatedActivityToken final : public ActivityToken {
public:
  SimulatedActivityToken(std::weak_ptr<World> world, std::size_t index)
      : world_(std::move(world)), index_(index) {}

  ~SimulatedActivityToken() override {
    const auto world = world_.lock();
    if (!world) {
      return;
    }
    std::string reason;
    {
      std::lock_guard lock(world->mutex);
      world->activities[index_].isEnded = true;
      reason = world->activities[index_].reason;
    }
    world->callLog.append("endActivity(" + reason + ")");
  }

private:
  const std::weak_ptr<World> world_;
  const std::size_t index_;
};

} // namespace

SimulatedSystemServices::SimulatedSystemServices(std::shared_ptr<World> world)
    : world_(std::move(world)) {}

CMTime SimulatedSystemServices::hostTime() {
  if (world_->generation == SampleGeneration::automatic) {
    return hostTimeNow();
  }
  return world_->read([](const World& world) { return world.clock; });
}

Capabilities SimulatedSystemServices::capabilities() {
  return world_->read([](const World& world) { return world.capabilities; });
}

std::int64_t SimulatedSystemServices::microphoneAuthorizationStatus() {
  return world_->read([](const World& world) { return world.microphoneAuthorizationStatus; });
}

void SimulatedSystemServices::requestMicrophoneAccess(
    std::function<void(bool granted)> completion) {
  world_->callLog.append("requestMicrophoneAccess");
  bool granted = false;
  {
    std::lock_guard lock(world_->mutex);
    ++world_->microphoneAccessRequests;
    granted = world_->microphoneAccessAnswer;
  }
  startTask([completion = std::move(completion), granted] { completion(granted); });
}

bool SimulatedSystemServices::preflightScreenCaptureAccess() {
  return world_->read([](const World& world) { return world.screenCapturePreflight; });
}

bool SimulatedSystemServices::requestScreenCaptureAccess() {
  world_->callLog.append("requestScreenCaptureAccess");
  std::lock_guard lock(world_->mutex);
  ++world_->screenCaptureAccessRequests;
  return world_->screenCaptureRequestAnswer;
}

bool SimulatedSystemServices::openURL(const std::string& url) {
  world_->callLog.append("openURL(" + url + ")");
  std::lock_guard lock(world_->mutex);
  world_->openedURLs.push_back(url);
  return world_->openURLAnswer;
}

std::optional<Bundle> SimulatedSystemServices::mainBundle() {
  return world_->read([](const World& world) { return world.mainBundle; });
}

std::optional<Bundle> SimulatedSystemServices::bundleAtPath(const std::string& path) {
  std::lock_guard lock(world_->mutex);
  const auto found =
      std::find_if(world_->bundles.begin(), world_->bundles.end(),
                   [&path](const Bundle& bundle) { return bundle.bundlePath == path; });
  if (found == world_->bundles.end()) {
    return std::nullopt;
  }
  return *found;
}

std::unique_ptr<ActivityToken> SimulatedSystemServices::beginActivity(std::uint64_t options,
                                                                      const std::string& reason) {
  world_->callLog.append("beginActivity(" + reason + ")");
  std::lock_guard lock(world_->mutex);
  world_->activities.push_back({options, reason, false});
  return std::make_unique<SimulatedActivityToken>(world_, world_->activities.size() - 1);
}

} // namespace Platform::Simulated

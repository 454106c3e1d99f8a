#pragma once

#include "Platform/SystemServices.h"

#include <memory>

// Operating-system services answering from the scripted world, which records
// requests, opened URLs and activities.
// Thread contract: every member may be called from any thread; the
// microphone request completes on a thread of its own.

namespace Platform::Simulated {

struct World;

class SimulatedSystemServices final : public SystemServices {
public:
  explicit SimulatedSystemServices(std::shared_ptr<World> world);

  Capabilities capabilities() override;
  CMTime hostTime() override;
  std::int64_t microphoneAuthorizationStatus() override;
  void requestMicrophoneAccess(std::function<void(bool granted)> completion) override;
  bool preflightScreenCaptureAccess() override;
  bool requestScreenCaptureAccess() override;
  bool openURL(const std::string& url) override;
  std::optional<Bundle> mainBundle() override;
  std::optional<Bundle> bundleAtPath(const std::string& path) override;
  std::unique_ptr<ActivityToken> beginActivity(std::uint64_t options,
                                               const std::string& reason) override;

private:
  const std::shared_ptr<World> world_;
};

} // namespace Platform::Simulated

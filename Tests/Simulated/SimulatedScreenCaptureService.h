#pragma once

#include "Platform/ScreenCapture.h"

#include <memory>

// The screen-capture service over the scripted world: its displays, windows
// and screens, and streams that the world records as they are made.
// Thread contract: every member may be called from any thread.

namespace Platform::Simulated {

struct World;

class SimulatedScreenCaptureService final : public ScreenCaptureService {
public:
  explicit SimulatedScreenCaptureService(std::shared_ptr<World> world);

  // Desktop windows are those at a negative layer.
  SCShareableContent shareableContent(bool excludeDesktopWindows,
                                      bool onScreenWindowsOnly) override;
  std::shared_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                       const SCStreamConfiguration& configuration,
                                       std::weak_ptr<SCStreamDelegate> delegate) override;
  std::uint32_t mainDisplayID() override;
  std::optional<CGDisplayMode> displayMode(std::uint32_t displayID) override;
  std::vector<NSScreen> screens() override;

private:
  const std::shared_ptr<World> world_;
};

} // namespace Platform::Simulated

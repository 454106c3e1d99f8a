#include "Platform/Linux/Wayland/WaylandScreenCapture.h"

#include "Platform/Linux/Wayland/ScreenCastPortal.h"
#include "Platform/Linux/Wayland/WaylandOutputs.h"
#include "Platform/Linux/Wayland/WaylandService.h"
#include "Platform/Log.h"

#include <cstdlib>
#include <string_view>

namespace Platform::Linux {

namespace {

// The size the picker entry claims before anything is picked: the first
// output's, or a common monitor's when none is known.
constexpr CGRect fallbackPickerFrame{0, 0, 1920, 1080};

SCDisplay displayOf(const Wayland::WaylandOutput& output) {
  const double width = output.pixelWidth / output.scale;
  const double height = output.pixelHeight / output.scale;
  return SCDisplay{output.id, static_cast<std::int64_t>(width), static_cast<std::int64_t>(height),
                   CGRect{0, 0, width, height}};
}

class WaylandScreenCaptureService final : public ScreenCaptureService {
public:
  WaylandScreenCaptureService(std::shared_ptr<ScreenCaptureService> xwayland,
                              Wayland::CastStreamMaker makeCastStream)
      : xwayland_(std::move(xwayland)), makeCastStream_(std::move(makeCastStream)) {}

  SCShareableContent shareableContent(bool excludeDesktopWindows,
                                      bool onScreenWindowsOnly) override {
    SCShareableContent content;
    if (const char* display = std::getenv("DISPLAY"); display != nullptr && *display != '\0') {
      try {
        content.windows =
            xwayland_->shareableContent(excludeDesktopWindows, onScreenWindowsOnly).windows;
      } catch (const Error& error) {
        Platform::log(LogLevel::warning,
                      std::string("XWayland windows cannot be listed: ") + error.what());
      }
    }
    for (const auto& output : Wayland::readWaylandOutputs()) {
      content.displays.push_back(displayOf(output));
    }
    SCWindow picker;
    picker.windowID = desktopPickerWindowID;
    picker.title = desktopPickerWindowTitle;
    picker.frame = content.displays.empty() ? fallbackPickerFrame : content.displays.front().frame;
    picker.isOnScreen = true;
    picker.owningApplication = SCRunningApplication{"Desktop picker", "", 0};
    content.windows.push_back(std::move(picker));
    return content;
  }

  std::shared_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                       const SCStreamConfiguration& configuration,
                                       std::weak_ptr<SCStreamDelegate> delegate) override {
    const bool picked = filter.window() && filter.window()->windowID == desktopPickerWindowID;
    if (filter.window() && !picked) {
      return xwayland_->makeStream(filter, configuration, std::move(delegate));
    }
    if (!makeCastStream_) {
      throw SystemError(ErrorDomain::screenCapture, -3802,
                        "This screen capture service lists only; it casts no screen");
    }
    return makeCastStream_(filter, configuration, std::move(delegate));
  }

  std::uint32_t mainDisplayID() override {
    const auto outputs = Wayland::readWaylandOutputs();
    return outputs.empty() ? 0 : outputs.front().id;
  }

  std::optional<CGDisplayMode> displayMode(std::uint32_t displayID) override {
    for (const auto& output : Wayland::readWaylandOutputs()) {
      if (output.id == displayID) {
        return CGDisplayMode{output.pixelWidth, output.pixelHeight,
                             output.pixelWidth / output.scale, output.pixelHeight / output.scale};
      }
    }
    return std::nullopt;
  }

  std::vector<NSScreen> screens() override {
    std::vector<NSScreen> screens;
    for (const auto& output : Wayland::readWaylandOutputs()) {
      screens.push_back(NSScreen{output.id, output.name});
    }
    return screens;
  }

private:
  const std::shared_ptr<ScreenCaptureService> xwayland_;
  const Wayland::CastStreamMaker makeCastStream_;
};

} // namespace

std::shared_ptr<ScreenCaptureService>
Wayland::makeWaylandService(std::shared_ptr<ScreenCaptureService> xwayland,
                            CastStreamMaker makeCastStream) {
  return std::make_shared<WaylandScreenCaptureService>(std::move(xwayland),
                                                       std::move(makeCastStream));
}

std::shared_ptr<ScreenCaptureService>
makeWaylandListingService(std::shared_ptr<ScreenCaptureService> xwayland) {
  return Wayland::makeWaylandService(std::move(xwayland), nullptr);
}

bool isWaylandSession() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  const char* type = std::getenv("XDG_SESSION_TYPE");
  return (display != nullptr && *display != '\0') ||
         (type != nullptr && std::string_view(type) == "wayland");
}

bool canCastScreen() {
  return Wayland::screenCastPortalAvailable();
}

} // namespace Platform::Linux

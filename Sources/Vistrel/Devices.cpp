#include "Vistrel/Devices.h"

#include "Platform/Platform.h"
#include "Vistrel/Displays.h"

#include <limits>

namespace Vistrel {

namespace Devices {

std::vector<Screen> screen() {
  const Platform::SCShareableContent content =
      Platform::screenCapture().shareableContent(false, false);
  std::vector<Screen> screens;
  screens.reserve(content.displays.size());
  for (const Platform::SCDisplay& display : content.displays) {
    const std::optional<Platform::NSScreen> desktopScreen = nsScreen(display);
    screens.push_back(Screen{
        .id = std::to_string(display.displayID),
        .name = desktopScreen ? desktopScreen->localizedName : "Unknown Display",
        .width = display.width,
        .height = display.height,
        .frame = toRect(display.frame),
    });
  }
  return screens;
}

std::vector<Window> window(bool excludeDesktopWindows, bool onScreenWindowsOnly) {
  const Platform::SCShareableContent content =
      Platform::screenCapture().shareableContent(excludeDesktopWindows, onScreenWindowsOnly);
  std::vector<Window> windows;
  windows.reserve(content.windows.size());
  for (const Platform::SCWindow& window : content.windows) {
    const auto& application = window.owningApplication;
    windows.push_back(Window{
        .id = std::to_string(window.windowID),
        .title = window.title,
        .appName = application ? std::optional(application->applicationName) : std::nullopt,
        .appBundleIdentifier =
            application ? std::optional(application->bundleIdentifier) : std::nullopt,
        .isActive = window.isActive,
        .isOnScreen = window.isOnScreen,
        .layer = window.windowLayer,
        .frame = toRect(window.frame),
    });
  }
  return windows;
}

std::vector<Audio> audio() {
  std::vector<Audio> devices;
  for (const auto& device : Platform::mediaCapture().discoverDevices(
           {Platform::AVCaptureDeviceType::microphone, Platform::AVCaptureDeviceType::external},
           Platform::MediaType::audio, Platform::AVCaptureDevicePosition::unspecified)) {
    devices.push_back(Audio{.id = device->uniqueID(), .name = device->localizedName()});
  }
  return devices;
}

std::vector<IOS> iOS() {
  enableDalDevices();
  std::vector<IOS> devices;
  for (const auto& device : Platform::mediaCapture().discoverDevices(
           {Platform::AVCaptureDeviceType::external}, std::nullopt,
           Platform::AVCaptureDevicePosition::unspecified)) {
    devices.push_back(IOS{.id = device->uniqueID(), .name = device->localizedName()});
  }
  return devices;
}

} // namespace Devices

std::optional<std::uint32_t> displayID(const Platform::NSScreen& screen) {
  if (!screen.screenNumber || *screen.screenNumber < 0 ||
      *screen.screenNumber > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(*screen.screenNumber);
}

std::optional<Platform::NSScreen> nsScreen(const Platform::SCDisplay& display) {
  for (Platform::NSScreen& screen : Platform::screenCapture().screens()) {
    if (displayID(screen) == display.displayID) {
      return std::move(screen);
    }
  }
  return std::nullopt;
}

std::int64_t scaleFactor(const Platform::SCDisplay& display) {
  const std::optional<Platform::CGDisplayMode> mode =
      Platform::screenCapture().displayMode(display.displayID);
  if (!mode || mode->width == 0) {
    return 1;
  }
  // INT64_MIN / -1 is the one quotient that overflows.
  if (mode->width == -1 && mode->pixelWidth == std::numeric_limits<std::int64_t>::min()) {
    return 1;
  }
  return mode->pixelWidth / mode->width;
}

void enableDalDevices() {
  Platform::mediaCapture().allowScreenCaptureDevices();
}

} // namespace Vistrel

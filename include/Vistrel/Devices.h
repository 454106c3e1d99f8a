#pragma once

#include "Platform/Geometry.h"
#include "Platform/ScreenCapture.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// What could be recorded: displays, windows, audio input devices and
// attached external devices, as immutable records whose `id` is the text
// RecordingOptions::targetID or microphoneDeviceID expects. The queries hold
// no state and may be called from any thread; screen() and window() block
// until the platform answers and throw its error unchanged.

namespace Vistrel::Devices {

struct Screen {
  std::string id;
  std::string name;
  std::int64_t width = 0;  // points
  std::int64_t height = 0; // points
  Platform::CGRect frame;
  friend bool operator==(const Screen&, const Screen&) = default;
};

struct Window {
  std::string id;
  std::optional<std::string> title;
  std::optional<std::string> appName;
  std::optional<std::string> appBundleIdentifier;
  bool isActive = false;
  bool isOnScreen = false;
  std::int64_t layer = 0;
  Platform::CGRect frame;
  friend bool operator==(const Window&, const Window&) = default;
};

struct Audio {
  std::string id;
  std::string name;
  friend bool operator==(const Audio&, const Audio&) = default;
};

struct IOS {
  std::string id;
  std::string name;
  friend bool operator==(const IOS&, const IOS&) = default;
};

std::vector<Screen> screen();
std::vector<Window> window(bool excludeDesktopWindows = true, bool onScreenWindowsOnly = true);
std::vector<Audio> audio();
std::vector<IOS> iOS();

} // namespace Vistrel::Devices

namespace Vistrel {

// The display number of a desktop screen; absent when it has none or it does
// not fit an unsigned 32-bit identifier.
std::optional<std::uint32_t> displayID(const Platform::NSScreen& screen);

// The first desktop screen with the display's identifier, if any.
std::optional<Platform::NSScreen> nsScreen(const Platform::SCDisplay& display);

// Pixels per point of the display's current mode, by integer division; 1
// when there is no mode or the mode has no width in points.
std::int64_t scaleFactor(const Platform::SCDisplay& display);

// Lets attached external (screen-capture) devices be discovered. Harmless to
// call again.
void enableDalDevices();

} // namespace Vistrel

namespace Vistrel::Devices::Detail {
std::size_t combineHash(std::size_t seed, std::size_t value);
std::size_t hashRect(const Platform::CGRect& rect);
} // namespace Vistrel::Devices::Detail

template <> struct std::hash<Vistrel::Devices::Screen> {
  std::size_t operator()(const Vistrel::Devices::Screen& screen) const noexcept;
};
template <> struct std::hash<Vistrel::Devices::Window> {
  std::size_t operator()(const Vistrel::Devices::Window& window) const noexcept;
};
template <> struct std::hash<Vistrel::Devices::Audio> {
  std::size_t operator()(const Vistrel::Devices::Audio& audio) const noexcept;
};
template <> struct std::hash<Vistrel::Devices::IOS> {
  std::size_t operator()(const Vistrel::Devices::IOS& device) const noexcept;
};

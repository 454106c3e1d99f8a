#pragma once

#include "Vistrel/Export.h"
#include "Vistrel/Rect.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

/// @file
/// What could be recorded: displays, windows, audio input devices and
/// attached capture devices.

/// What could be recorded, as immutable records whose `id` is the text
/// RecordingOptions::targetID or RecordingOptions::microphoneDeviceID
/// expects. The queries hold no state and may be called from any thread.
/// On Linux, displays and windows come from the X server named by DISPLAY,
/// audio devices from the PulseAudio server.
namespace Vistrel::Devices {

/// One display.
struct Screen {
  std::string id;          ///< the display's number, in decimal
  std::string name;        ///< its name, or "Unknown Display"
  std::int64_t width = 0;  ///< width in points
  std::int64_t height = 0; ///< height in points
  Rect frame;              ///< position and size on the desktop, in points
  /// Equal when every field is.
  friend bool operator==(const Screen&, const Screen&) = default;
};

/// One window.
struct Window {
  std::string id;                                 ///< the window's number, in decimal
  std::optional<std::string> title;               ///< absent when it has none
  std::optional<std::string> appName;             ///< the owning application's name
  std::optional<std::string> appBundleIdentifier; ///< the owning application's identifier
  bool isActive = false;                          ///< whether it has the focus
  bool isOnScreen = false;                        ///< whether it is shown now
  std::int64_t layer = 0;                         ///< its stacking layer
  Rect frame;                                     ///< position and size, in points
  /// Equal when every field is.
  friend bool operator==(const Window&, const Window&) = default;
};

/// One audio input device (a microphone).
struct Audio {
  std::string id;   ///< what RecordingOptions::microphoneDeviceID expects
  std::string name; ///< a name to show a person
  /// Equal when every field is.
  friend bool operator==(const Audio&, const Audio&) = default;
};

/// One attached capture device (Target::externalDevice).
struct IOS {
  std::string id;   ///< what RecordingOptions::targetID expects
  std::string name; ///< a name to show a person
  /// Equal when every field is.
  friend bool operator==(const IOS&, const IOS&) = default;
};

/// The displays, in the platform's order. Blocks until the platform answers.
/// @throws std::exception the platform's own error, unchanged (for example
///   when the display server cannot be reached); its what() says why.
VISTREL_EXPORT std::vector<Screen> screen();
/// The windows, in the platform's order, filtered only by the two flags.
/// Blocks until the platform answers.
/// @throws std::exception the platform's own error, unchanged.
VISTREL_EXPORT std::vector<Window> window(bool excludeDesktopWindows = true,
                                          bool onScreenWindowsOnly = true);
/// The audio input devices; empty when there are none or the audio server
/// cannot be reached. Never throws.
VISTREL_EXPORT std::vector<Audio> audio();
/// The attached capture devices; empty when there are none. Never throws.
VISTREL_EXPORT std::vector<IOS> iOS();

} // namespace Vistrel::Devices

namespace Vistrel {

/// Lets attached external (screen-capture) devices be discovered. Harmless
/// to call again.
VISTREL_EXPORT void enableDalDevices();

} // namespace Vistrel

/// @cond internal
namespace Vistrel::Devices::Detail {
VISTREL_EXPORT std::size_t combineHash(std::size_t seed, std::size_t value);
VISTREL_EXPORT std::size_t hashRect(const Rect& rect);
} // namespace Vistrel::Devices::Detail

template <> struct std::hash<Vistrel::Devices::Screen> {
  VISTREL_EXPORT std::size_t operator()(const Vistrel::Devices::Screen& screen) const noexcept;
};
template <> struct std::hash<Vistrel::Devices::Window> {
  VISTREL_EXPORT std::size_t operator()(const Vistrel::Devices::Window& window) const noexcept;
};
template <> struct std::hash<Vistrel::Devices::Audio> {
  VISTREL_EXPORT std::size_t operator()(const Vistrel::Devices::Audio& audio) const noexcept;
};
template <> struct std::hash<Vistrel::Devices::IOS> {
  VISTREL_EXPORT std::size_t operator()(const Vistrel::Devices::IOS& device) const noexcept;
};
/// @endcond

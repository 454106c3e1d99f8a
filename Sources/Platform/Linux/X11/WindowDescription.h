#pragma once

#include "Platform/Linux/X11/TextDecoding.h"
#include "Platform/ScreenCapture.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// From what the X server says about client windows to the window records of
// shareable content: title, owning application, layer, on-screen state and the
// two query filters. Pure functions over plain values, any thread.

namespace Platform::Linux::X11 {

// _NET_WM_WINDOW_TYPE values this backend tells apart.
enum class WindowType {
  normal,
  desktop,
  dock,
  toolbar,
  menu,
  utility,
  splash,
  dialog,
  dropdownMenu,
  popupMenu,
  tooltip,
  notification,
  combo,
  dnd,
};

struct WindowClass {
  std::string instanceName;
  std::string className;
};

// Everything read from the server about one client window.
struct WindowFacts {
  std::uint32_t id = 0;
  std::optional<TextProperty> netWmName;
  std::optional<TextProperty> wmName;
  std::optional<WindowClass> wmClass;
  std::optional<std::int32_t> pid;
  std::vector<WindowType> types; // in the client's order of preference
  bool stateAbove = false;
  bool stateBelow = false;
  bool stateHidden = false;
  std::optional<std::uint32_t> desktop; // 0xFFFFFFFF: on every desktop
  bool viewable = false;
  CGRect frame;
};

// Facts of the desktop as a whole, from the root window.
struct DesktopFacts {
  std::optional<std::uint32_t> currentDesktop;
  std::optional<std::uint32_t> activeWindow;
};

// The name of a process's executable, by pid; absent when unknown.
using ProcessNameLookup = std::function<std::optional<std::string>(std::int32_t pid)>;

// Window layers, on the scale of the desktop's stacking levels: negative
// below normal windows, positive above.
namespace WindowLayer {
inline constexpr std::int64_t desktop = -2147483623;
inline constexpr std::int64_t below = -1;
inline constexpr std::int64_t normal = 0;
inline constexpr std::int64_t above = 3;
inline constexpr std::int64_t dock = 20;
inline constexpr std::int64_t popUp = 101;
} // namespace WindowLayer

std::int64_t windowLayer(const WindowFacts& window);

bool isOnScreen(const WindowFacts& window, const DesktopFacts& desktop);

// The application behind a window: the WM_CLASS class as its name and the
// instance as its identifier; without WM_CLASS, the executable of its pid.
// Absent when the window has neither.
std::optional<SCRunningApplication> owningApplication(const WindowFacts& window,
                                                      const ProcessNameLookup& processName);

SCWindow describeWindow(const WindowFacts& window, const DesktopFacts& desktop,
                        const ProcessNameLookup& processName);

// The records of `windows`, in their order. `excludeDesktopWindows` drops
// desktop and dock windows; `onScreenWindowsOnly` keeps on-screen ones.
std::vector<SCWindow> describeWindows(const std::vector<WindowFacts>& windows,
                                      const DesktopFacts& desktop, bool excludeDesktopWindows,
                                      bool onScreenWindowsOnly,
                                      const ProcessNameLookup& processName);

} // namespace Platform::Linux::X11

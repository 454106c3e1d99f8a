#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// Which windows are application windows. With an EWMH window manager the
// manager's client list says so; without one (a bare X server) the mapped
// top-level children of the root stand in, each replaced by the client window
// inside it when a reparenting manager framed it. Pure functions, any thread.

namespace Platform::Linux::X11 {

struct ChildWindow {
  std::uint32_t id = 0;
  bool hasWmState = false; // WM_STATE: a window manager manages it as a client
};

struct TopLevelWindow {
  std::uint32_t id = 0;
  bool mapped = false;
  bool overrideRedirect = false; // menus and tooltips, never clients
  bool hasWmState = false;
  bool hasClientProperties = false;  // a title or WM_CLASS: set by applications
  std::vector<ChildWindow> children; // bottom to top
};

// The client windows in the order given (bottom to top): a top-level with
// WM_STATE is a client; else its first child with WM_STATE; else, without a
// window manager, a top-level with a title or WM_CLASS is its own client. Unmapped and
// override-redirect top-levels are left out.
std::vector<std::uint32_t> selectClientWindows(const std::vector<TopLevelWindow>& topLevels);

// The window manager's list when it published one (stacking order preferred
// to mapping order; an empty list is still the manager's answer), else the
// fallback selection.
std::vector<std::uint32_t>
clientWindowsInStackingOrder(const std::optional<std::vector<std::uint32_t>>& clientListStacking,
                             const std::optional<std::vector<std::uint32_t>>& clientList,
                             const std::vector<TopLevelWindow>& topLevels);

} // namespace Platform::Linux::X11

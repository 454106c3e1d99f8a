#pragma once

#include <xcb/xcb.h>

#include <cstdint>

// What a user or a window manager does to a window, done on the display that
// DISPLAY names; each returns once the X server has handled it.

namespace TestSupport {

// Waits until the server has handled every request, then disconnects.
void syncAndClose(xcb_connection_t* connection);

void resizeWindow(std::uint32_t id, std::uint16_t width, std::uint16_t height);

// Minimizes a window the way a taskbar does (ICCCM WM_CHANGE_STATE to
// IconicState); only a window manager acts on it.
void minimizeWindow(std::uint32_t id);
// Restores a minimized window by mapping it again.
void restoreWindow(std::uint32_t id);

// Polls for up to two seconds until the window is (or is not) viewable.
bool waitUntilViewable(std::uint32_t id, bool viewable);

} // namespace TestSupport

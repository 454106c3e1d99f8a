#pragma once

#include "Platform/Linux/X11/FrameConversion.h"
#include "Platform/Linux/X11/XConnection.h"

#include <optional>

// The pointer's current cursor image and where it falls in a captured area,
// through XFixes. Absent without XFixes or when the pointer is on another
// screen. Any thread.

namespace Platform::Linux::X11 {

// `window` is the captured window (or the root), and (`offsetX`, `offsetY`)
// where the captured area starts inside it.
std::optional<CursorImage> readCursor(const XConnection& connection, xcb_window_t window,
                                      std::int32_t offsetX, std::int32_t offsetY);

// Whether the cursor drawn over an area of the given size looks different
// between two readings: moved or changed shape while touching the area.
bool cursorChangedInside(const std::optional<CursorImage>& before,
                         const std::optional<CursorImage>& after, std::int32_t width,
                         std::int32_t height);

} // namespace Platform::Linux::X11

#pragma once

#include "Platform/Geometry.h"
#include "Platform/ScreenCapture.h"
#include "Vistrel/Rect.h"

#include <cstdint>
#include <optional>

// The display accessors the engine shares with discovery, and the one
// rectangle crossing between the public records and the platform.

namespace Vistrel {

// The display number of a desktop screen; absent when it has none or it
// does not fit an unsigned 32-bit identifier.
std::optional<std::uint32_t> displayID(const Platform::NSScreen& screen);

// The first desktop screen with the display's identifier, if any.
std::optional<Platform::NSScreen> nsScreen(const Platform::SCDisplay& display);

// Pixels per point of the display's current mode, by integer division; 1
// when there is no mode or the mode has no width in points.
std::int64_t scaleFactor(const Platform::SCDisplay& display);

inline Rect toRect(const Platform::CGRect& rect) {
  return Rect{rect.x, rect.y, rect.width, rect.height};
}

inline Platform::CGRect toCGRect(const Rect& rect) {
  return Platform::CGRect{rect.x, rect.y, rect.width, rect.height};
}

} // namespace Vistrel

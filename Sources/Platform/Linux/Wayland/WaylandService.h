#pragma once

#include "Platform/ScreenCapture.h"

#include <functional>
#include <memory>

// The Wayland screen capture service apart from its screen casts: what lists
// windows and outputs links none of the portal's streaming nor PipeWire, so a
// program that only lists does not load them.

namespace Platform::Linux::Wayland {

// Makes the stream of a screen cast: of the picker entry or of a display.
using CastStreamMaker = std::function<std::shared_ptr<SCStream>(
    const SCContentFilter& filter, const SCStreamConfiguration& configuration,
    std::weak_ptr<SCStreamDelegate> delegate)>;

// A service that lists and streams XWayland windows through `xwayland` and
// casts through `makeCastStream`; without one, a cast fails with a
// Platform::Error.
std::shared_ptr<ScreenCaptureService>
makeWaylandService(std::shared_ptr<ScreenCaptureService> xwayland, CastStreamMaker makeCastStream);

} // namespace Platform::Linux::Wayland

#pragma once

#include "Platform/Geometry.h"
#include "Platform/Linux/Wayland/PipeWireFrames.h"
#include "Platform/Linux/X11/CaptureSource.h"

#include <memory>
#include <optional>

// A screen cast (a PipeWire node the desktop granted) as the content a
// capture stream grabs. The cast draws the cursor itself when asked to, so
// the stream reads no pointer here. A display cast may be cut to a rectangle
// of the display; a window cast follows the window's size.
//
// Thread contract: as CaptureSource.

namespace Platform::Linux::Wayland {

// Keeps whatever must live as long as the cast: the portal session that
// granted it; the compositor ends the cast when the session closes.
using CastLease = std::shared_ptr<void>;

// Waits for the cast's first frame, so that its size is known: the source's
// width and height are the cast's own pixels (a HiDPI screen's full
// resolution), cut. Throws Platform::Error when none comes, at once when the
// cast cannot be recorded, or when the cut misses the picture.
std::unique_ptr<X11::CaptureSource> makeScreenCastSource(std::unique_ptr<PipeWireFrames> frames,
                                                         CastLease lease,
                                                         const std::optional<CGRect>& sourceRect);

} // namespace Platform::Linux::Wayland

#pragma once

#include "Platform/Geometry.h"
#include "Platform/Linux/Capture/CaptureSource.h"
#include "Platform/Linux/PipeWire/PipeWireFrames.h"

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

// A screen cast (a PipeWire node the desktop granted) as the content a
// capture stream grabs. The cast draws the cursor itself when asked to, so
// the stream reads no pointer here. A display cast may be cut to a rectangle
// of the display; a window cast follows the window's size.
//
// When PipeWire itself goes away (a restart), the cast is asked for again
// without a dialog, through the pick the desktop remembered; meanwhile the
// last picture stands. A cast the desktop or the user ends is not asked for
// again: a user who pressed "stop sharing" meant it.
//
// Thread contract: as CaptureSource.

namespace Platform::Linux::Wayland {

// Keeps whatever must live as long as the cast: the portal session that
// granted it; the compositor ends the cast when the session closes.
using CastLease = std::shared_ptr<void>;

// The PipeWire node of a cast the portal granted.
PipeWire::VideoNode screenCastNode(std::uint32_t node);

struct Cast {
  CastLease lease; // outlives the frames: the cast ends after we stop reading
  std::unique_ptr<PipeWire::PipeWireFrames> frames;
  // The width the portal gave, in points (0 when it gave none): a HiDPI
  // screen casts more pixels than that.
  std::int32_t pointWidth = 0;
};

// Asks the desktop for the cast. With `quietly`, only a pick the desktop
// remembered will do: a request that would need the user is given up.
// Throws Platform::Error; gives up when `stop` is requested.
using CastOpener = std::function<Cast(std::stop_token stop, bool quietly)>;

// Opens the cast and waits for its first frame, so that its size is known:
// the source's width and height are the cast's own pixels (a HiDPI screen's
// full resolution), cut. Throws Platform::Error when none comes, at once
// when the cast cannot be recorded, when the cut misses the picture or the
// opening was stopped.
std::unique_ptr<Capture::CaptureSource>
makeScreenCastSource(CastOpener open, const std::optional<CGRect>& sourceRect,
                     std::stop_token stop);

} // namespace Platform::Linux::Wayland

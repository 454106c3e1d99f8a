#pragma once

#include "Platform/Linux/Capture/FrameConversion.h"
#include "Platform/Linux/X11/XConnection.h"

#include <atomic>
#include <memory>
#include <optional>

// The pointer's current cursor image and where it falls in a captured area,
// through XFixes. Absent without XFixes or when the pointer is on another
// screen.
//
// The image is fetched again only when the server reports that the cursor's
// shape changed, so a reading that finds the same shape costs one small
// round trip: it is taken at every frame interval, also while nothing moves.
//
// Thread contract: read() on one thread (the capture thread); the event
// handler may run on any thread that pumps the connection.

namespace Platform::Linux::X11 {

class CursorReader {
public:
  explicit CursorReader(std::shared_ptr<XConnection> connection);
  CursorReader(const CursorReader&) = delete;
  CursorReader& operator=(const CursorReader&) = delete;

  // `window` is the captured window (or the root), and (`offsetX`, `offsetY`)
  // where the captured area starts inside it.
  std::optional<Capture::CursorImage> read(xcb_window_t window, std::int32_t offsetX,
                                           std::int32_t offsetY);

private:
  std::shared_ptr<XConnection> connection_;
  std::atomic<bool> shapeChanged_{true};
  std::optional<Capture::CursorImage> shape_; // the last image fetched, placed at (0, 0)
  std::int32_t hotX_ = 0;                     // where the pointer is inside it
  std::int32_t hotY_ = 0;
  XConnection::Subscription subscription_;
};

} // namespace Platform::Linux::X11

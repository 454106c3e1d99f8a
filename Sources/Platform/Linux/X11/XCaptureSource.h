#pragma once

#include "Platform/Geometry.h"
#include "Platform/Linux/Capture/CaptureSource.h"
#include "Platform/Linux/X11/CursorReader.h"
#include "Platform/Linux/X11/XConnection.h"

#include <cstdint>
#include <memory>
#include <optional>

// What X11 capture sources share: the connection, whose events they read
// before each frame, and the cursor, which the server leaves out of the
// pixels and XFixes reports.
//
// Thread contract: as Capture::CaptureSource.

namespace Platform::Linux::X11 {

class XCaptureSource : public Capture::CaptureSource {
public:
  std::optional<Capture::CursorImage> cursor() final;

protected:
  // `showsCursor`: the cursor is read, to be drawn over the pixels.
  XCaptureSource(std::shared_ptr<XConnection> connection, bool showsCursor);

  // Reads the events the server sent; the error that ends the stream when
  // the connection broke.
  ErrorRef pumpConnection();

  // The window pointer positions are read against, and where the content
  // starts inside it.
  virtual xcb_window_t pointerWindow() const = 0;
  virtual std::int32_t pointerOffsetX() const = 0;
  virtual std::int32_t pointerOffsetY() const = 0;

  const std::shared_ptr<XConnection> connection_;

private:
  std::optional<CursorReader> cursorReader_;
};

// Throws Platform::Error when the window does not exist.
std::unique_ptr<Capture::CaptureSource>
makeWindowCaptureSource(std::shared_ptr<XConnection> connection, std::uint32_t windowID,
                        bool showsCursor);

// The display's area, cut to `sourceRect` (display points, which are pixels
// here) when given. Throws Platform::Error when the display does not exist
// or the rectangle misses it.
std::unique_ptr<Capture::CaptureSource>
makeDisplayCaptureSource(std::shared_ptr<XConnection> connection, std::uint32_t displayID,
                         const std::optional<CGRect>& sourceRect, bool showsCursor);

} // namespace Platform::Linux::X11

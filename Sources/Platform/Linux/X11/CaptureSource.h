#pragma once

#include "Platform/Error.h"
#include "Platform/Geometry.h"
#include "Platform/Linux/X11/ImageGrabber.h"
#include "Platform/Linux/X11/XConnection.h"

#include <cstdint>
#include <memory>
#include <optional>

// What a capture stream grabs: one window (through Composite, so covered
// parts are still its own) or an area of one display. A source follows its
// content's events (closed, resized, display unplugged) and its damage.
//
// Thread contract: made, used and destroyed on one thread at a time (the
// stream's control thread, then its capture thread); its event handlers run
// on any thread that pumps the connection and only set atomic flags.

namespace Platform::Linux::X11 {

class CaptureSource {
public:
  virtual ~CaptureSource() = default;

  // Acts on the events seen since the last call, for the frame stamped
  // `gridPoint`: content known to be made after it waits for the next one.
  // Returns the error that ends the stream when the content is gone for
  // good; null while it lives.
  virtual ErrorRef update(CMTime gridPoint) = 0;

  // Whether the content may have changed since the last grab. Clears the
  // mark: call it right before grabbing.
  virtual bool takeChange() = 0;

  // The content's pixels now; valid until the next grab.
  virtual ImageGrabber::Grab grab() = 0;

  // The content's current size in pixels.
  virtual std::int32_t width() const = 0;
  virtual std::int32_t height() const = 0;

  // The window pointer positions are read against, and where the content
  // starts inside it: for the cursor.
  virtual xcb_window_t pointerWindow() const = 0;
  virtual std::int32_t pointerOffsetX() const = 0;
  virtual std::int32_t pointerOffsetY() const = 0;
};

// Throws Platform::Error when the window does not exist.
std::unique_ptr<CaptureSource> makeWindowCaptureSource(std::shared_ptr<XConnection> connection,
                                                       std::uint32_t windowID);

// The display's area, cut to `sourceRect` (display points, which are pixels
// here) when given. Throws Platform::Error when the display does not exist
// or the rectangle misses it.
std::unique_ptr<CaptureSource> makeDisplayCaptureSource(std::shared_ptr<XConnection> connection,
                                                        std::uint32_t displayID,
                                                        const std::optional<CGRect>& sourceRect);

} // namespace Platform::Linux::X11

#pragma once

#include "Platform/Error.h"
#include "Platform/Linux/Capture/FrameConversion.h"
#include "Platform/Time.h"

#include <cstdint>
#include <memory>
#include <optional>

// What a capture stream grabs: a window or an area of a display on an X
// server, a desktop's screen cast, a camera. A source follows its content's
// events (closed, resized, unplugged) and knows when the content changed.
//
// Thread contract: made, used and destroyed on one thread at a time (the
// stream's control thread, then its capture thread); event handlers of its
// own may run on other threads and only set atomic flags.

namespace Platform::Linux::Capture {

// The pixels of one grab.
struct Grab {
  enum class Outcome {
    grabbed,
    unavailable, // not viewable right now (unmapped, off the screen): try again later
    gone,        // the content no longer exists
    failed,      // the connection to it broke
  };
  Outcome outcome = Outcome::failed;
  MutableImage image; // B, G, R, X pixels when grabbed
  // Holds the image's memory for as long as it is kept, so a frame can be
  // made of it without a copy; empty when the image is valid only until the
  // next grab.
  std::shared_ptr<void> lease;
};

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
  virtual Grab grab() = 0;

  // The content's current size in pixels.
  virtual std::int32_t width() const = 0;
  virtual std::int32_t height() const = 0;

  // When the picture last grabbed was made, for content that makes its
  // pictures at instants of its own (a camera exposes each frame at its
  // own time): its frames are stamped with that rather than the grid point
  // they were taken at, which lags it by up to a frame period. None for
  // content sampled at the grid points.
  virtual std::optional<CMTime> pictureTime() const { return std::nullopt; }

  // The pointer's cursor where it falls on the content, to draw over it;
  // none when it is elsewhere, not asked for, or drawn by the content itself.
  virtual std::optional<CursorImage> cursor() { return std::nullopt; }
};

} // namespace Platform::Linux::Capture

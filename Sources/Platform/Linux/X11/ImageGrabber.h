#pragma once

#include "Platform/Linux/Capture/CaptureSource.h"
#include "Platform/Linux/X11/XConnection.h"

#include <cstdint>
#include <memory>

// Reads the pixels of a drawable rectangle: through a MIT-SHM segment when
// the server offers it (no copy through the socket), else through GetImage.
// Probes once; falls back for good when the segment cannot be attached (a
// remote server).
//
// Thread contract: one thread at a time (a stream's capture thread). The image
// of a grab stays valid until the next grab or the grabber's destruction.

namespace Platform::Linux::X11 {

class ImageGrabber {
public:
  explicit ImageGrabber(std::shared_ptr<XConnection> connection);
  ~ImageGrabber();
  ImageGrabber(const ImageGrabber&) = delete;
  ImageGrabber& operator=(const ImageGrabber&) = delete;

  using Grab = Capture::Grab;
  using Outcome = Capture::Grab::Outcome;

  Grab grab(xcb_drawable_t drawable, std::int16_t x, std::int16_t y, std::uint16_t width,
            std::uint16_t height);

  bool usesSharedMemory() const { return !shmRefused_; }

private:
  struct Segment;
  struct Shelf;
  std::unique_ptr<Segment> makeSegment(std::size_t size);
  std::unique_ptr<Segment> takeSegment(std::size_t size);
  std::shared_ptr<void> lend(std::unique_ptr<Segment> segment);
  bool ensureSegment(std::size_t size);
  static Outcome outcomeOf(const xcb_generic_error_t* error);

  std::shared_ptr<XConnection> connection_;
  std::shared_ptr<Shelf> shelf_;
  std::unique_ptr<Segment> segment_; // when every segment is lent out
  bool shmRefused_ = false;
  XReply<xcb_get_image_reply_t> lastReply_; // pixels of the last GetImage grab
};

} // namespace Platform::Linux::X11

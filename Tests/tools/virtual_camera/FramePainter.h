#pragma once

// The demo windows' picture, painted in the camera's format: rendered as
// 32-bit BGRA, then converted with libyuv or compressed with libjpeg.

#include "CameraOptions.h"
#include "DemoContent.h"

#include <jpeglib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace VirtualCamera {

class FramePainter {
public:
  explicit FramePainter(const Options& options);
  ~FramePainter();
  FramePainter(const FramePainter&) = delete;
  FramePainter& operator=(const FramePainter&) = delete;

  // The largest frame in bytes, and the stride of its first plane (0 for
  // MJPG, whose frames have none).
  std::size_t maximumSize() const { return maximumSize_; }
  std::uint32_t stride() const { return stride_; }

  // Paints frame `frame` into `out`; the bytes written, 0 when they do not
  // fit in `capacity`.
  std::size_t paint(bool flash, std::uint64_t frame, std::uint8_t* out, std::size_t capacity);

private:
  void render(bool flash, std::uint64_t frame);
  std::size_t compress(std::uint8_t* out, std::size_t capacity);

  Format format_;
  DemoWindow::Options picture_;
  std::size_t maximumSize_ = 0;
  std::uint32_t stride_ = 0;
  std::vector<std::uint32_t> bgra_;
  jpeg_compress_struct jpeg_{};
  jpeg_error_mgr jpegErrors_{};
};

} // namespace VirtualCamera

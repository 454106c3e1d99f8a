#include "FramePainter.h"

#include <libyuv.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace VirtualCamera {

namespace {
constexpr int jpegQuality = 90;
} // namespace

FramePainter::FramePainter(const Options& options)
    : format_(options.format), bgra_(std::size_t{options.width} * options.height) {
  picture_.width = options.width;
  picture_.height = options.height;
  picture_.solid = options.solid;
  const std::size_t pixels = bgra_.size();
  switch (format_) {
  case Format::yuy2:
  case Format::uyvy:
    stride_ = options.width * 2u;
    maximumSize_ = pixels * 2;
    break;
  case Format::nv12:
  case Format::i420:
    stride_ = options.width;
    maximumSize_ = pixels * 3 / 2;
    break;
  case Format::bgrx:
  case Format::rgbx:
    stride_ = options.width * 4u;
    maximumSize_ = pixels * 4;
    break;
  case Format::mjpg:
    // The flat picture compresses far below this.
    maximumSize_ = pixels * 3;
    jpeg_.err = jpeg_std_error(&jpegErrors_);
    jpeg_create_compress(&jpeg_);
    jpeg_.image_width = options.width;
    jpeg_.image_height = options.height;
    jpeg_.input_components = 4;
    jpeg_.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&jpeg_);
    jpeg_set_quality(&jpeg_, jpegQuality, TRUE);
    break;
  }
}

FramePainter::~FramePainter() {
  if (format_ == Format::mjpg) {
    jpeg_destroy_compress(&jpeg_);
  }
}

void FramePainter::render(bool flash, std::uint64_t frame) {
  const std::int32_t width = picture_.width;
  const std::int32_t height = picture_.height;
  for (const DemoWindow::Fill& fill : DemoWindow::picture(picture_, flash, frame)) {
    const std::int32_t left = std::clamp(fill.x, 0, width);
    const std::int32_t right = std::clamp(fill.x + fill.width, 0, width);
    const std::int32_t top = std::clamp(fill.y, 0, height);
    const std::int32_t bottom = std::clamp(fill.y + fill.height, 0, height);
    for (std::int32_t y = top; y < bottom; ++y) {
      const auto row = bgra_.begin() + std::ptrdiff_t{y} * width;
      std::fill(row + left, row + right, 0xFF000000u | fill.rgb);
    }
  }
}

std::size_t FramePainter::paint(bool flash, std::uint64_t frame, std::uint8_t* out,
                                std::size_t capacity) {
  render(flash, frame);
  if (format_ == Format::mjpg) {
    return compress(out, capacity);
  }
  if (capacity < maximumSize_) {
    return 0;
  }
  // libyuv's ARGB is the byte order B, G, R, A: what bgra_ holds.
  const auto* source = reinterpret_cast<const std::uint8_t*>(bgra_.data());
  const int width = picture_.width;
  const int height = picture_.height;
  const int sourceStride = width * 4;
  std::uint8_t* chroma = out + std::size_t{picture_.width} * picture_.height;
  switch (format_) {
  case Format::yuy2:
    libyuv::ARGBToYUY2(source, sourceStride, out, width * 2, width, height);
    break;
  case Format::uyvy:
    libyuv::ARGBToUYVY(source, sourceStride, out, width * 2, width, height);
    break;
  case Format::nv12:
    libyuv::ARGBToNV12(source, sourceStride, out, width, chroma, width, width, height);
    break;
  case Format::i420: {
    std::uint8_t* v = chroma + std::size_t{picture_.width / 2u} * (picture_.height / 2u);
    libyuv::ARGBToI420(source, sourceStride, out, width, chroma, width / 2, v, width / 2, width,
                       height);
    break;
  }
  case Format::bgrx:
    std::memcpy(out, source, maximumSize_);
    break;
  case Format::rgbx:
    // libyuv's ABGR is the byte order R, G, B, A.
    libyuv::ARGBToABGR(source, sourceStride, out, sourceStride, width, height);
    break;
  case Format::mjpg:
    break;
  }
  return maximumSize_;
}

std::size_t FramePainter::compress(std::uint8_t* out, std::size_t capacity) {
  unsigned char* compressed = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&jpeg_, &compressed, &size);
  jpeg_start_compress(&jpeg_, TRUE);
  while (jpeg_.next_scanline < jpeg_.image_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(bgra_.data() +
                                              std::size_t{jpeg_.next_scanline} * picture_.width);
    jpeg_write_scanlines(&jpeg_, &row, 1);
  }
  jpeg_finish_compress(&jpeg_);
  const std::size_t written = size <= capacity ? size : 0;
  std::memcpy(out, compressed, written);
  std::free(compressed);
  return written;
}

} // namespace VirtualCamera

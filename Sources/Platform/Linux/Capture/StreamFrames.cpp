#include "Platform/Linux/Capture/StreamFrames.h"

#include "Platform/Linux/Capture/FrameConversion.h"

#include <algorithm>

namespace Platform::Linux::Capture {

namespace {

// Pacing when the configuration asks for frames as fast as content changes,
// and the shortest interval we pace at: a faster timer only burns the core.
constexpr auto unpacedInterval = std::chrono::nanoseconds(1'000'000'000 / 60);
constexpr auto shortestInterval = std::chrono::milliseconds(1);

} // namespace

std::chrono::nanoseconds frameInterval(const CMTime& minimumFrameInterval) {
  if (!minimumFrameInterval.isNumeric() || minimumFrameInterval.value <= 0) {
    return unpacedInterval;
  }
  const double seconds = CMTimeGetSeconds(minimumFrameInterval);
  const auto interval = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double>(std::min(seconds, 3600.0)));
  return std::max<std::chrono::nanoseconds>(interval, shortestInterval);
}

std::pair<std::int64_t, std::int64_t> contentFrameSize(std::int64_t width, std::int64_t height) {
  constexpr double largestContentSide = 8192;
  const double scale = std::min({1.0, largestContentSide / std::max<std::int64_t>(width, 1),
                                 largestContentSide / std::max<std::int64_t>(height, 1)});
  const auto even = [scale](std::int64_t side) {
    return std::max<std::int64_t>(2, static_cast<std::int64_t>(side * scale) & ~std::int64_t{1});
  };
  return {even(width), even(height)};
}

SampleBufferRef makeFrame(const std::shared_ptr<const FormatDescription>& format,
                          std::shared_ptr<const PixelBuffer> pixels, CMTime timestamp,
                          SCFrameStatus status) {
  CMSampleBuffer::Contents contents;
  contents.formatDescription = format;
  contents.timing = {CMSampleTimingInfo{kCMTimeZero, timestamp, kCMTimeInvalid}};
  contents.sampleAttachments = std::vector<AttachmentDictionary>{
      {{SCStreamFrameInfoStatus, static_cast<std::int64_t>(status)}}};
  contents.imageBuffer = std::move(pixels);
  return CMSampleBuffer::make(std::move(contents));
}

std::shared_ptr<const PixelBuffer> blackFrame(PixelBufferPool& pool, std::uint32_t pixelFormat,
                                              std::int32_t width, std::int32_t height,
                                              std::vector<std::uint8_t>& scratch) {
  // One black pixel scaled to fit is black everywhere, in every format.
  std::uint8_t black[4] = {0, 0, 0, 0xFF};
  auto pixels = pool.acquire(pixelFormat, width, height);
  renderFrame(MutableImage{black, 1, 1, sizeof black}, *pixels, scratch);
  return pixels;
}

std::shared_ptr<const PixelBuffer> framePixels(PixelBufferPool& pool, std::uint32_t pixelFormat,
                                               std::int32_t width, std::int32_t height,
                                               const Grab& grabbed,
                                               std::vector<std::uint8_t>& scratch) {
  const MutableImage& image = grabbed.image;
  if (grabbed.lease && pixelFormat == kCVPixelFormatType_32BGRA && image.width == width &&
      image.height == height) {
    makeOpaque(image);
    auto pixels = std::make_shared<PixelBuffer>();
    pixels->pixelFormat = pixelFormat;
    pixels->width = width;
    pixels->height = height;
    pixels->bytesPerRow = image.bytesPerRow;
    pixels->bytes = PixelMemory(image.pixels, image.bytesPerRow * static_cast<std::size_t>(height),
                                grabbed.lease);
    return pixels;
  }
  auto pixels = pool.acquire(pixelFormat, width, height);
  renderFrame(image, *pixels, scratch);
  return pixels;
}

CMTime hostTimeAt(std::chrono::steady_clock::time_point instant) {
  const auto ago = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::steady_clock::now() - instant);
  static_assert(hostTimeScale == 1'000'000'000, "host time counts nanoseconds");
  return CMTimeMake(hostTimeNow().value - ago.count(), hostTimeScale);
}

} // namespace Platform::Linux::Capture

#include "Platform/FFmpeg/PixelConverter.h"

#include "Platform/Error.h"
#include "Platform/FFmpeg/Bt709Conversion.h"

#include <cerrno>

namespace Platform::FFmpeg {

namespace {

AVPixelFormat sourceFormat(std::uint32_t pixelFormat) {
  switch (pixelFormat) {
  case kCVPixelFormatType_32BGRA:
    return AV_PIX_FMT_BGRA;
  case kCVPixelFormatType_ARGB2101010LEPacked:
    return AV_PIX_FMT_X2RGB10LE;
  default:
    return AV_PIX_FMT_NONE;
  }
}

int colorspaceTable(AVColorSpace matrix) {
  switch (matrix) {
  case AVCOL_SPC_BT470BG:
  case AVCOL_SPC_SMPTE170M:
    return SWS_CS_ITU601;
  default:
    // Screen content is HD or larger, and every track we tag says BT.709.
    return SWS_CS_ITU709;
  }
}

// Reads the top-left part of a source at most one pixel larger: cropping a
// pixel keeps the picture sharp where scaling by one pixel would blur it all.
int sourceExtent(int source, int target) {
  return source == target + 1 ? target : source;
}

} // namespace

bool isConvertible(const PixelBuffer& buffer) {
  if (sourceFormat(buffer.pixelFormat) == AV_PIX_FMT_NONE || buffer.width <= 0 ||
      buffer.height <= 0 || buffer.width > 16384 || buffer.height > 16384) {
    return false;
  }
  const auto width = static_cast<std::size_t>(buffer.width);
  const auto height = static_cast<std::size_t>(buffer.height);
  return buffer.bytesPerRow >= width * 4 && buffer.bytes.size() / buffer.bytesPerRow >= height;
}

PixelConverter::PixelConverter(AVPixelFormat format, int width, int height, AVColorSpace matrix)
    : format_(format), width_(width), height_(height), matrix_(matrix) {}

void PixelConverter::convert(const PixelBuffer& source, AVFrame& destination) {
  const AVPixelFormat format = sourceFormat(source.pixelFormat);
  const int sourceWidth = sourceExtent(source.width, width_);
  const int sourceHeight = sourceExtent(source.height, height_);
  if (format == AV_PIX_FMT_BGRA && format_ == AV_PIX_FMT_YUV420P && sourceWidth == width_ &&
      sourceHeight == height_ && colorspaceTable(matrix_) == SWS_CS_ITU709) {
    convertBgraToI420Bt709(source.bytes.data(), source.bytesPerRow, width_, height_,
                           {destination.data[0], destination.linesize[0], destination.data[1],
                            destination.linesize[1], destination.data[2], destination.linesize[2]});
    return;
  }
  SwsContext* context =
      sws_getCachedContext(context_, sourceWidth, sourceHeight, format, width_, height_, format_,
                           SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (context == nullptr) {
    throw SystemError(ErrorDomain::mediaWriting, EINVAL,
                      "Could not convert a " + std::to_string(source.width) + "x" +
                          std::to_string(source.height) + " frame for the video track.");
  }
  if (context != context_) {
    contextOwner_.release(); // sws_getCachedContext freed the previous one
    contextOwner_.reset(context);
    context_ = context;
    const int* table = sws_getCoefficients(colorspaceTable(matrix_));
    // Captured RGB is full range; the encoded YUV is video range.
    sws_setColorspaceDetails(context, table, 1, table, 0, 0, 1 << 16, 1 << 16);
  }
  const std::uint8_t* planes[4] = {source.bytes.data(), nullptr, nullptr, nullptr};
  const int strides[4] = {static_cast<int>(source.bytesPerRow), 0, 0, 0};
  sws_scale(context, planes, strides, 0, sourceHeight, destination.data, destination.linesize);
}

} // namespace Platform::FFmpeg

#include "Platform/Linux/Capture/FrameConversion.h"

#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Platform::Linux::Capture {

namespace {

constexpr std::uint32_t opaqueBlack = 0xFF000000;

// Copies with the alpha forced in the same pass: no extra sweep over memory.
void copyOpaque(const MutableImage& source, std::uint8_t* destination, std::size_t bytesPerRow) {
  for (std::int32_t row = 0; row < source.height; ++row) {
    const auto* from =
        reinterpret_cast<const std::uint32_t*>(source.pixels + row * source.bytesPerRow);
    auto* to = reinterpret_cast<std::uint32_t*>(destination + row * bytesPerRow);
    for (std::int32_t column = 0; column < source.width; ++column) {
      to[column] = from[column] | opaqueBlack;
    }
  }
}

// Renders into 8-bit BGRA memory of the given size.
void renderBGRA(const MutableImage& source, std::uint8_t* destination, std::int32_t width,
                std::int32_t height, std::size_t bytesPerRow) {
  if (source.width == width && source.height == height) {
    copyOpaque(source, destination, bytesPerRow);
    return;
  }
  const Placement placement = fitInside(source.width, source.height, width, height);
  const auto stride = static_cast<int>(bytesPerRow);
  if (placement.width != width || placement.height != height) {
    libyuv::ARGBRect(destination, stride, 0, 0, width, height, opaqueBlack);
  }
  makeOpaque(source);
  std::uint8_t* origin =
      destination + placement.y * bytesPerRow + static_cast<std::size_t>(placement.x) * 4;
  libyuv::ARGBScale(source.pixels, static_cast<int>(source.bytesPerRow), source.width,
                    source.height, origin, stride, placement.width, placement.height,
                    libyuv::kFilterBilinear);
}

std::uint32_t blendChannel(std::uint32_t cursor, std::uint32_t under, std::uint32_t cursorAlpha) {
  return std::min<std::uint32_t>(255, cursor + (under * (255 - cursorAlpha) + 127) / 255);
}

} // namespace

void makeOpaque(const MutableImage& image) {
  // Read once: a pixel store could alias the width (signed and unsigned
  // integers may), which would keep the loop from being vectorised.
  const std::int32_t width = image.width;
  for (std::int32_t row = 0; row < image.height; ++row) {
    auto* pixel = reinterpret_cast<std::uint32_t*>(image.pixels + row * image.bytesPerRow);
    for (std::int32_t column = 0; column < width; ++column) {
      pixel[column] |= opaqueBlack;
    }
  }
}

Placement fitInside(std::int32_t sourceWidth, std::int32_t sourceHeight,
                    std::int32_t destinationWidth, std::int32_t destinationHeight) {
  if (sourceWidth <= 0 || sourceHeight <= 0) {
    return Placement{0, 0, destinationWidth, destinationHeight};
  }
  // Compare the aspect ratios in integers to avoid rounding when they match.
  const auto crossSource = static_cast<std::int64_t>(sourceWidth) * destinationHeight;
  const auto crossDestination = static_cast<std::int64_t>(destinationWidth) * sourceHeight;
  Placement placement{0, 0, destinationWidth, destinationHeight};
  if (crossSource > crossDestination) {
    // Wider than the destination: full width, bars above and below.
    placement.height = std::max<std::int32_t>(
        1, static_cast<std::int32_t>(
               std::lround(static_cast<double>(destinationWidth) * sourceHeight / sourceWidth)));
    placement.y = (destinationHeight - placement.height) / 2;
  } else if (crossSource < crossDestination) {
    placement.width = std::max<std::int32_t>(
        1, static_cast<std::int32_t>(
               std::lround(static_cast<double>(destinationHeight) * sourceWidth / sourceHeight)));
    placement.x = (destinationWidth - placement.width) / 2;
  }
  return placement;
}

void drawCursor(const MutableImage& image, const CursorImage& cursor) {
  const std::int32_t left = std::max(0, cursor.x);
  const std::int32_t top = std::max(0, cursor.y);
  const std::int32_t right = std::min(image.width, cursor.x + cursor.width);
  const std::int32_t bottom = std::min(image.height, cursor.y + cursor.height);
  for (std::int32_t y = top; y < bottom; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(image.pixels + y * image.bytesPerRow);
    const std::uint32_t* cursorRow =
        cursor.pixels->data() + static_cast<std::size_t>(y - cursor.y) * cursor.width;
    for (std::int32_t x = left; x < right; ++x) {
      const std::uint32_t over = cursorRow[x - cursor.x];
      const std::uint32_t alpha = over >> 24;
      if (alpha == 0) {
        continue;
      }
      const std::uint32_t under = row[x];
      std::uint32_t blended = opaqueBlack;
      for (const int shift : {0, 8, 16}) {
        blended |= blendChannel((over >> shift) & 0xFF, (under >> shift) & 0xFF, alpha) << shift;
      }
      row[x] = blended;
    }
  }
}

bool isSupportedPixelFormat(std::uint32_t pixelFormat) {
  return pixelFormat == kCVPixelFormatType_32BGRA ||
         pixelFormat == kCVPixelFormatType_ARGB2101010LEPacked;
}

void renderFrame(const MutableImage& source, PixelBuffer& destination,
                 std::vector<std::uint8_t>& scratch) {
  if (destination.pixelFormat == kCVPixelFormatType_32BGRA) {
    renderBGRA(source, destination.bytes.data(), destination.width, destination.height,
               destination.bytesPerRow);
    return;
  }
  // 10-bit packed ARGB: from BGRA at the destination size.
  const std::size_t scratchBytesPerRow = static_cast<std::size_t>(destination.width) * 4;
  const MutableImage* converted = &source;
  MutableImage scaled;
  if (source.width != destination.width || source.height != destination.height) {
    scratch.resize(scratchBytesPerRow * destination.height);
    renderBGRA(source, scratch.data(), destination.width, destination.height, scratchBytesPerRow);
    scaled =
        MutableImage{scratch.data(), destination.width, destination.height, scratchBytesPerRow};
    converted = &scaled;
  } else {
    makeOpaque(source);
  }
  libyuv::ARGBToAR30(converted->pixels, static_cast<int>(converted->bytesPerRow),
                     destination.bytes.data(), static_cast<int>(destination.bytesPerRow),
                     destination.width, destination.height);
}

namespace {

bool touches(const CursorImage& cursor, std::int32_t width, std::int32_t height) {
  return cursor.x < width && cursor.y < height && cursor.x + cursor.width > 0 &&
         cursor.y + cursor.height > 0;
}

} // namespace

bool cursorChangedInside(const std::optional<CursorImage>& before,
                         const std::optional<CursorImage>& after, std::int32_t width,
                         std::int32_t height) {
  const bool wasInside = before && touches(*before, width, height);
  const bool isInside = after && touches(*after, width, height);
  if (!wasInside && !isInside) {
    return false;
  }
  if (wasInside != isInside) {
    return true;
  }
  return before->x != after->x || before->y != after->y || before->serial != after->serial;
}

} // namespace Platform::Linux::Capture

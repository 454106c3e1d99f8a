#pragma once

#include "Platform/SampleBuffer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Turning grabbed pixels into delivered frames: the cursor drawn in, scaled to
// the configured size with the aspect kept (black bars around), and converted
// to the configured pixel format. Pure functions over caller-owned memory;
// any thread, no shared state.

namespace Platform::Linux::Capture {

// 32-bit pixels in memory order B, G, R, A (little-endian 0xAARRGGBB words),
// the layout X servers deliver for depth 24 and 32.
struct MutableImage {
  std::uint8_t* pixels = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::size_t bytesPerRow = 0;
};

struct Placement {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  friend bool operator==(const Placement&, const Placement&) = default;
};

// Where a source of the given size lands inside the destination when scaled
// to fit with its aspect ratio kept, centred; at least one pixel each way.
Placement fitInside(std::int32_t sourceWidth, std::int32_t sourceHeight,
                    std::int32_t destinationWidth, std::int32_t destinationHeight);

// The cursor as XFixes gives it: premultiplied ARGB words, and where its
// top-left corner falls in the image's coordinates.
struct CursorImage {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  // width * height; shared, as every reading of the same shape holds it
  std::shared_ptr<const std::vector<std::uint32_t>> pixels;
  std::uint32_t serial = 0; // changes when the cursor's shape does
};

// Sets every pixel's alpha byte, which servers leave undefined for depth 24.
void makeOpaque(const MutableImage& image);

// Composites the cursor over the image, clipped to the image.
void drawCursor(const MutableImage& image, const CursorImage& cursor);

bool isSupportedPixelFormat(std::uint32_t pixelFormat);

// Renders `source` into `destination` (its size and pixel format already set,
// bytes sized): scaled to fit, padded with opaque black, every pixel opaque.
// The source's alpha bytes are overwritten (servers leave them undefined for
// depth 24). `scratch` holds an intermediate frame between calls when the
// destination is not BGRA.
void renderFrame(const MutableImage& source, PixelBuffer& destination,
                 std::vector<std::uint8_t>& scratch);

// Whether the cursor drawn over an area of the given size looks different
// between two readings: moved or changed shape while touching the area.
bool cursorChangedInside(const std::optional<CursorImage>& before,
                         const std::optional<CursorImage>& after, std::int32_t width,
                         std::int32_t height);

} // namespace Platform::Linux::Capture

#pragma once

#include <cstddef>
#include <cstdint>

// BGRA to 8-bit 4:2:0 YUV with the BT.709 matrix in video range, the hot
// path of every H.264 recording. libyuv has no BT.709 variant of this
// conversion and libswscale's is an order of magnitude slower, so it is
// written here in a form the compiler vectorises.
//
// Threads: a pure function.

namespace Platform::FFmpeg {

struct PlanarImage {
  std::uint8_t* y;
  int yStride;
  std::uint8_t* u;
  int uStride;
  std::uint8_t* v;
  int vStride;
};

// `width` and `height` are even; the source holds at least that many pixels.
void convertBgraToI420Bt709(const std::uint8_t* bgra, std::size_t bgraStride, int width, int height,
                            const PlanarImage& destination);

} // namespace Platform::FFmpeg

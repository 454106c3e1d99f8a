#include "Platform/FFmpeg/Bt709Conversion.h"

namespace Platform::FFmpeg {

namespace {

// BT.709 in video range (Y 16-235, Cb and Cr 16-240), coefficients scaled by
// 2^8: Y = 219/255 (0.2126 R + 0.7152 G + 0.0722 B) + 16, and the colour
// differences scaled to 224/255, rounded so that greys get exactly 128. All
// arithmetic is 16-bit unsigned, which wraps in the intermediate sums but
// never in the results; that doubles the lanes per vector.
constexpr std::uint16_t yFromR = 47;
constexpr std::uint16_t yFromG = 157;
constexpr std::uint16_t yFromB = 16;
constexpr std::uint16_t uFromRNegated = 26;
constexpr std::uint16_t uFromGNegated = 86;
constexpr std::uint16_t uFromB = 112;
constexpr std::uint16_t vFromR = 112;
constexpr std::uint16_t vFromGNegated = 102;
constexpr std::uint16_t vFromBNegated = 10;
constexpr std::uint16_t lumaOffset = (16 << 8) + 128;
constexpr std::uint16_t chromaOffset = (128 << 8) + 128;

// Built for AVX2 as well, chosen at load time on processors that have it.
// Not under ThreadSanitizer: the load-time chooser would run instrumented
// before the sanitizer's runtime is up, and crash the process.
#if defined(__SANITIZE_THREAD__)
#define VECTORISED_ROW
#else
#define VECTORISED_ROW __attribute__((target_clones("avx2", "default")))
#endif

VECTORISED_ROW void lumaRow(const std::uint8_t* __restrict bgra, std::uint8_t* __restrict luma,
                            int width) {
  for (int x = 0; x < width; ++x) {
    const std::uint16_t b = bgra[4 * x];
    const std::uint16_t g = bgra[4 * x + 1];
    const std::uint16_t r = bgra[4 * x + 2];
    luma[x] = static_cast<std::uint8_t>(
        static_cast<std::uint16_t>(yFromR * r + yFromG * g + yFromB * b + lumaOffset) >> 8);
  }
}

// Chroma of each 2x2 block, from the block's mean colour.
VECTORISED_ROW void chromaRow(const std::uint8_t* __restrict top,
                              const std::uint8_t* __restrict bottom, std::uint8_t* __restrict u,
                              std::uint8_t* __restrict v, int halfWidth) {
  for (int x = 0; x < halfWidth; ++x) {
    const auto mean = [&](int channel) {
      return static_cast<std::uint16_t>((top[8 * x + channel] + top[8 * x + 4 + channel] +
                                         bottom[8 * x + channel] + bottom[8 * x + 4 + channel] +
                                         2) >>
                                        2);
    };
    const std::uint16_t b = mean(0);
    const std::uint16_t g = mean(1);
    const std::uint16_t r = mean(2);
    u[x] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(chromaOffset + uFromB * b -
                                                                uFromRNegated * r -
                                                                uFromGNegated * g) >>
                                     8);
    v[x] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(chromaOffset + vFromR * r -
                                                                vFromGNegated * g -
                                                                vFromBNegated * b) >>
                                     8);
  }
}

} // namespace

void convertBgraToI420Bt709(const std::uint8_t* bgra, std::size_t bgraStride, int width, int height,
                            const PlanarImage& destination) {
  for (int y = 0; y < height; y += 2) {
    const std::uint8_t* top = bgra + static_cast<std::size_t>(y) * bgraStride;
    const std::uint8_t* bottom = top + bgraStride;
    lumaRow(top, destination.y + static_cast<std::ptrdiff_t>(y) * destination.yStride, width);
    lumaRow(bottom, destination.y + static_cast<std::ptrdiff_t>(y + 1) * destination.yStride,
            width);
    chromaRow(top, bottom, destination.u + static_cast<std::ptrdiff_t>(y / 2) * destination.uStride,
              destination.v + static_cast<std::ptrdiff_t>(y / 2) * destination.vStride, width / 2);
  }
}

} // namespace Platform::FFmpeg

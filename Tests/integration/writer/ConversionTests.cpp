#include "Platform/FFmpeg/Bt709Conversion.h"
#include "Platform/FFmpeg/PixelConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace WriterTests {
namespace {

using namespace Platform;
using namespace Platform::FFmpeg;

std::vector<std::uint8_t> variedImage(int width, int height) {
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width) * height * 4);
  std::uint32_t noise = 99;
  for (std::size_t i = 0; i < bgra.size(); ++i) {
    noise = noise * 1103515245U + 12345U;
    bgra[i] = i % 4 == 3 ? 255 : static_cast<std::uint8_t>(noise >> 24);
  }
  // Pure black, white and primaries in the first block row.
  const std::uint8_t corners[][3] = {{0, 0, 0}, {255, 255, 255}, {0, 0, 255}, {0, 255, 0}};
  for (int block = 0; block < 4; ++block) {
    for (int dy = 0; dy < 2; ++dy) {
      for (int dx = 0; dx < 2; ++dx) {
        std::uint8_t* pixel = &bgra[(static_cast<std::size_t>(dy) * width + block * 2 + dx) * 4];
        pixel[0] = corners[block][0];
        pixel[1] = corners[block][1];
        pixel[2] = corners[block][2];
      }
    }
  }
  return bgra;
}

// BT.709 video range from its definition, in floating point.
struct Reference {
  double y, u, v;
};
Reference bt709(double r, double g, double b) {
  const double luma = 0.2126 * r + 0.7152 * g + 0.0722 * b;
  return {16 + 219 * luma / 255, 128 + 224 * (b - luma) / 1.8556 / 255,
          128 + 224 * (r - luma) / 1.5748 / 255};
}

TEST(PixelConversion, BgraToI420MatchesTheBt709Definition) {
  constexpr int width = 64;
  constexpr int height = 32;
  const auto bgra = variedImage(width, height);
  std::vector<std::uint8_t> y(width * height), u(width * height / 4), v(width * height / 4);
  convertBgraToI420Bt709(bgra.data(), width * 4, width, height,
                         {y.data(), width, u.data(), width / 2, v.data(), width / 2});
  int worst = 0;
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      const std::uint8_t* pixel = &bgra[(static_cast<std::size_t>(row) * width + column) * 4];
      const double expected = bt709(pixel[2], pixel[1], pixel[0]).y;
      worst = std::max(worst, static_cast<int>(std::lround(std::fabs(
                                  expected - y[static_cast<std::size_t>(row) * width + column]))));
    }
  }
  for (int row = 0; row < height / 2; ++row) {
    for (int column = 0; column < width / 2; ++column) {
      double sum[3] = {0, 0, 0};
      for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
          const std::uint8_t* pixel =
              &bgra[(static_cast<std::size_t>(row * 2 + dy) * width + column * 2 + dx) * 4];
          for (int c = 0; c < 3; ++c) {
            sum[c] += pixel[c];
          }
        }
      }
      const Reference expected = bt709(sum[2] / 4, sum[1] / 4, sum[0] / 4);
      const std::size_t at = static_cast<std::size_t>(row) * (width / 2) + column;
      worst = std::max(worst, static_cast<int>(std::lround(std::fabs(expected.u - u[at]))));
      worst = std::max(worst, static_cast<int>(std::lround(std::fabs(expected.v - v[at]))));
    }
  }
  EXPECT_LE(worst, 1);
  EXPECT_EQ(y[0], 16);  // black
  EXPECT_EQ(y[2], 235); // white
  EXPECT_EQ(u[1], 128); // white has no colour
  EXPECT_EQ(v[1], 128);
  EXPECT_EQ(v[2], 240); // red is the most red
}

FramePtr yuvFrame(int width, int height) {
  FramePtr frame(av_frame_alloc());
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = width;
  frame->height = height;
  EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
  return frame;
}

// An odd-sized capture loses its last column and row instead of being
// rescaled: the pixels that are kept come out exactly as they went in.
TEST(PixelConversion, OddSourceIsCroppedNotScaled) {
  const auto wide = variedImage(65, 33);
  PixelBuffer odd{kCVPixelFormatType_32BGRA, 65, 33, 65 * 4, wide};
  PixelBuffer even{kCVPixelFormatType_32BGRA, 64, 32, 65 * 4, wide};
  ASSERT_TRUE(isConvertible(odd));
  PixelConverter converter(AV_PIX_FMT_YUV420P, 64, 32, AVCOL_SPC_BT709);
  auto fromOdd = yuvFrame(64, 32);
  auto fromEven = yuvFrame(64, 32);
  converter.convert(odd, *fromOdd);
  converter.convert(even, *fromEven);
  for (int row = 0; row < 32; ++row) {
    ASSERT_EQ(0, std::memcmp(fromOdd->data[0] + row * fromOdd->linesize[0],
                             fromEven->data[0] + row * fromEven->linesize[0], 64))
        << "row " << row;
  }
}

TEST(PixelConversion, FramesThatCannotBeReadAreRecognised) {
  PixelBuffer shortRows{kCVPixelFormatType_32BGRA, 64, 32, 64 * 4 - 1,
                        std::vector<std::uint8_t>(64 * 4 * 32)};
  PixelBuffer missingRows{kCVPixelFormatType_32BGRA, 64, 32, 64 * 4,
                          std::vector<std::uint8_t>(64 * 4 * 31)};
  PixelBuffer unknownFormat{0x32767579, 64, 32, 64 * 4, std::vector<std::uint8_t>(64 * 4 * 32)};
  PixelBuffer empty{kCVPixelFormatType_32BGRA, 0, 0, 0, {}};
  EXPECT_FALSE(isConvertible(shortRows));
  EXPECT_FALSE(isConvertible(missingRows));
  EXPECT_FALSE(isConvertible(unknownFormat));
  EXPECT_FALSE(isConvertible(empty));
  EXPECT_TRUE(isConvertible(PixelBuffer{kCVPixelFormatType_ARGB2101010LEPacked, 64, 32, 64 * 4,
                                        std::vector<std::uint8_t>(64 * 4 * 32)}));
}

} // namespace
} // namespace WriterTests

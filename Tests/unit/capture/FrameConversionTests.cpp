#include "Platform/Linux/Capture/FrameConversion.h"

#include <gtest/gtest.h>

#include <cstring>

namespace Platform::Linux::Capture {
namespace {

// A grabbed image: pixels as 0xXXRRGGBB words with a junk alpha byte, as a
// depth-24 server leaves them.
struct TestImage {
  TestImage(std::int32_t width, std::int32_t height, std::uint32_t rgb)
      : width(width), height(height),
        words(static_cast<std::size_t>(width) * height, 0x5A000000 | rgb) {}
  MutableImage view() {
    return MutableImage{reinterpret_cast<std::uint8_t*>(words.data()), width, height,
                        static_cast<std::size_t>(width) * 4};
  }
  std::uint32_t& at(int x, int y) { return words[static_cast<std::size_t>(y) * width + x]; }
  std::int32_t width;
  std::int32_t height;
  std::vector<std::uint32_t> words;
};

PixelBuffer destination(std::uint32_t format, std::int32_t width, std::int32_t height) {
  PixelBuffer buffer;
  buffer.pixelFormat = format;
  buffer.width = width;
  buffer.height = height;
  buffer.bytesPerRow = static_cast<std::size_t>(width) * 4;
  buffer.bytes = std::vector<std::uint8_t>(buffer.bytesPerRow * height, 0xEE);
  return buffer;
}

std::uint32_t pixel(const PixelBuffer& buffer, int x, int y) {
  std::uint32_t value = 0;
  std::memcpy(&value, buffer.bytes.data() + y * buffer.bytesPerRow + x * 4, 4);
  return value;
}

TEST(FitInside, KeepsTheAspectRatioAndCentres) {
  EXPECT_EQ(fitInside(1280, 720, 1280, 720), (Placement{0, 0, 1280, 720}));
  EXPECT_EQ(fitInside(640, 360, 1280, 720), (Placement{0, 0, 1280, 720}));
  EXPECT_EQ(fitInside(320, 200, 160, 120), (Placement{0, 10, 160, 100}));
  EXPECT_EQ(fitInside(100, 300, 320, 200), (Placement{126, 0, 67, 200}));
  EXPECT_EQ(fitInside(10000, 1, 100, 100), (Placement{0, 49, 100, 1}));
}

TEST(RenderFrame, SameSizeCopiesTheColourAndMakesItOpaque) {
  TestImage image(4, 3, 0x102030);
  PixelBuffer frame = destination(kCVPixelFormatType_32BGRA, 4, 3);
  std::vector<std::uint8_t> scratch;

  renderFrame(image.view(), frame, scratch);

  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      ASSERT_EQ(pixel(frame, x, y), 0xFF102030U) << x << "," << y;
    }
  }
}

TEST(RenderFrame, ScaledFrameIsPaddedWithOpaqueBlack) {
  TestImage image(40, 10, 0x00FF00); // 4:1 into a square
  PixelBuffer frame = destination(kCVPixelFormatType_32BGRA, 20, 20);
  std::vector<std::uint8_t> scratch;

  renderFrame(image.view(), frame, scratch);

  // Content is 20x5 at rows 7..11.
  EXPECT_EQ(pixel(frame, 10, 0), 0xFF000000U);
  EXPECT_EQ(pixel(frame, 10, 6), 0xFF000000U);
  EXPECT_EQ(pixel(frame, 10, 9), 0xFF00FF00U);
  EXPECT_EQ(pixel(frame, 0, 8), 0xFF00FF00U);
  EXPECT_EQ(pixel(frame, 10, 12), 0xFF000000U);
  EXPECT_EQ(pixel(frame, 19, 19), 0xFF000000U);
}

TEST(RenderFrame, TenBitFramesPackEachChannelToTenBits) {
  TestImage image(2, 1, 0);
  image.at(0, 0) = 0xFF0000; // red
  image.at(1, 0) = 0x0000FF; // blue
  PixelBuffer frame = destination(kCVPixelFormatType_ARGB2101010LEPacked, 2, 1);
  std::vector<std::uint8_t> scratch;

  renderFrame(image.view(), frame, scratch);

  EXPECT_EQ(pixel(frame, 0, 0), 0xC0000000U | (0x3FFU << 20));
  EXPECT_EQ(pixel(frame, 1, 0), 0xC0000000U | 0x3FFU);
}

TEST(RenderFrame, TenBitFramesAreScaledToo) {
  TestImage image(8, 8, 0xFFFFFF);
  PixelBuffer frame = destination(kCVPixelFormatType_ARGB2101010LEPacked, 4, 2);
  std::vector<std::uint8_t> scratch;

  renderFrame(image.view(), frame, scratch);

  EXPECT_EQ(pixel(frame, 0, 0), 0xC0000000U); // padding: opaque black
  EXPECT_EQ(pixel(frame, 1, 1), 0xFFFFFFFFU); // white: every channel 1023
  EXPECT_EQ(pixel(frame, 3, 0), 0xC0000000U);
}

CursorImage cursor(std::int32_t x, std::int32_t y, std::uint32_t argb) {
  CursorImage image;
  image.x = x;
  image.y = y;
  image.width = 2;
  image.height = 2;
  image.pixels = std::make_shared<const std::vector<std::uint32_t>>(4, argb);
  return image;
}

TEST(DrawCursor, BlendsPremultipliedPixelsOver) {
  TestImage image(4, 4, 0x0000FF);
  drawCursor(image.view(), cursor(1, 1, 0xFFFFFFFF));
  EXPECT_EQ(image.at(1, 1), 0xFFFFFFFFU);
  EXPECT_EQ(image.at(2, 2), 0xFFFFFFFFU);
  EXPECT_EQ(image.at(0, 0) & 0xFFFFFF, 0x0000FFU);
  EXPECT_EQ(image.at(3, 3) & 0xFFFFFF, 0x0000FFU);

  TestImage half(1, 1, 0x0000FF);
  drawCursor(half.view(), cursor(0, 0, 0x80000000)); // half-transparent black
  EXPECT_EQ(half.at(0, 0) & 0xFFFFFF, 0x00007FU);

  TestImage clear(1, 1, 0x123456);
  drawCursor(clear.view(), cursor(0, 0, 0x00000000));
  EXPECT_EQ(clear.at(0, 0) & 0xFFFFFF, 0x123456U);
}

TEST(DrawCursor, IsClippedToTheImage) {
  TestImage image(3, 3, 0x000000);
  drawCursor(image.view(), cursor(-1, -1, 0xFFFFFFFF));
  drawCursor(image.view(), cursor(2, 2, 0xFFFFFFFF));
  drawCursor(image.view(), cursor(50, -50, 0xFFFFFFFF));
  EXPECT_EQ(image.at(0, 0), 0xFFFFFFFFU);
  EXPECT_EQ(image.at(2, 2), 0xFFFFFFFFU);
  EXPECT_EQ(image.at(1, 1) & 0xFFFFFF, 0U);
}

TEST(CursorChange, CountsOnlyWhatTouchesTheArea) {
  const auto inside = cursor(5, 5, 0xFFFFFFFF);
  auto movedInside = inside;
  movedInside.x = 6;
  auto reshaped = inside;
  reshaped.serial = 9;
  const auto outside = cursor(500, 5, 0xFFFFFFFF);
  auto movedOutside = outside;
  movedOutside.y = 50;

  EXPECT_FALSE(cursorChangedInside(inside, inside, 100, 100));
  EXPECT_TRUE(cursorChangedInside(inside, movedInside, 100, 100));
  EXPECT_TRUE(cursorChangedInside(inside, reshaped, 100, 100));
  EXPECT_TRUE(cursorChangedInside(inside, outside, 100, 100));
  EXPECT_TRUE(cursorChangedInside(std::nullopt, inside, 100, 100));
  EXPECT_FALSE(cursorChangedInside(outside, movedOutside, 100, 100));
  EXPECT_FALSE(cursorChangedInside(std::nullopt, outside, 100, 100));
}

} // namespace
} // namespace Platform::Linux::Capture

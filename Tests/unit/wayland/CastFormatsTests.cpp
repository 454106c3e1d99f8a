#include "Platform/Linux/Wayland/CastFormats.h"

#include <gtest/gtest.h>
#include <spa/param/video/raw.h>

#include <array>
#include <vector>

namespace Platform::Linux::Wayland {
namespace {

// One pixel, red 0x11, green 0x22, blue 0x33 and alpha (or padding) 0x44, as
// each format lays it out in memory.
struct Layout {
  std::uint32_t format;
  const char* name;
  std::array<std::uint8_t, 4> bytes;
};

constexpr std::array<Layout, 8> layouts{{
    {SPA_VIDEO_FORMAT_BGRx, "BGRx", {0x33, 0x22, 0x11, 0x44}},
    {SPA_VIDEO_FORMAT_BGRA, "BGRA", {0x33, 0x22, 0x11, 0x44}},
    {SPA_VIDEO_FORMAT_RGBx, "RGBx", {0x11, 0x22, 0x33, 0x44}},
    {SPA_VIDEO_FORMAT_RGBA, "RGBA", {0x11, 0x22, 0x33, 0x44}},
    {SPA_VIDEO_FORMAT_xRGB, "xRGB", {0x44, 0x11, 0x22, 0x33}},
    {SPA_VIDEO_FORMAT_ARGB, "ARGB", {0x44, 0x11, 0x22, 0x33}},
    {SPA_VIDEO_FORMAT_xBGR, "xBGR", {0x44, 0x33, 0x22, 0x11}},
    {SPA_VIDEO_FORMAT_ABGR, "ABGR", {0x44, 0x33, 0x22, 0x11}},
}};

// 3x2 pixels in rows of 16 bytes: the last 4 of each row are padding.
constexpr std::int32_t width = 3;
constexpr std::int32_t height = 2;
constexpr std::size_t bytesPerRow = 16;
constexpr std::uint8_t padding = 0xEE;

std::vector<std::uint8_t> image(const std::array<std::uint8_t, 4>& pixel) {
  std::vector<std::uint8_t> bytes(bytesPerRow * height, padding);
  for (std::size_t row = 0; row < height; ++row) {
    for (std::size_t column = 0; column < width; ++column) {
      std::copy(pixel.begin(), pixel.end(), bytes.begin() + row * bytesPerRow + column * 4);
    }
  }
  return bytes;
}

TEST(CopyAsBGRX, PutsEveryRGBOrderIntoBlueGreenRedX) {
  const std::vector<std::uint8_t> expected = image({0x33, 0x22, 0x11, 0x44});
  for (const Layout& layout : layouts) {
    const std::vector<std::uint8_t> source = image(layout.bytes);
    std::vector<std::uint8_t> destination(bytesPerRow * height, padding);
    ASSERT_TRUE(copyAsBGRX(layout.format, source.data(), bytesPerRow, destination.data(),
                           bytesPerRow, width, height))
        << layout.name;
    EXPECT_EQ(destination, expected) << layout.name << ": pixels, and the padding left alone";
  }

  std::vector<std::uint8_t> untouched(bytesPerRow * height, padding);
  EXPECT_FALSE(copyAsBGRX(SPA_VIDEO_FORMAT_NV12, image({1, 2, 3, 4}).data(), bytesPerRow,
                          untouched.data(), bytesPerRow, width, height));
  EXPECT_EQ(untouched, std::vector<std::uint8_t>(bytesPerRow * height, padding));
}

} // namespace
} // namespace Platform::Linux::Wayland

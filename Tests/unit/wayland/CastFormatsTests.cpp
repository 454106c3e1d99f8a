#include "Platform/Linux/Wayland/CastFormats.h"

#include <gtest/gtest.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

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

// EnumFormat params as producers offer them.
class Offer {
public:
  // Raw video in one of `formats`, in GPU memory when `dmaBuf`.
  Offer& raw(std::initializer_list<std::uint32_t> formats, bool dmaBuf = false) {
    spa_pod_frame object;
    spa_pod_builder_push_object(&builder_, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(&builder_, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), 0);
    spa_pod_builder_prop(&builder_, SPA_FORMAT_VIDEO_format, 0);
    spa_pod_frame choice;
    spa_pod_builder_push_choice(&builder_, &choice, SPA_CHOICE_Enum, 0);
    spa_pod_builder_id(&builder_, *formats.begin());
    for (const std::uint32_t format : formats) {
      spa_pod_builder_id(&builder_, format);
    }
    spa_pod_builder_pop(&builder_, &choice);
    if (dmaBuf) {
      spa_pod_builder_prop(&builder_, SPA_FORMAT_VIDEO_modifier, SPA_POD_PROP_FLAG_MANDATORY);
      spa_pod_builder_long(&builder_, 0); // linear
    }
    params_.push_back(static_cast<const spa_pod*>(spa_pod_builder_pop(&builder_, &object)));
    return *this;
  }

  Offer& h264() {
    params_.push_back(static_cast<const spa_pod*>(
        spa_pod_builder_add_object(&builder_, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
                                   SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                                   SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_h264))));
    return *this;
  }

  std::optional<std::string> complaint() const { return unrecordableOffer(params_); }

private:
  std::array<std::uint8_t, 4096> storage_{};
  spa_pod_builder builder_ = SPA_POD_BUILDER_INIT(storage_.data(), sizeof storage_);
  std::vector<const spa_pod*> params_;
};

TEST(UnrecordableOffer, NamesWhatIsOfferedWhenNothingFits) {
  EXPECT_EQ(Offer().raw({SPA_VIDEO_FORMAT_NV12}, true).complaint(),
            "The screen cast offers only NV12 (DmaBuf), which cannot be recorded");
  EXPECT_EQ(Offer()
                .raw({SPA_VIDEO_FORMAT_NV12, SPA_VIDEO_FORMAT_I420})
                .raw({SPA_VIDEO_FORMAT_BGRx}, true)
                .h264()
                .complaint(),
            "The screen cast offers only NV12, I420, BGRx (DmaBuf) and video/h264, which cannot "
            "be recorded")
      << "a format we take, but only in GPU memory, does not fit";

  EXPECT_EQ(Offer().raw({SPA_VIDEO_FORMAT_BGRx}, true).raw({SPA_VIDEO_FORMAT_BGRx}).complaint(),
            std::nullopt)
      << "the same format in shared memory too";
  EXPECT_EQ(Offer().raw({SPA_VIDEO_FORMAT_NV12, SPA_VIDEO_FORMAT_xBGR}).complaint(), std::nullopt)
      << "one of the choices fits";
  EXPECT_EQ(Offer().complaint(), std::nullopt) << "an offer that could not be read is no verdict";
}

} // namespace
} // namespace Platform::Linux::Wayland

#include "Platform/Linux/PipeWire/VideoFormats.h"

#include <gtest/gtest.h>
#include <libyuv/convert_from_argb.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace Platform::Linux::PipeWire {
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

SourcePicture packed(std::uint32_t format, const std::vector<std::uint8_t>& bytes) {
  SourcePicture picture{format, width, height, {}, {}};
  picture.planes[0] = bytes;
  picture.bytesPerRow[0] = bytesPerRow;
  return picture;
}

TEST(ConvertToBGRX, PutsEveryRGBOrderIntoBlueGreenRedX) {
  const std::vector<std::uint8_t> expected = image({0x33, 0x22, 0x11, 0x44});
  for (const Layout& layout : layouts) {
    const std::vector<std::uint8_t> source = image(layout.bytes);
    std::vector<std::uint8_t> destination(bytesPerRow * height, padding);
    ASSERT_TRUE(convertToBGRX(packed(layout.format, source), {0, 0, width, height},
                              destination.data(), bytesPerRow))
        << layout.name;
    EXPECT_EQ(destination, expected) << layout.name << ": pixels, and the padding left alone";
  }

  const std::vector<std::uint8_t> source = image({1, 2, 3, 4});
  std::vector<std::uint8_t> destination(bytesPerRow * height, padding);
  EXPECT_FALSE(convertToBGRX(packed(SPA_VIDEO_FORMAT_RGB16, source), {0, 0, width, height},
                             destination.data(), bytesPerRow))
      << "a format not taken";
  EXPECT_FALSE(convertToBGRX(packed(SPA_VIDEO_FORMAT_BGRx, source), {1, 0, width, height},
                             destination.data(), bytesPerRow))
      << "a region outside the picture";
  const std::vector<std::uint8_t> shortOfOneRow(bytesPerRow);
  EXPECT_FALSE(convertToBGRX(packed(SPA_VIDEO_FORMAT_BGRx, shortOfOneRow), {0, 0, width, height},
                             destination.data(), bytesPerRow))
      << "a producer that filled less than the picture";
}

// A 16x8 picture, its left half one colour and its right half another, as
// a camera sends it in each YUV layout; libyuv plays the camera.
constexpr std::int32_t cameraWidth = 16;
constexpr std::int32_t cameraHeight = 8;
constexpr std::array<std::uint8_t, 4> left{0x30, 0x80, 0xE0, 0xFF};  // B, G, R: orange
constexpr std::array<std::uint8_t, 4> right{0xD0, 0x60, 0x20, 0xFF}; // blue

std::vector<std::uint8_t> halves() {
  std::vector<std::uint8_t> bgra(cameraWidth * cameraHeight * 4);
  for (std::size_t pixel = 0; pixel < bgra.size() / 4; ++pixel) {
    const auto& colour =
        static_cast<std::int32_t>(pixel % cameraWidth) < cameraWidth / 2 ? left : right;
    std::copy(colour.begin(), colour.end(), bgra.begin() + static_cast<std::ptrdiff_t>(pixel * 4));
  }
  return bgra;
}

// The picture in `format`, its planes one after the other, rows of the luma
// plane `stride` bytes apart (wider than the picture: cameras pad rows).
std::vector<std::uint8_t> encoded(std::uint32_t format, int stride) {
  const std::vector<std::uint8_t> bgra = halves();
  const int w = cameraWidth;
  const int h = cameraHeight;
  const int bgraStride = w * 4;
  std::vector<std::uint8_t> block(static_cast<std::size_t>(stride * h * 2), 0);
  std::uint8_t* luma = block.data();
  std::uint8_t* chroma = luma + stride * h;
  switch (format) {
  case SPA_VIDEO_FORMAT_YUY2:
    libyuv::ARGBToYUY2(bgra.data(), bgraStride, luma, stride, w, h);
    break;
  case SPA_VIDEO_FORMAT_UYVY:
    libyuv::ARGBToUYVY(bgra.data(), bgraStride, luma, stride, w, h);
    break;
  case SPA_VIDEO_FORMAT_NV12:
    libyuv::ARGBToNV12(bgra.data(), bgraStride, luma, stride, chroma, stride, w, h);
    break;
  case SPA_VIDEO_FORMAT_NV21:
    libyuv::ARGBToNV21(bgra.data(), bgraStride, luma, stride, chroma, stride, w, h);
    break;
  case SPA_VIDEO_FORMAT_I420:
  case SPA_VIDEO_FORMAT_YV12: {
    std::uint8_t* u = chroma;
    std::uint8_t* v = chroma + stride / 2 * h / 2;
    if (format == SPA_VIDEO_FORMAT_YV12) {
      std::swap(u, v);
    }
    libyuv::ARGBToI420(bgra.data(), bgraStride, luma, stride, u, stride / 2, v, stride / 2, w, h);
    break;
  }
  }
  return block;
}

// Whether a converted pixel is the colour, give or take YUV's rounding.
::testing::AssertionResult near(const std::uint8_t* pixel,
                                const std::array<std::uint8_t, 4>& colour) {
  for (int channel = 0; channel < 3; ++channel) {
    if (std::abs(pixel[channel] - colour[channel]) > 8) {
      return ::testing::AssertionFailure()
             << "B, G, R " << int(pixel[0]) << ", " << int(pixel[1]) << ", " << int(pixel[2])
             << " instead of " << int(colour[0]) << ", " << int(colour[1]) << ", "
             << int(colour[2]);
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(ConvertToBGRX, DecodesTheYUVLayoutsCamerasSend) {
  const std::pair<std::uint32_t, const char*> formats[] = {
      {SPA_VIDEO_FORMAT_YUY2, "YUY2"}, {SPA_VIDEO_FORMAT_UYVY, "UYVY"},
      {SPA_VIDEO_FORMAT_NV12, "NV12"}, {SPA_VIDEO_FORMAT_NV21, "NV21"},
      {SPA_VIDEO_FORMAT_I420, "I420"}, {SPA_VIDEO_FORMAT_YV12, "YV12"}};
  for (const auto& [format, name] : formats) {
    const bool packedYUV = format == SPA_VIDEO_FORMAT_YUY2 || format == SPA_VIDEO_FORMAT_UYVY;
    const int stride = packedYUV ? cameraWidth * 2 + 8 : cameraWidth + 8;
    const std::vector<std::uint8_t> block = encoded(format, stride);
    const SourcePicture picture = contiguousPlanes(format, cameraWidth, cameraHeight, block,
                                                   static_cast<std::size_t>(stride));

    std::vector<std::uint8_t> whole(cameraWidth * cameraHeight * 4);
    ASSERT_TRUE(
        convertToBGRX(picture, {0, 0, cameraWidth, cameraHeight}, whole.data(), cameraWidth * 4))
        << name;
    EXPECT_TRUE(near(&whole[0], left)) << name << ": the top left";
    EXPECT_TRUE(near(&whole[((cameraHeight - 1) * cameraWidth + cameraWidth - 1) * 4], right))
        << name << ": the bottom right";

    // A crop of the right half starts at its own first pixel.
    std::vector<std::uint8_t> cut(cameraWidth / 2 * 2 * 4);
    ASSERT_TRUE(convertToBGRX(picture, {cameraWidth / 2, 2, cameraWidth / 2, 2}, cut.data(),
                              cameraWidth / 2 * 4))
        << name;
    EXPECT_TRUE(near(&cut[0], right)) << name << ": a cut region";

    const SourcePicture truncated = contiguousPlanes(format, cameraWidth, cameraHeight,
                                                     std::span(block).first(block.size() / 3),
                                                     static_cast<std::size_t>(stride));
    EXPECT_FALSE(
        convertToBGRX(truncated, {0, 0, cameraWidth, cameraHeight}, whole.data(), cameraWidth * 4))
        << name << ": a frame cut short is refused, not read past its end";
  }
}

// The picture as a JPEG, the way an MJPG camera sends each frame.
std::vector<std::uint8_t> jpeg() {
  std::vector<std::uint8_t> rgb;
  for (std::size_t pixel = 0; pixel < cameraWidth * cameraHeight; ++pixel) {
    const auto& colour =
        static_cast<std::int32_t>(pixel % cameraWidth) < cameraWidth / 2 ? left : right;
    rgb.insert(rgb.end(), {colour[2], colour[1], colour[0]});
  }
  jpeg_compress_struct compressor{};
  jpeg_error_mgr errors{};
  compressor.err = jpeg_std_error(&errors);
  jpeg_create_compress(&compressor);
  unsigned char* memory = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&compressor, &memory, &size);
  compressor.image_width = cameraWidth;
  compressor.image_height = cameraHeight;
  compressor.input_components = 3;
  compressor.in_color_space = JCS_RGB;
  jpeg_set_defaults(&compressor);
  jpeg_set_quality(&compressor, 95, TRUE);
  jpeg_start_compress(&compressor, TRUE);
  while (compressor.next_scanline < compressor.image_height) {
    JSAMPROW row = rgb.data() + compressor.next_scanline * cameraWidth * 3;
    jpeg_write_scanlines(&compressor, &row, 1);
  }
  jpeg_finish_compress(&compressor);
  jpeg_destroy_compress(&compressor);
  std::vector<std::uint8_t> bytes(memory, memory + size);
  std::free(memory);
  return bytes;
}

TEST(ConvertToBGRX, DecodesMJPGAndRefusesABrokenFrame) {
  std::vector<std::uint8_t> frame = jpeg();
  std::vector<std::uint8_t> decoded(cameraWidth * cameraHeight * 4);
  ASSERT_TRUE(convertToBGRX(contiguousPlanes(mjpgFormat, cameraWidth, cameraHeight, frame, 0),
                            {0, 0, cameraWidth, cameraHeight}, decoded.data(), cameraWidth * 4));
  EXPECT_TRUE(near(&decoded[0], left));
  EXPECT_TRUE(near(&decoded[(cameraWidth - 1) * 4], right));

  frame.resize(frame.size() / 4);
  std::fill(frame.begin() + 2, frame.end(), 0x5A);
  EXPECT_FALSE(convertToBGRX(contiguousPlanes(mjpgFormat, cameraWidth, cameraHeight, frame, 0),
                             {0, 0, cameraWidth, cameraHeight}, decoded.data(), cameraWidth * 4));
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

  Offer& mjpg() {
    params_.push_back(static_cast<const spa_pod*>(
        spa_pod_builder_add_object(&builder_, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
                                   SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                                   SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_mjpg))));
    return *this;
  }

  std::optional<std::string> complaint() const {
    return unrecordableOffer(params_, "The screen cast");
  }

private:
  std::array<std::uint8_t, 4096> storage_{};
  spa_pod_builder builder_ = SPA_POD_BUILDER_INIT(storage_.data(), sizeof storage_);
  std::vector<const spa_pod*> params_;
};

TEST(UnrecordableOffer, NamesWhatIsOfferedWhenNothingFits) {
  EXPECT_EQ(Offer().raw({SPA_VIDEO_FORMAT_NV12}, true).complaint(),
            "The screen cast offers only NV12 (DmaBuf), which cannot be recorded");
  EXPECT_EQ(Offer()
                .raw({SPA_VIDEO_FORMAT_RGB, SPA_VIDEO_FORMAT_GRAY8})
                .raw({SPA_VIDEO_FORMAT_BGRx}, true)
                .h264()
                .complaint(),
            "The screen cast offers only RGB, GRAY8, BGRx (DmaBuf) and video/h264, which cannot "
            "be recorded")
      << "a format we take, but only in GPU memory, does not fit";

  EXPECT_EQ(Offer().raw({SPA_VIDEO_FORMAT_BGRx}, true).raw({SPA_VIDEO_FORMAT_BGRx}).complaint(),
            std::nullopt)
      << "the same format in shared memory too";
  EXPECT_EQ(Offer().raw({SPA_VIDEO_FORMAT_GRAY8, SPA_VIDEO_FORMAT_xBGR}).complaint(), std::nullopt)
      << "one of the choices fits";
  EXPECT_EQ(Offer().raw({SPA_VIDEO_FORMAT_YUY2}, true).mjpg().complaint(), std::nullopt)
      << "a camera's MJPG";
  EXPECT_EQ(Offer().complaint(), std::nullopt) << "an offer that could not be read is no verdict";
}

} // namespace
} // namespace Platform::Linux::PipeWire

#include "Platform/Linux/Wayland/CastFormats.h"

#include <libyuv/convert_argb.h>
#include <spa/param/video/raw.h>

#include <algorithm>
#include <array>

namespace Platform::Linux::Wayland {

namespace {

using Copy = int (*)(const std::uint8_t*, int, std::uint8_t*, int, int, int);

struct TakenFormat {
  std::uint32_t format;
  Copy copy; // into libyuv's "ARGB", which is B, G, R, A in memory
};

// SPA names formats by their bytes in memory, libyuv by a little-endian
// word: SPA's RGBx is libyuv's ABGR, its xRGB libyuv's BGRA.
constexpr std::array<TakenFormat, 8> takenFormats{{
    {SPA_VIDEO_FORMAT_BGRx, libyuv::ARGBCopy},
    {SPA_VIDEO_FORMAT_BGRA, libyuv::ARGBCopy},
    {SPA_VIDEO_FORMAT_RGBx, libyuv::ABGRToARGB},
    {SPA_VIDEO_FORMAT_RGBA, libyuv::ABGRToARGB},
    {SPA_VIDEO_FORMAT_xRGB, libyuv::BGRAToARGB},
    {SPA_VIDEO_FORMAT_ARGB, libyuv::BGRAToARGB},
    {SPA_VIDEO_FORMAT_xBGR, libyuv::RGBAToARGB},
    {SPA_VIDEO_FORMAT_ABGR, libyuv::RGBAToARGB},
}};

const TakenFormat* find(std::uint32_t format) {
  const auto* found =
      std::find_if(takenFormats.begin(), takenFormats.end(),
                   [&](const TakenFormat& taken) { return taken.format == format; });
  return found == takenFormats.end() ? nullptr : found;
}

} // namespace

std::span<const std::uint32_t> takenVideoFormats() {
  static const auto formats = [] {
    std::array<std::uint32_t, takenFormats.size()> formats{};
    std::transform(takenFormats.begin(), takenFormats.end(), formats.begin(),
                   [](const TakenFormat& taken) { return taken.format; });
    return formats;
  }();
  return formats;
}

bool copyAsBGRX(std::uint32_t format, const std::uint8_t* source, std::size_t sourceBytesPerRow,
                std::uint8_t* destination, std::size_t destinationBytesPerRow, std::int32_t width,
                std::int32_t height) {
  const TakenFormat* taken = find(format);
  if (taken == nullptr) {
    return false;
  }
  taken->copy(source, static_cast<int>(sourceBytesPerRow), destination,
              static_cast<int>(destinationBytesPerRow), width, height);
  return true;
}

} // namespace Platform::Linux::Wayland

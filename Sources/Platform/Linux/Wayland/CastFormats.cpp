#include "Platform/Linux/Wayland/CastFormats.h"

#include <libyuv/convert_argb.h>
#include <spa/debug/types.h>
#include <spa/param/format-types.h>
#include <spa/param/format-utils.h>
#include <spa/param/video/format.h>
#include <spa/param/video/raw-types.h>

#include <algorithm>
#include <array>
#include <vector>

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

std::string nameOf(const spa_type_info* names, std::uint32_t id) {
  const char* name = spa_debug_type_find_short_name(names, id);
  return name != nullptr ? name : "format " + std::to_string(id);
}

// What one EnumFormat param offers, by name; whether we take any of it.
bool describe(const spa_pod* param, std::vector<std::string>& names) {
  std::uint32_t mediaType = 0;
  std::uint32_t mediaSubtype = 0;
  if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0) {
    return false;
  }
  // Buffer modifiers are offered only with GPU memory.
  const bool dmaBuf = spa_pod_find_prop(param, nullptr, SPA_FORMAT_VIDEO_modifier) != nullptr;
  const auto add = [&](std::string name) {
    if (dmaBuf) {
      name += " (DmaBuf)";
    }
    if (std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(std::move(name));
    }
  };
  if (mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw) {
    add(nameOf(spa_type_media_type, mediaType) + "/" +
        nameOf(spa_type_media_subtype, mediaSubtype));
    return false;
  }
  const spa_pod_prop* format = spa_pod_find_prop(param, nullptr, SPA_FORMAT_VIDEO_format);
  if (format == nullptr) {
    return false;
  }
  std::uint32_t count = 0;
  std::uint32_t choice = 0;
  const spa_pod* values = spa_pod_get_values(&format->value, &count, &choice);
  if (values->type != SPA_TYPE_Id) {
    return false;
  }
  bool taken = false;
  const auto* ids = static_cast<const std::uint32_t*>(SPA_POD_BODY_CONST(values));
  for (std::uint32_t i = 0; i < count; ++i) {
    add(nameOf(spa_type_video_format, ids[i]));
    taken = taken || (!dmaBuf && find(ids[i]) != nullptr);
  }
  return taken;
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

std::optional<std::string> unrecordableOffer(std::span<const spa_pod* const> enumFormats) {
  std::vector<std::string> names;
  for (const spa_pod* param : enumFormats) {
    if (describe(param, names)) {
      return std::nullopt;
    }
  }
  if (names.empty()) {
    return std::nullopt;
  }
  std::string offered = names.front();
  for (std::size_t i = 1; i < names.size(); ++i) {
    offered += (i + 1 == names.size() ? " and " : ", ") + names[i];
  }
  return "The screen cast offers only " + offered + ", which cannot be recorded";
}

} // namespace Platform::Linux::Wayland

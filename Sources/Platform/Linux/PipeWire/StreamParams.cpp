#include "Platform/Linux/PipeWire/StreamParams.h"

#include "Platform/Linux/PipeWire/VideoFormats.h"

#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/buffers.h>
#include <spa/param/format.h>
#include <spa/param/video/format-utils.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

namespace Platform::Linux::PipeWire {

namespace {

// Largest frame side offered: beyond what any compositor casts.
constexpr std::uint32_t largestSide = 16384;
// Fastest frame rate offered, and the limit when the caller sets none.
constexpr std::uint32_t fastestRate = 1000;

// The rate limit as SPA states it: a fraction, within the rates offered.
spa_fraction rateLimit(double maxFrameRate) {
  if (!(maxFrameRate > 0) || maxFrameRate >= fastestRate) {
    return {fastestRate, 1};
  }
  // Microsecond precision: a limit of one frame an hour still counts.
  constexpr std::uint32_t denominator = 1'000'000;
  const auto numerator = std::max<std::uint32_t>(
      1, static_cast<std::uint32_t>(std::lround(maxFrameRate * denominator)));
  const std::uint32_t common = std::gcd(numerator, denominator);
  return {numerator / common, denominator / common};
}

// Producers that send at a fixed rate (framerate: cameras) are taken at it;
// those that cast at a variable rate (mutter, framerate 0/1) are asked for
// at most the limit (maxFramerate).
const spa_pod* enumFormat(spa_pod_builder& builder, spa_fraction limit, bool mjpg) {
  spa_rectangle defaultSize{1280, 720};
  spa_rectangle smallest{1, 1};
  spa_rectangle largest{largestSide, largestSide};
  spa_fraction variableRate{0, 1};
  spa_fraction fastest{fastestRate, 1};
  spa_pod_frame object;
  spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
  spa_pod_builder_add(&builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                      SPA_FORMAT_mediaSubtype,
                      SPA_POD_Id(mjpg ? SPA_MEDIA_SUBTYPE_mjpg : SPA_MEDIA_SUBTYPE_raw), 0);
  if (!mjpg) {
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_format, 0);
    spa_pod_frame choice;
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Enum, 0);
    const auto formats = takenRawFormats();
    spa_pod_builder_id(&builder, formats.front()); // the preferred one
    for (const std::uint32_t format : formats) {
      spa_pod_builder_id(&builder, format);
    }
    spa_pod_builder_pop(&builder, &choice);
  }
  spa_pod_builder_add(&builder, SPA_FORMAT_VIDEO_size,
                      SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &smallest, &largest),
                      SPA_FORMAT_VIDEO_framerate,
                      SPA_POD_CHOICE_RANGE_Fraction(&variableRate, &variableRate, &fastest),
                      SPA_FORMAT_VIDEO_maxFramerate,
                      SPA_POD_CHOICE_RANGE_Fraction(&limit, &variableRate, &limit), 0);
  return static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &object));
}

} // namespace

std::array<const spa_pod*, 2> offeredFormats(spa_pod_builder& builder, double maxFrameRate) {
  return {enumFormat(builder, rateLimit(maxFrameRate), false),
          enumFormat(builder, rateLimit(maxFrameRate), true)};
}

std::optional<AgreedFormat> agreedFormat(const spa_pod* format) {
  spa_video_info info{};
  if (format == nullptr || spa_format_video_parse(format, &info) < 0) {
    return std::nullopt;
  }
  if (info.media_subtype == SPA_MEDIA_SUBTYPE_raw) {
    return AgreedFormat{info.info.raw.format, static_cast<std::int32_t>(info.info.raw.size.width),
                        static_cast<std::int32_t>(info.info.raw.size.height)};
  }
  if (info.media_subtype == SPA_MEDIA_SUBTYPE_mjpg) {
    return AgreedFormat{mjpgFormat, static_cast<std::int32_t>(info.info.mjpg.size.width),
                        static_cast<std::int32_t>(info.info.mjpg.size.height)};
  }
  return std::nullopt;
}

std::array<const spa_pod*, 3> bufferParams(spa_pod_builder& builder) {
  return {
      static_cast<const spa_pod*>(spa_pod_builder_add_object(
          &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
          SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd)))),
      static_cast<const spa_pod*>(
          spa_pod_builder_add_object(&builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                     SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoCrop),
                                     SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region)))),
      static_cast<const spa_pod*>(spa_pod_builder_add_object(
          &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
          SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))))};
}

} // namespace Platform::Linux::PipeWire

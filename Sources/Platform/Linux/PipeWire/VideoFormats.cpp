#include "Platform/Linux/PipeWire/VideoFormats.h"

#include <libyuv/convert_argb.h>
#include <spa/debug/types.h>
#include <spa/param/format-types.h>
#include <spa/param/format-utils.h>
#include <spa/param/video/format.h>
#include <spa/param/video/raw-types.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace Platform::Linux::PipeWire {

namespace {

using PackedCopy = int (*)(const std::uint8_t*, int, std::uint8_t*, int, int, int);

struct PackedFormat {
  std::uint32_t format;
  int bytesPerPixel;
  PackedCopy copy; // into libyuv's "ARGB", which is B, G, R, A in memory
};

// SPA names formats by their bytes in memory, libyuv by a little-endian
// word: SPA's RGBx is libyuv's ABGR, its xRGB libyuv's BGRA.
constexpr std::array<PackedFormat, 10> packedFormats{{
    {SPA_VIDEO_FORMAT_BGRx, 4, libyuv::ARGBCopy},
    {SPA_VIDEO_FORMAT_BGRA, 4, libyuv::ARGBCopy},
    {SPA_VIDEO_FORMAT_RGBx, 4, libyuv::ABGRToARGB},
    {SPA_VIDEO_FORMAT_RGBA, 4, libyuv::ABGRToARGB},
    {SPA_VIDEO_FORMAT_xRGB, 4, libyuv::BGRAToARGB},
    {SPA_VIDEO_FORMAT_ARGB, 4, libyuv::BGRAToARGB},
    {SPA_VIDEO_FORMAT_xBGR, 4, libyuv::RGBAToARGB},
    {SPA_VIDEO_FORMAT_ABGR, 4, libyuv::RGBAToARGB},
    {SPA_VIDEO_FORMAT_YUY2, 2, libyuv::YUY2ToARGB},
    {SPA_VIDEO_FORMAT_UYVY, 2, libyuv::UYVYToARGB},
}};

constexpr std::array<std::uint32_t, 4> planarFormats{SPA_VIDEO_FORMAT_NV12, SPA_VIDEO_FORMAT_NV21,
                                                     SPA_VIDEO_FORMAT_I420, SPA_VIDEO_FORMAT_YV12};

const PackedFormat* findPacked(std::uint32_t format) {
  const auto* found =
      std::find_if(packedFormats.begin(), packedFormats.end(),
                   [&](const PackedFormat& packed) { return packed.format == format; });
  return found == packedFormats.end() ? nullptr : found;
}

bool isSemiPlanar(std::uint32_t format) {
  return format == SPA_VIDEO_FORMAT_NV12 || format == SPA_VIDEO_FORMAT_NV21;
}

// The rows and bytes of a plane a region reads, from its first byte; null
// when the plane is too short for them.
const std::uint8_t* regionStart(std::span<const std::uint8_t> plane, std::size_t bytesPerRow,
                                std::size_t firstRow, std::size_t rows, std::size_t firstByte,
                                std::size_t bytesPerRowRead) {
  if (rows == 0 || bytesPerRowRead > bytesPerRow) {
    return nullptr;
  }
  const std::size_t start = firstRow * bytesPerRow + firstByte;
  const std::size_t end = (firstRow + rows - 1) * bytesPerRow + firstByte + bytesPerRowRead;
  return end <= plane.size() ? plane.data() + start : nullptr;
}

bool convertPlanar(const SourcePicture& picture, const Region& region, std::uint8_t* destination,
                   int destinationStride) {
  // Chroma is shared by 2x2 pixels: a region starts on an even pixel.
  const auto x = static_cast<std::size_t>(region.x & ~1);
  const auto y = static_cast<std::size_t>(region.y & ~1);
  const auto width = static_cast<std::size_t>(region.width);
  const auto height = static_cast<std::size_t>(region.height);
  const std::size_t chromaRows = (height + 1) / 2;
  const std::uint8_t* luma =
      regionStart(picture.planes[0], picture.bytesPerRow[0], y, height, x, width);
  if (luma == nullptr) {
    return false;
  }
  const int lumaStride = static_cast<int>(picture.bytesPerRow[0]);
  const int w = region.width;
  const int h = region.height;
  if (isSemiPlanar(picture.format)) {
    const std::uint8_t* chroma = regionStart(picture.planes[1], picture.bytesPerRow[1], y / 2,
                                             chromaRows, x, (width + 1) / 2 * 2);
    if (chroma == nullptr) {
      return false;
    }
    const int chromaStride = static_cast<int>(picture.bytesPerRow[1]);
    return (picture.format == SPA_VIDEO_FORMAT_NV12
                ? libyuv::NV12ToARGB(luma, lumaStride, chroma, chromaStride, destination,
                                     destinationStride, w, h)
                : libyuv::NV21ToARGB(luma, lumaStride, chroma, chromaStride, destination,
                                     destinationStride, w, h)) == 0;
  }
  const std::size_t chromaWidth = (width + 1) / 2;
  const std::uint8_t* first =
      regionStart(picture.planes[1], picture.bytesPerRow[1], y / 2, chromaRows, x / 2, chromaWidth);
  const std::uint8_t* second =
      regionStart(picture.planes[2], picture.bytesPerRow[2], y / 2, chromaRows, x / 2, chromaWidth);
  if (first == nullptr || second == nullptr) {
    return false;
  }
  // YV12 is I420 with its chroma planes the other way round.
  const bool yv12 = picture.format == SPA_VIDEO_FORMAT_YV12;
  return libyuv::I420ToARGB(luma, lumaStride, yv12 ? second : first,
                            static_cast<int>(picture.bytesPerRow[yv12 ? 2 : 1]),
                            yv12 ? first : second,
                            static_cast<int>(picture.bytesPerRow[yv12 ? 1 : 2]), destination,
                            destinationStride, w, h) == 0;
}

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back to the decoder.
struct JpegErrors : jpeg_error_mgr {
  std::jmp_buf failed;
};

// Decodes one MJPG frame with libjpeg-turbo straight into B, G, R, X rows.
// Its conversion from YCbCr follows JFIF (full range), as JPEG is encoded.
// Only locals without destructors live here: a failure jumps over them.
bool decodeJpeg(std::span<const std::uint8_t> frame, std::int32_t width, std::int32_t height,
                std::uint8_t* destination, std::size_t destinationBytesPerRow) {
  jpeg_decompress_struct decoder{};
  JpegErrors errors{};
  decoder.err = jpeg_std_error(&errors);
  errors.error_exit = [](j_common_ptr common) {
    std::longjmp(static_cast<JpegErrors*>(common->err)->failed, 1);
  };
  // A damaged frame's warnings would go to stderr, once a frame.
  errors.output_message = [](j_common_ptr) {};
  if (setjmp(errors.failed) != 0) {
    jpeg_destroy_decompress(&decoder);
    return false;
  }
  jpeg_create_decompress(&decoder);
  jpeg_mem_src(&decoder, frame.data(), static_cast<unsigned long>(frame.size()));
  if (jpeg_read_header(&decoder, TRUE) != JPEG_HEADER_OK ||
      decoder.image_width != static_cast<JDIMENSION>(width) ||
      decoder.image_height != static_cast<JDIMENSION>(height)) {
    jpeg_destroy_decompress(&decoder);
    return false;
  }
  decoder.out_color_space = JCS_EXT_BGRX;
  jpeg_start_decompress(&decoder);
  while (decoder.output_scanline < decoder.output_height) {
    JSAMPROW row = destination + decoder.output_scanline * destinationBytesPerRow;
    jpeg_read_scanlines(&decoder, &row, 1);
  }
  jpeg_finish_decompress(&decoder);
  jpeg_destroy_decompress(&decoder);
  return true;
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
  if (mediaType == SPA_MEDIA_TYPE_video && mediaSubtype == SPA_MEDIA_SUBTYPE_mjpg) {
    add("MJPG");
    return !dmaBuf;
  }
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
    taken = taken || (!dmaBuf && planeCount(ids[i]) > 0 && ids[i] != mjpgFormat);
  }
  return taken;
}

} // namespace

std::span<const std::uint32_t> takenRawFormats() {
  static const auto formats = [] {
    std::array<std::uint32_t, packedFormats.size() + planarFormats.size()> formats{};
    auto end = std::transform(packedFormats.begin(), packedFormats.end(), formats.begin(),
                              [](const PackedFormat& packed) { return packed.format; });
    std::copy(planarFormats.begin(), planarFormats.end(), end);
    return formats;
  }();
  return formats;
}

std::size_t planeCount(std::uint32_t format) {
  if (format == mjpgFormat || findPacked(format) != nullptr) {
    return 1;
  }
  if (isSemiPlanar(format)) {
    return 2;
  }
  return std::find(planarFormats.begin(), planarFormats.end(), format) != planarFormats.end() ? 3
                                                                                              : 0;
}

std::size_t unpaddedBytesPerRow(std::uint32_t format, std::int32_t width) {
  const auto pixels = static_cast<std::size_t>(std::max(width, 0));
  if (const PackedFormat* packed = findPacked(format)) {
    return pixels * static_cast<std::size_t>(packed->bytesPerPixel);
  }
  return planeCount(format) > 1 ? pixels : 0;
}

SourcePicture contiguousPlanes(std::uint32_t format, std::int32_t width, std::int32_t height,
                               std::span<const std::uint8_t> block, std::size_t bytesPerRow) {
  SourcePicture picture{format, width, height, {}, {}};
  const std::size_t planes = planeCount(format);
  const std::size_t chromaRows = (static_cast<std::size_t>(height) + 1) / 2;
  std::size_t offset = 0;
  for (std::size_t plane = 0; plane < planes; ++plane) {
    const bool chroma = plane > 0;
    const std::size_t stride =
        chroma && !isSemiPlanar(format) ? (bytesPerRow + 1) / 2 : bytesPerRow;
    const std::size_t size =
        format == mjpgFormat ? block.size()
                             : stride * (chroma ? chromaRows : static_cast<std::size_t>(height));
    const std::size_t start = std::min(offset, block.size());
    picture.planes[plane] = block.subspan(start, std::min(size, block.size() - start));
    picture.bytesPerRow[plane] = stride;
    offset += size;
  }
  return picture;
}

bool convertToBGRX(const SourcePicture& picture, const Region& region, std::uint8_t* destination,
                   std::size_t destinationBytesPerRow) {
  const int destinationStride = static_cast<int>(destinationBytesPerRow);
  if (picture.format == mjpgFormat) {
    return !picture.planes[0].empty() &&
           decodeJpeg(picture.planes[0], picture.width, picture.height, destination,
                      destinationBytesPerRow);
  }
  if (region.x < 0 || region.y < 0 || region.width <= 0 || region.height <= 0 ||
      region.x + region.width > picture.width || region.y + region.height > picture.height) {
    return false;
  }
  if (const PackedFormat* packed = findPacked(picture.format)) {
    // Two-byte YUV pixels come in pairs that share their chroma.
    const std::int32_t x = packed->bytesPerPixel == 2 ? region.x & ~1 : region.x;
    const std::uint8_t* start =
        regionStart(picture.planes[0], picture.bytesPerRow[0], static_cast<std::size_t>(region.y),
                    static_cast<std::size_t>(region.height),
                    static_cast<std::size_t>(x * packed->bytesPerPixel),
                    static_cast<std::size_t>(region.width * packed->bytesPerPixel));
    if (start == nullptr) {
      return false;
    }
    return packed->copy(start, static_cast<int>(picture.bytesPerRow[0]), destination,
                        destinationStride, region.width, region.height) == 0;
  }
  if (planeCount(picture.format) > 1) {
    return convertPlanar(picture, region, destination, destinationStride);
  }
  return false;
}

std::optional<std::string> unrecordableOffer(std::span<const spa_pod* const> enumFormats,
                                             const std::string& subject) {
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
  return subject + " offers only " + offered + ", which cannot be recorded";
}

} // namespace Platform::Linux::PipeWire

#include "Platform/Linux/PipeWire/BufferPicture.h"

#include "Platform/Linux/PipeWire/FrameTiming.h"
#include "Platform/Linux/PipeWire/VideoFormats.h"

#include <spa/buffer/meta.h>

#include <algorithm>
#include <optional>
#include <span>

namespace Platform::Linux::PipeWire {

namespace {

// What the producer filled of a plane; empty for a chunk that carries only
// cursor news (the picture did not change) or is corrupted.
std::span<const std::uint8_t> filled(const spa_data& data) {
  if (data.data == nullptr || data.chunk == nullptr || data.chunk->size == 0 ||
      (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0) {
    return {};
  }
  // Never read past what the producer filled, whatever it claims.
  const std::size_t offset = data.chunk->offset % std::max<std::uint32_t>(data.maxsize, 1);
  const std::size_t size = std::min<std::size_t>(data.maxsize - offset, data.chunk->size);
  return {static_cast<const std::uint8_t*>(data.data) + offset, size};
}

std::size_t bytesPerRow(const spa_data& data, const AgreedFormat& agreed, std::uint32_t plane) {
  const std::int32_t stride = data.chunk->stride;
  if (stride > 0) {
    return static_cast<std::size_t>(stride);
  }
  const std::size_t unpadded = unpaddedBytesPerRow(agreed.format, agreed.width);
  // Planes after the first of I420 and YV12 have half as many pixels a row.
  return plane == 0 || planeCount(agreed.format) == 2 ? unpadded : (unpadded + 1) / 2;
}

// The crop a window cast carries, within the picture; all of it otherwise.
Region cropOf(const spa_buffer& buffer, const AgreedFormat& agreed) {
  Region region{0, 0, agreed.width, agreed.height};
  const auto* crop = static_cast<const spa_meta_region*>(
      spa_buffer_find_meta_data(&buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
  if (crop == nullptr || crop->region.size.width == 0 || crop->region.size.height == 0 ||
      agreed.format == mjpgFormat) {
    return region;
  }
  region.x = std::clamp<std::int32_t>(crop->region.position.x, 0, agreed.width);
  region.y = std::clamp<std::int32_t>(crop->region.position.y, 0, agreed.height);
  region.width = std::min<std::int32_t>(static_cast<std::int32_t>(crop->region.size.width),
                                        agreed.width - region.x);
  region.height = std::min<std::int32_t>(static_cast<std::int32_t>(crop->region.size.height),
                                         agreed.height - region.y);
  return region;
}

} // namespace

bool copyPicture(const spa_buffer& buffer, const AgreedFormat& agreed, std::int64_t arrivedAt,
                 PipeWireFrames::Frame& into) {
  if (buffer.n_datas < 1 || agreed.width <= 0 || agreed.height <= 0) {
    return false;
  }
  const std::span<const std::uint8_t> first = filled(buffer.datas[0]);
  if (first.empty()) {
    return false;
  }
  // Planes come one to a data, or one after the other in the first.
  const std::size_t planes = planeCount(agreed.format);
  SourcePicture picture;
  if (planes > 1 && buffer.n_datas >= planes) {
    picture = {agreed.format, agreed.width, agreed.height, {}, {}};
    for (std::uint32_t plane = 0; plane < planes; ++plane) {
      picture.planes[plane] = filled(buffer.datas[plane]);
      picture.bytesPerRow[plane] = bytesPerRow(buffer.datas[plane], agreed, plane);
    }
  } else {
    picture =
        contiguousPlanes(agreed.format, agreed.width, agreed.height, first,
                         agreed.format == mjpgFormat ? 0 : bytesPerRow(buffer.datas[0], agreed, 0));
  }
  const Region region = cropOf(buffer, agreed);
  if (region.width <= 0 || region.height <= 0) {
    return false;
  }
  into.width = region.width;
  into.height = region.height;
  into.bytesPerRow = static_cast<std::size_t>(region.width) * 4;
  into.pixels.resize(into.bytesPerRow * static_cast<std::size_t>(region.height));
  if (!convertToBGRX(picture, region, into.pixels.data(), into.bytesPerRow)) {
    return false;
  }
  const auto* header = static_cast<const spa_meta_header*>(
      spa_buffer_find_meta_data(&buffer, SPA_META_Header, sizeof(spa_meta_header)));
  into.producedAtNanoseconds = productionInstant(
      header != nullptr ? std::optional<std::int64_t>(header->pts) : std::nullopt, arrivedAt);
  return true;
}

} // namespace Platform::Linux::PipeWire

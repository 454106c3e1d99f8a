#pragma once

#include "Platform/Linux/PipeWire/PipeWireFrames.h"

#include <spa/buffer/buffer.h>

#include <cstdint>

// The picture one PipeWire buffer carries, copied out of it: the one copy a
// frame takes, converted to B, G, R, X on the way and cut to the crop the
// producer attached. Pure; any thread.

namespace Platform::Linux::PipeWire {

// The format agreed with the producer (SPA_VIDEO_FORMAT_*, or mjpgFormat)
// and its size in pixels.
struct AgreedFormat {
  std::uint32_t format = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Fills `into`'s pixels, size and production instant from `buffer`, which
// arrived at `arrivedAt` (host-clock nanoseconds); its sequence is left as
// it was. False, leaving `into` partly written, for a buffer that carries no
// new picture (cursor news only, a corrupted or empty chunk, an empty crop)
// or one that does not convert.
bool copyPicture(const spa_buffer& buffer, const AgreedFormat& agreed, std::int64_t arrivedAt,
                 PipeWireFrames::Frame& into);

} // namespace Platform::Linux::PipeWire

#pragma once

#include "Platform/Linux/PipeWire/BufferPicture.h"

#include <spa/pod/builder.h>

#include <array>
#include <optional>

// What our video stream says to a producer when it connects (the formats
// it takes, at most the rate asked for), what the producer agreed to, and
// what the stream then asks for (the buffers and metadata it needs). Pure;
// any thread.

namespace Platform::Linux::PipeWire {

// The EnumFormat params, built in `builder`: a taken raw format, then MJPG,
// in shared memory, any size, at most `maxFrameRate` frames a second (no
// limit when it is not positive).
std::array<const spa_pod*, 2> offeredFormats(spa_pod_builder& builder, double maxFrameRate);

// The format a Format param agrees on; nothing for one we did not offer.
std::optional<AgreedFormat> agreedFormat(const spa_pod* format);

// The Buffers and Meta params, built in `builder`: memory the CPU can read
// (no GPU buffers), the crop a window cast carries, and when each frame was
// made.
std::array<const spa_pod*, 3> bufferParams(spa_pod_builder& builder);

} // namespace Platform::Linux::PipeWire

#pragma once

#include "Platform/Linux/Capture/CaptureSource.h"
#include "Platform/Linux/Capture/PixelBufferPool.h"
#include "Platform/SampleBuffer.h"
#include "Platform/ScreenCapture.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

// How a capture stream's grabs become the frames it delivers: their pacing,
// size, pixels and stamps. Pure but for the pool; the capture thread's.

namespace Platform::Linux::Capture {

// The pacing of a configuration's minimum frame interval: as fast as content
// changes (60 a second) when it sets none, never faster than a millisecond
// nor slower than an hour.
std::chrono::nanoseconds frameInterval(const CMTime& minimumFrameInterval);

// The frame size of content recorded at its own pixels: even, as 4:2:0
// video needs, and scaled down, aspect kept, to what encoders take.
std::pair<std::int64_t, std::int64_t> contentFrameSize(std::int64_t width, std::int64_t height);

// A screen sample of `pixels`, stamped `timestamp`, saying whether its
// content changed (`status`).
SampleBufferRef makeFrame(const std::shared_ptr<const FormatDescription>& format,
                          std::shared_ptr<const PixelBuffer> pixels, CMTime timestamp,
                          SCFrameStatus status);

// A black frame, for content that cannot be read yet.
std::shared_ptr<const PixelBuffer> blackFrame(PixelBufferPool& pool, std::uint32_t pixelFormat,
                                              std::int32_t width, std::int32_t height,
                                              std::vector<std::uint8_t>& scratch);

// The frame of a grab. When the grab lends its memory and the frame needs no
// scaling or other format, the frame is that memory: the X server drew it
// straight into the frame, and only the alpha bytes are set here.
std::shared_ptr<const PixelBuffer> framePixels(PixelBufferPool& pool, std::uint32_t pixelFormat,
                                               std::int32_t width, std::int32_t height,
                                               const Grab& grabbed,
                                               std::vector<std::uint8_t>& scratch);

// A steady-clock instant on the host clock that sample times use.
CMTime hostTimeAt(std::chrono::steady_clock::time_point instant);

} // namespace Platform::Linux::Capture

#pragma once

#include "Platform/SampleBuffer.h"
#include "Simulated/SampleGenerator.h"

#include <cstdint>
#include <functional>

// The generator sources of automatic mode: complete frames of a fixed size at
// a fixed interval, and 10 ms buffers of 48 kHz float audio. `post` hands a
// sample on; it runs on the generator's thread.

namespace Platform::Simulated {

using PostSample = std::function<void(SampleBufferRef)>;

SampleGenerator::Source videoSource(PostSample post, std::int32_t width, std::int32_t height,
                                    std::uint32_t pixelFormat, CMTime frameInterval);
SampleGenerator::Source audioSource(PostSample post, int channelCount, double toneFrequency);

} // namespace Platform::Simulated

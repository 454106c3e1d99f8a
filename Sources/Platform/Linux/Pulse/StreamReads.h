#pragma once

#include "Platform/Linux/Pulse/AudioBatcher.h"

#include <pulse/stream.h>

#include <cstddef>
#include <cstdint>

// What a record stream holds to read, taken into its batcher a stretch at a
// time, in order: a hole (sound the server lost) is skipped, so that later
// sound keeps its place; after each stretch of sound `afterSound()` runs
// (to stamp it). Called from the stream's read callback, the lock held.

namespace Platform::Linux::Pulse {

template <typename AfterSound>
void readInto(pa_stream* stream, AudioBatcher& batcher, std::size_t frameBytes,
              AfterSound&& afterSound) {
  for (;;) {
    const void* data = nullptr;
    std::size_t length = 0;
    if (pa_stream_peek(stream, &data, &length) < 0 || length == 0) {
      return;
    }
    if (data == nullptr) {
      batcher.skip(length / frameBytes);
      pa_stream_drop(stream);
      continue;
    }
    batcher.append(static_cast<const std::uint8_t*>(data), length);
    pa_stream_drop(stream);
    afterSound();
  }
}

} // namespace Platform::Linux::Pulse

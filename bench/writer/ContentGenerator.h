#pragma once

#include "Platform/SampleBuffer.h"

#include <cstdint>
#include <vector>

// Screen-like content for the benchmark: a wide textured page that scrolls
// sideways with a box moving over it, and a tone on both audio tracks. The
// same frames and audio are produced for the writer and for the ffmpeg
// command line. Not thread-safe.

namespace WriterBench {

inline constexpr int frameWidth = 1920;
inline constexpr int frameHeight = 1080;
inline constexpr int framesPerSecond = 24;

class ContentGenerator {
public:
  ContentGenerator();
  // The BGRA pixels of frame `index` (frameWidth x frameHeight, packed rows).
  std::vector<std::uint8_t> frame(int index) const;
  // 10 ms of system audio (48 kHz stereo float32) or microphone audio
  // (44.1 kHz mono int16), block `index`.
  std::vector<std::uint8_t> systemAudio(int index) const;
  std::vector<std::uint8_t> microphoneAudio(int index) const;

private:
  std::vector<std::uint8_t> page_; // 2 * frameWidth wide
};

} // namespace WriterBench

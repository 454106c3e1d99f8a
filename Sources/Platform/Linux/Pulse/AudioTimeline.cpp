#include "Platform/Linux/Pulse/AudioTimeline.h"

namespace Platform::Linux::Pulse {

namespace {
constexpr std::int64_t nanosecondsPerSecond = 1'000'000'000;
}

AudioTimeline::AudioTimeline(std::uint32_t sampleRate, std::int64_t toleranceNanoseconds)
    : sampleRate_(sampleRate == 0 ? 1 : sampleRate), tolerance_(toleranceNanoseconds) {}

std::int64_t AudioTimeline::framesToNanoseconds(std::uint64_t frames) const {
  // 128-bit intermediate: days of audio at high rates overflow 64 bits.
  const auto product = static_cast<unsigned __int128>(frames) * nanosecondsPerSecond;
  return static_cast<std::int64_t>(product / sampleRate_);
}

std::int64_t AudioTimeline::stamp(std::int64_t nowNanoseconds, std::int64_t delayNanoseconds,
                                  std::size_t frames) {
  const std::int64_t measured =
      nowNanoseconds - (delayNanoseconds > 0 ? delayNanoseconds : 0) - framesToNanoseconds(frames);
  if (!anchor_) {
    anchor_ = measured;
    framesSinceAnchor_ = 0;
  } else {
    const std::int64_t expected = *anchor_ + framesToNanoseconds(framesSinceAnchor_);
    if (measured - expected > tolerance_) {
      anchor_ = measured;
      framesSinceAnchor_ = 0;
      ++reanchors_;
    }
  }
  const std::int64_t start = *anchor_ + framesToNanoseconds(framesSinceAnchor_);
  framesSinceAnchor_ += frames;
  return start;
}

void AudioTimeline::skip(std::size_t frames) {
  if (anchor_) {
    framesSinceAnchor_ += frames;
  }
}

} // namespace Platform::Linux::Pulse

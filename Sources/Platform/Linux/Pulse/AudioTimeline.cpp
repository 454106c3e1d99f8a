#include "Platform/Linux/Pulse/AudioTimeline.h"

#include <algorithm>

namespace Platform::Linux::Pulse {

namespace {
constexpr std::int64_t nanosecondsPerSecond = 1'000'000'000;
}

AudioTimeline::AudioTimeline(std::uint32_t sampleRate, std::int64_t toleranceNanoseconds,
                             std::int64_t windowNanoseconds)
    : sampleRate_(sampleRate == 0 ? 1 : sampleRate), tolerance_(toleranceNanoseconds),
      window_(windowNanoseconds) {}

std::int64_t AudioTimeline::framesToNanoseconds(std::uint64_t frames) const {
  // 128-bit intermediate: days of audio at high rates overflow 64 bits.
  const auto product = static_cast<unsigned __int128>(frames) * nanosecondsPerSecond;
  return static_cast<std::int64_t>(product / sampleRate_);
}

std::size_t AudioTimeline::nanosecondsToFrames(std::int64_t nanoseconds) const {
  if (nanoseconds <= 0) {
    return 0;
  }
  const auto product = static_cast<unsigned __int128>(nanoseconds) * sampleRate_;
  return static_cast<std::size_t>(product / nanosecondsPerSecond);
}

void AudioTimeline::forgetReads() {
  smallestLead_.reset();
  windowCovered_ = 0;
}

std::optional<std::int64_t> AudioTimeline::end() const {
  if (!anchor_) {
    return std::nullopt;
  }
  return *anchor_ + framesToNanoseconds(framesSinceAnchor_);
}

AudioTimeline::Span AudioTimeline::silenceUntil(std::int64_t untilNanoseconds) {
  const auto from = end();
  if (!from) {
    return {};
  }
  const std::size_t frames = nanosecondsToFrames(untilNanoseconds - *from);
  framesSinceAnchor_ += frames;
  return {*from, frames};
}

AudioTimeline::Rejoin AudioTimeline::rejoin(std::int64_t nowNanoseconds, std::size_t frames) {
  forgetReads();
  const auto from = end();
  if (!from) {
    const std::int64_t start = stamp(nowNanoseconds, frames);
    return {0, start, 0, start};
  }
  const std::int64_t measured = nowNanoseconds - framesToNanoseconds(frames);
  Rejoin placed;
  placed.silenceStart = *from;
  if (measured >= *from) {
    placed.silenceFrames = nanosecondsToFrames(measured - *from);
  } else {
    placed.droppedFrames = std::min(frames, nanosecondsToFrames(*from - measured));
  }
  framesSinceAnchor_ += placed.silenceFrames;
  placed.start = *end();
  framesSinceAnchor_ += frames - placed.droppedFrames;
  return placed;
}

std::int64_t AudioTimeline::stamp(std::int64_t nowNanoseconds, std::size_t frames) {
  const std::int64_t duration = framesToNanoseconds(frames);
  const std::int64_t measured = nowNanoseconds - duration;
  if (!anchor_) {
    anchor_ = measured;
    framesSinceAnchor_ = 0;
  } else {
    const std::int64_t lead = measured - (*anchor_ + framesToNanoseconds(framesSinceAnchor_));
    smallestLead_ = std::min(smallestLead_.value_or(lead), lead);
    windowCovered_ += duration;
    if (windowCovered_ >= window_) {
      if (*smallestLead_ > tolerance_ || *smallestLead_ < -tolerance_) {
        *anchor_ += *smallestLead_;
        ++reanchors_;
      }
      smallestLead_.reset();
      windowCovered_ = 0;
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

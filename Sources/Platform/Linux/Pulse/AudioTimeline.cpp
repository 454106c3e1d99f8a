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
  framesToDrop_ = 0; // the rejoin places the buffer by its own read
  const auto from = end();
  if (!from) {
    return {0, 0, stamp(nowNanoseconds, frames)};
  }
  const std::int64_t measured = nowNanoseconds - framesToNanoseconds(frames);
  Rejoin placed;
  placed.silenceStart = *from;
  if (measured >= *from) {
    placed.silenceFrames = nanosecondsToFrames(measured - *from);
  } else {
    placed.placement.droppedFrames = std::min(frames, nanosecondsToFrames(*from - measured));
  }
  framesSinceAnchor_ += placed.silenceFrames;
  placed.placement.start = *end();
  framesSinceAnchor_ += frames - placed.placement.droppedFrames;
  return placed;
}

AudioTimeline::Placement AudioTimeline::stamp(std::int64_t nowNanoseconds, std::size_t frames) {
  const std::int64_t duration = framesToNanoseconds(frames);
  const std::int64_t measured = nowNanoseconds - duration;
  if (!anchor_) {
    anchor_ = measured;
    framesSinceAnchor_ = 0;
  } else {
    // Measured against where the buffer belongs, which is before the end by
    // the frames still to drop.
    const std::int64_t lead = measured - (*end() - framesToNanoseconds(framesToDrop_));
    smallestLead_ = std::min(smallestLead_.value_or(lead), lead);
    windowCovered_ += duration;
    if (windowCovered_ >= window_) {
      if (*smallestLead_ > tolerance_) {
        *anchor_ += *smallestLead_;
        ++reanchors_;
      } else if (*smallestLead_ < -tolerance_) {
        framesToDrop_ += nanosecondsToFrames(-*smallestLead_);
        ++reanchors_;
      }
      forgetReads();
    }
  }
  Placement placed;
  placed.droppedFrames = static_cast<std::size_t>(std::min<std::uint64_t>(framesToDrop_, frames));
  framesToDrop_ -= placed.droppedFrames;
  placed.start = *end();
  framesSinceAnchor_ += frames - placed.droppedFrames;
  return placed;
}

void AudioTimeline::skip(std::size_t frames) {
  if (anchor_) {
    // Missing frames the timeline had already passed leave nothing to drop.
    const std::uint64_t passed = std::min<std::uint64_t>(framesToDrop_, frames);
    framesToDrop_ -= passed;
    framesSinceAnchor_ += frames - passed;
  }
}

} // namespace Platform::Linux::Pulse

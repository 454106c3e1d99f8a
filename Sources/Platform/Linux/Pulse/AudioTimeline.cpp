#include "Platform/Linux/Pulse/AudioTimeline.h"

#include <algorithm>
#include <cmath>

namespace Platform::Linux::Pulse {

namespace {
constexpr std::int64_t nanosecondsPerSecond = 1'000'000'000;
// The loop's time constant: long against the jitter of the least delayed
// read, short against how fast a clock's rate wanders (with temperature,
// over minutes). Critically damped: a 100 ppm drift moves the stamps by
// less than a millisecond before the loop has it.
constexpr double loopSeconds = 10.0;
constexpr double proportionalGain = 2.0 / loopSeconds;
constexpr double integralGain = 1.0 / (loopSeconds * loopSeconds);
// Twice the error of the worst clock followed (1000 ppm; crystals hold 100),
// so that one that far off is still pulled in, and a pitch change of under
// four cents: nobody hears the steering.
constexpr double largestRateCorrection = 2e-3;
// Within this lead, at most the proportional correction of a 1000 ppm clock,
// the loop is near lock and learns the clock's rate.
constexpr std::int64_t integratedLeadNanoseconds = 5'000'000;
// Locked: the least delayed read of this many windows in a row (10 s) within
// a couple of milliseconds of the stamps, the jitter of that read, and the
// rate learnt meanwhile settled to within a few ppm.
constexpr std::uint32_t lockedWindows = 20;
constexpr std::int64_t lockedLeadNanoseconds = 2'000'000;
constexpr double lockedRateChange = 10e-6;
// A clock that moves less than this since it was reported is not worth a
// line (temperature moves a crystal by a few ppm).
constexpr double reportedClockChange = 50e-6;
} // namespace

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
  windowFirstRead_.reset();
}

std::optional<std::int64_t> AudioTimeline::end() const {
  if (!anchor_) {
    return std::nullopt;
  }
  return *anchor_ + framesToNanoseconds(framesSinceAnchor_) + std::llround(steered_);
}

void AudioTimeline::advance(std::uint64_t frames) {
  framesSinceAnchor_ += frames;
  steered_ += static_cast<double>(framesToNanoseconds(frames)) * rateCorrection_;
}

void AudioTimeline::steer(std::int64_t lead, std::int64_t windowLength) {
  const double error = static_cast<double>(lead) / nanosecondsPerSecond;
  const double seconds = static_cast<double>(windowLength) / nanosecondsPerSecond;
  const double integral = integral_ + integralGain * error * seconds;
  const double rate = integral + proportionalGain * error;
  rateCorrection_ = std::clamp(rate, -largestRateCorrection, largestRateCorrection);
  // The clock's rate is learnt only near lock: a large lead is an offset
  // (a late first read) that the proportional part takes back alone, and
  // learnt as a rate it would overshoot; nor while the correction is at its
  // limit (no wind-up).
  if (rate == rateCorrection_ && std::abs(lead) <= integratedLeadNanoseconds) {
    integral_ = integral;
  }
}

void AudioTimeline::closeWindow(std::int64_t lastRead) {
  const std::int64_t lead = *smallestLead_;
  // Reads that came in a rush, faster than half the pace of the sound they
  // held, caught up with a backlog: late by up to its length, their lead
  // tells nothing. Sound lost meanwhile shows in the reads after them.
  const bool caughtUp = 2 * (lastRead - *windowFirstRead_) < windowCovered_;
  if (lead > tolerance_ && caughtUp) {
    windowsOnTime_ = 0;
    forgetReads();
    return;
  }
  if (std::abs(lead) > tolerance_) {
    if (lead > 0) {
      *anchor_ += lead;
    } else {
      framesToDrop_ += nanosecondsToFrames(-lead);
    }
    ++reanchors_;
    unreportedStep_ = unreportedStep_.value_or(0) + lead;
  } else {
    steer(lead, windowCovered_);
  }
  const bool onTime = lead >= -lockedLeadNanoseconds && lead <= lockedLeadNanoseconds;
  if (!onTime) {
    windowsOnTime_ = 0;
  } else if (windowsOnTime_++ == 0) {
    rateOnTimeFrom_ = integral_;
  }
  forgetReads();
}

std::optional<double> AudioTimeline::clockToReport() {
  if (windowsOnTime_ < lockedWindows) {
    return std::nullopt;
  }
  if (std::fabs(integral_ - rateOnTimeFrom_) > lockedRateChange) {
    windowsOnTime_ = 1; // still learning the rate: judged again from here
    rateOnTimeFrom_ = integral_;
    return std::nullopt;
  }
  // A frame that lasts 1 + c nominal frames on the host clock comes from a
  // clock 1 / (1 + c) - 1 faster than nominal.
  const double clock = 1.0 / (1.0 + integral_) - 1.0;
  if (reportedClock_ && std::fabs(clock - *reportedClock_) <= reportedClockChange) {
    return std::nullopt;
  }
  reportedClock_ = clock;
  return clock * 1e6;
}

AudioTimeline::Span AudioTimeline::silenceUntil(std::int64_t untilNanoseconds) {
  const auto from = end();
  if (!from) {
    return {};
  }
  const std::size_t frames = nanosecondsToFrames(untilNanoseconds - *from);
  framesSinceAnchor_ += frames; // placed to meet the host clock: not steered
  return {*from, frames};
}

AudioTimeline::Rejoin AudioTimeline::rejoin(std::int64_t nowNanoseconds, std::size_t frames) {
  forgetReads();
  framesToDrop_ = 0; // the rejoin places the buffer by its own read
  // Perhaps another device, on a clock of its own: said again once locked.
  windowsOnTime_ = 0;
  reportedClock_.reset();
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
  advance(frames - placed.placement.droppedFrames);
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
    if (!windowFirstRead_) {
      windowFirstRead_ = nowNanoseconds - duration;
    }
    windowCovered_ += duration;
    if (windowCovered_ >= window_) {
      closeWindow(nowNanoseconds);
    }
  }
  Placement placed;
  placed.droppedFrames = static_cast<std::size_t>(std::min<std::uint64_t>(framesToDrop_, frames));
  framesToDrop_ -= placed.droppedFrames;
  placed.start = *end();
  advance(frames - placed.droppedFrames);
  return placed;
}

void AudioTimeline::skip(std::size_t frames) {
  if (anchor_) {
    // Missing frames the timeline had already passed leave nothing to drop.
    const std::uint64_t passed = std::min<std::uint64_t>(framesToDrop_, frames);
    framesToDrop_ -= passed;
    advance(frames - passed);
  }
}

} // namespace Platform::Linux::Pulse

#include "Platform/Linux/Pulse/AudioTimeline.h"

#include <gtest/gtest.h>

namespace {

using Platform::Linux::Pulse::AudioTimeline;

constexpr std::int64_t millisecond = 1'000'000;
constexpr std::int64_t tolerance = 15 * millisecond;
constexpr std::size_t framesOf10ms = 480; // at 48 kHz

TEST(AudioTimeline, FirstBufferStartsAtNowLessDelayLessItsDuration) {
  AudioTimeline timeline(48000, tolerance);
  // Read at 1 s, 25 ms still in the server: the 10 ms buffer began at 965 ms.
  EXPECT_EQ(timeline.stamp(1000 * millisecond, 25 * millisecond, framesOf10ms), 965 * millisecond);
}

TEST(AudioTimeline, JitterWithinToleranceKeepsBuffersBackToBack) {
  AudioTimeline timeline(48000, tolerance);
  const std::int64_t first = timeline.stamp(1000 * millisecond, 20 * millisecond, framesOf10ms);
  // Reads arrive late and early by several milliseconds, and the reported
  // delay wobbles; the stamps still advance by exactly 10 ms.
  const std::int64_t readTimes[] = {1013, 1018, 1034, 1039, 1052};
  const std::int64_t delays[] = {20, 22, 18, 24, 19};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(timeline.stamp(readTimes[i] * millisecond, delays[i] * millisecond, framesOf10ms),
              first + (i + 1) * 10 * millisecond)
        << "buffer " << i + 1;
  }
  EXPECT_EQ(timeline.reanchorCount(), 0U);
}

TEST(AudioTimeline, MovesAheadWhenTheMeasureRunsAheadBeyondTolerance) {
  AudioTimeline timeline(48000, tolerance);
  EXPECT_EQ(timeline.stamp(1000 * millisecond, 0, framesOf10ms), 990 * millisecond);
  // 100 ms of audio never reached us (an overrun): the next buffer really
  // began at 1090 ms, not at 1000 ms.
  EXPECT_EQ(timeline.stamp(1100 * millisecond, 0, framesOf10ms), 1090 * millisecond);
  EXPECT_EQ(timeline.reanchorCount(), 1U);
  // And continues from the new anchor.
  EXPECT_EQ(timeline.stamp(1111 * millisecond, 0, framesOf10ms), 1100 * millisecond);
}

TEST(AudioTimeline, NeverGoesBackwardsOrOverlaps) {
  AudioTimeline timeline(48000, tolerance);
  const std::int64_t first = timeline.stamp(1000 * millisecond, 0, framesOf10ms);
  // The delay report jumps up by 200 ms: followed, this buffer would start
  // 190 ms before the end of the previous one.
  const std::int64_t second = timeline.stamp(1010 * millisecond, 200 * millisecond, framesOf10ms);
  EXPECT_EQ(second, first + 10 * millisecond);
  EXPECT_EQ(timeline.reanchorCount(), 0U);
}

TEST(AudioTimeline, HoleDelaysTheNextBufferByItsLength) {
  AudioTimeline timeline(48000, tolerance);
  const std::int64_t first = timeline.stamp(1000 * millisecond, 0, framesOf10ms);
  timeline.skip(framesOf10ms * 3);
  EXPECT_EQ(timeline.stamp(1040 * millisecond, 0, framesOf10ms), first + 40 * millisecond);
}

TEST(AudioTimeline, UnevenRatesAccumulateWithoutDrift) {
  // 441 frames at 44.1 kHz is exactly 10 ms; 100 buffers are exactly 1 s even
  // though a single frame is not a whole number of nanoseconds.
  AudioTimeline timeline(44100, tolerance);
  const std::int64_t first = timeline.stamp(1000 * millisecond, 0, 441);
  std::int64_t last = first;
  for (int i = 1; i <= 100; ++i) {
    last = timeline.stamp((1000 + 10 * i) * millisecond, 0, 441);
  }
  EXPECT_EQ(last - first, 1000 * millisecond);
}

TEST(AudioTimeline, DaysOfAudioDoNotOverflow) {
  AudioTimeline timeline(192000, tolerance);
  const std::int64_t start = 5 * millisecond;
  EXPECT_EQ(timeline.stamp(start + 10 * millisecond, 0, 1920), start);
  // Three days at 192 kHz: frames * 1e9 is far beyond 64 bits.
  const std::size_t threeDays = std::size_t{192000} * 3 * 24 * 3600;
  timeline.skip(threeDays - 1920);
  const std::int64_t threeDaysNs = std::int64_t{3} * 24 * 3600 * 1000 * millisecond;
  EXPECT_EQ(timeline.stamp(start + threeDaysNs + 10 * millisecond, 0, 1920), start + threeDaysNs);
}

} // namespace

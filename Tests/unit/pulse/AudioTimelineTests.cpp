#include "Platform/Linux/Pulse/AudioTimeline.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Platform::Linux::Pulse::AudioTimeline;

constexpr std::int64_t millisecond = 1'000'000;
constexpr std::int64_t tolerance = 15 * millisecond;
constexpr std::size_t framesOf10ms = 480; // at 48 kHz

// Feeds 10 ms buffers read every 10 ms from `fromMs`; returns the stamps.
std::vector<std::int64_t> feed(AudioTimeline& timeline, std::int64_t fromMs, int count) {
  std::vector<std::int64_t> stamps;
  for (int i = 0; i < count; ++i) {
    stamps.push_back(timeline.stamp((fromMs + 10 * i) * millisecond, framesOf10ms));
  }
  return stamps;
}

TEST(AudioTimeline, FirstBufferStartsItsDurationBeforeItWasRead) {
  AudioTimeline timeline(48000, tolerance);
  EXPECT_EQ(timeline.stamp(1000 * millisecond, framesOf10ms), 990 * millisecond);
}

TEST(AudioTimeline, JitterWithinToleranceKeepsBuffersBackToBack) {
  AudioTimeline timeline(48000, tolerance);
  const std::int64_t first = timeline.stamp(1000 * millisecond, framesOf10ms);
  // Reads arrive late and early by several milliseconds; the stamps still
  // advance by exactly 10 ms.
  const std::int64_t readTimes[] = {1013, 1018, 1034, 1039, 1052};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(timeline.stamp(readTimes[i] * millisecond, framesOf10ms),
              first + (i + 1) * 10 * millisecond)
        << "buffer " << i + 1;
  }
  EXPECT_EQ(timeline.reanchorCount(), 0U);
}

TEST(AudioTimeline, FollowsAMeasureThatStaysAheadForAWholeWindow) {
  AudioTimeline timeline(48000, tolerance);
  EXPECT_EQ(timeline.stamp(1000 * millisecond, framesOf10ms), 990 * millisecond);
  // 100 ms of audio never reached us (an overrun): from here on every read
  // says the buffers began 100 ms later than the count does.
  const auto stamps = feed(timeline, 1110, 70);
  EXPECT_EQ(stamps.front(), 1000 * millisecond) << "one read is not yet evidence";
  EXPECT_EQ(timeline.reanchorCount(), 1U);
  EXPECT_EQ(stamps.back(), (1110 + 690 - 10) * millisecond) << "back on the measure";
}

TEST(AudioTimeline, LateReadsNeverPushTheSoundLater) {
  AudioTimeline timeline(48000, tolerance);
  const std::int64_t first = timeline.stamp(1000 * millisecond, framesOf10ms);
  // The reading thread is scheduled late, by up to 150 ms at a time and most
  // of the time, though a few reads in every window come on time.
  for (int i = 1; i <= 100; ++i) {
    const std::int64_t late = i % 7 == 0 ? 0 : (i % 4) * 50;
    EXPECT_EQ(timeline.stamp((1000 + 10 * i + late) * millisecond, framesOf10ms),
              first + i * 10 * millisecond);
  }
  EXPECT_EQ(timeline.reanchorCount(), 0U);
}

TEST(AudioTimeline, ALateFirstReadIsCorrectedBackOnceTheReadsAgree) {
  AudioTimeline timeline(48000, tolerance);
  // The first read came 80 ms late; every later one is on time.
  EXPECT_EQ(timeline.stamp(1080 * millisecond, framesOf10ms), 1070 * millisecond);
  const auto stamps = feed(timeline, 1010, 70);
  EXPECT_EQ(timeline.reanchorCount(), 1U);
  EXPECT_EQ(stamps.back(), (1010 + 690 - 10) * millisecond);
}

TEST(AudioTimeline, HoleDelaysTheNextBufferByItsLength) {
  AudioTimeline timeline(48000, tolerance);
  const std::int64_t first = timeline.stamp(1000 * millisecond, framesOf10ms);
  timeline.skip(framesOf10ms * 3);
  EXPECT_EQ(timeline.stamp(1040 * millisecond, framesOf10ms), first + 40 * millisecond);
}

TEST(AudioTimeline, UnevenRatesAccumulateWithoutDrift) {
  // 441 frames at 44.1 kHz is exactly 10 ms; 100 buffers are exactly 1 s even
  // though a single frame is not a whole number of nanoseconds.
  AudioTimeline timeline(44100, tolerance);
  const std::int64_t first = timeline.stamp(1000 * millisecond, 441);
  std::int64_t last = first;
  for (int i = 1; i <= 100; ++i) {
    last = timeline.stamp((1000 + 10 * i) * millisecond, 441);
  }
  EXPECT_EQ(last - first, 1000 * millisecond);
}

TEST(AudioTimeline, DaysOfAudioDoNotOverflow) {
  AudioTimeline timeline(192000, tolerance);
  const std::int64_t start = 5 * millisecond;
  EXPECT_EQ(timeline.stamp(start + 10 * millisecond, 1920), start);
  // Three days at 192 kHz: frames * 1e9 is far beyond 64 bits.
  const std::size_t threeDays = std::size_t{192000} * 3 * 24 * 3600;
  timeline.skip(threeDays - 1920);
  const std::int64_t threeDaysNs = std::int64_t{3} * 24 * 3600 * 1000 * millisecond;
  EXPECT_EQ(timeline.stamp(start + threeDaysNs + 10 * millisecond, 1920), start + threeDaysNs);
}

} // namespace

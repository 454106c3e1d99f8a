#include "Platform/Linux/Pulse/AudioTimeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using Platform::Linux::Pulse::AudioTimeline;

constexpr std::int64_t millisecond = 1'000'000;
constexpr std::int64_t tolerance = 15 * millisecond;
constexpr std::size_t framesOf10ms = 480; // at 48 kHz

// Feeds 10 ms buffers read every 10 ms from `fromMs`; returns where each
// buffer's kept frames start.
std::vector<std::int64_t> feed(AudioTimeline& timeline, std::int64_t fromMs, int count,
                               std::size_t* droppedFrames = nullptr) {
  std::vector<std::int64_t> stamps;
  for (int i = 0; i < count; ++i) {
    const auto placed = timeline.stamp((fromMs + 10 * i) * millisecond, framesOf10ms);
    stamps.push_back(placed.start);
    if (droppedFrames != nullptr) {
      *droppedFrames += placed.droppedFrames;
    }
  }
  return stamps;
}

std::int64_t startOf(AudioTimeline& timeline, std::int64_t readMs, std::size_t frames) {
  return timeline.stamp(readMs * millisecond, frames).start;
}

TEST(AudioTimeline, FirstBufferStartsItsDurationBeforeItWasRead) {
  AudioTimeline timeline(48000, tolerance);
  EXPECT_EQ(startOf(timeline, 1000, framesOf10ms), 990 * millisecond);
}

TEST(AudioTimeline, JitterWithinToleranceKeepsBuffersBackToBack) {
  AudioTimeline timeline(48000, tolerance);
  const std::int64_t first = startOf(timeline, 1000, framesOf10ms);
  // Reads arrive late and early by several milliseconds; the stamps still
  // advance by exactly 10 ms.
  const std::int64_t readTimes[] = {1013, 1018, 1034, 1039, 1052};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(startOf(timeline, readTimes[i], framesOf10ms), first + (i + 1) * 10 * millisecond)
        << "buffer " << i + 1;
  }
  EXPECT_EQ(timeline.reanchorCount(), 0U);
}

TEST(AudioTimeline, FollowsAMeasureThatStaysAheadForAWholeWindow) {
  AudioTimeline timeline(48000, tolerance);
  EXPECT_EQ(startOf(timeline, 1000, framesOf10ms), 990 * millisecond);
  // 100 ms of audio never reached us (an overrun): from here on every read
  // says the buffers began 100 ms later than the count does.
  const auto stamps = feed(timeline, 1110, 70);
  EXPECT_EQ(stamps.front(), 1000 * millisecond) << "one read is not yet evidence";
  EXPECT_EQ(timeline.reanchorCount(), 1U);
  EXPECT_EQ(stamps.back(), (1110 + 690 - 10) * millisecond) << "back on the measure";
}

TEST(AudioTimeline, ABacklogReadInARushKeepsItsPlaceAndOnlyLostSoundMovesTheCount) {
  // Our process was not run from 3 s to 8 s (stopped, or starved): the
  // server queued the sound meanwhile, and it is read in a rush, a buffer
  // every 0.1 ms, until the reads are on time again. The server may also
  // have lost 300 ms at 5 s, which no hole reported.
  for (const std::int64_t lost : {std::int64_t{0}, 300 * millisecond}) {
    SCOPED_TRACE(lost / millisecond);
    AudioTimeline timeline(48000, tolerance);
    const std::int64_t first = startOf(timeline, 1000, framesOf10ms);
    std::int64_t rushed = 0;
    std::optional<std::int64_t> onTimeAgain;
    std::size_t dropped = 0;
    for (int i = 1; i <= 1200; ++i) {
      const std::int64_t began = first + i * 10 * millisecond + (i > 400 ? lost : 0);
      std::int64_t read = began + 10 * millisecond;
      if (read > 3000 * millisecond && !onTimeAgain) {
        const std::int64_t rush = 8000 * millisecond + rushed++ * millisecond / 10;
        if (rush > read) {
          read = rush;
        } else {
          onTimeAgain = read;
        }
      }
      const auto placed = timeline.stamp(read, framesOf10ms);
      dropped += placed.droppedFrames;
      // Sound lost shows only in a window of reads on time.
      if (lost == 0 || (onTimeAgain && read > *onTimeAgain + 1000 * millisecond)) {
        EXPECT_EQ(placed.start, began) << "buffer " << i;
      }
    }
    EXPECT_EQ(dropped, 0U);
    EXPECT_EQ(timeline.reanchorCount(), lost == 0 ? 0U : 1U);
  }
}

TEST(AudioTimeline, LateReadsNeverPushTheSoundLater) {
  AudioTimeline timeline(48000, tolerance);
  const std::int64_t first = startOf(timeline, 1000, framesOf10ms);
  // The reading thread is scheduled late, by up to 150 ms at a time and most
  // of the time, though a few reads in every window come on time.
  for (int i = 1; i <= 100; ++i) {
    const std::int64_t late = i % 7 == 0 ? 0 : (i % 4) * 50;
    EXPECT_EQ(startOf(timeline, 1000 + 10 * i + late, framesOf10ms), first + i * 10 * millisecond);
  }
  EXPECT_EQ(timeline.reanchorCount(), 0U);
}

TEST(AudioTimeline, ALateFirstReadIsCorrectedBackByDroppingWhatWouldOverlap) {
  AudioTimeline timeline(48000, tolerance);
  // The first read came 80 ms late; every later one is on time.
  EXPECT_EQ(startOf(timeline, 1080, framesOf10ms), 1070 * millisecond);
  std::size_t dropped = 0;
  const auto stamps = feed(timeline, 1010, 70, &dropped);
  EXPECT_EQ(timeline.reanchorCount(), 1U);
  EXPECT_EQ(stamps.back(), (1010 + 690 - 10) * millisecond) << "back on the measure";
  // Sound already stamped stays where it is: the 80 ms the timeline ran ahead
  // are dropped from the buffers that follow, and no stamp goes back.
  EXPECT_EQ(dropped, 80U * 48);
  for (std::size_t i = 1; i < stamps.size(); ++i) {
    ASSERT_GE(stamps[i], stamps[i - 1]) << "buffer " << i;
  }
  EXPECT_EQ(timeline.end(), (1010 + 690) * millisecond);
}

// A first read that came late, though by less than the tolerance, set the
// start late; the loop pulls the stamps back onto the reads within 20 s,
// frame by frame, where a count alone would keep the sound late for good.
TEST(AudioTimeline, ALateFirstReadWithinTheToleranceIsPulledInWithoutADrop) {
  AudioTimeline timeline(48000, tolerance);
  EXPECT_EQ(startOf(timeline, 1012, framesOf10ms), 1002 * millisecond);
  std::size_t dropped = 0;
  const auto stamps = feed(timeline, 1010, 6000, &dropped); // a minute on time
  EXPECT_EQ(dropped, 0U);
  EXPECT_EQ(timeline.reanchorCount(), 0U);
  for (std::size_t i = 1; i < stamps.size(); ++i) {
    ASSERT_GT(stamps[i], stamps[i - 1]) << "buffer " << i;
  }
  // Buffer i was read at 1010 + 10 i ms and began 10 ms before.
  const auto lateBy = [&](std::size_t i) {
    return static_cast<double>(stamps[i] - static_cast<std::int64_t>(1000 + 10 * i) * millisecond);
  };
  EXPECT_LT(lateBy(1000), 4 * millisecond) << "after 10 s";
  for (std::size_t i = 2000; i < stamps.size(); ++i) {
    ASSERT_LT(std::abs(lateBy(i)), 1 * millisecond) << "buffer " << i;
  }
}

TEST(AudioTimeline, ALeadThatShrinksDropsTheOverlapEvenAcrossAHole) {
  AudioTimeline timeline(48000, tolerance);
  feed(timeline, 1000, 50); // on time, up to 1490 ms
  // A monitor's lead shrinks by 30 ms: from here on each buffer measures 30 ms
  // before where the count puts it.
  std::size_t dropped = 0;
  feed(timeline, 1470, 50, &dropped);
  EXPECT_EQ(timeline.reanchorCount(), 1U);
  EXPECT_EQ(dropped, 30U * 48);
  EXPECT_EQ(timeline.end(), 1960 * millisecond);

  // 20 ms back again; the first buffer after the move is dropped whole, and
  // then a hole: it covers the 10 ms still to drop, and the rest of it
  // delays the next buffer as a hole does.
  feed(timeline, 1950, 1, &dropped);
  EXPECT_EQ(dropped, 40U * 48);
  timeline.skip(framesOf10ms * 3);
  const auto next = timeline.stamp(1990 * millisecond, framesOf10ms);
  EXPECT_EQ(next.droppedFrames, 0U);
  EXPECT_EQ(next.start, 1980 * millisecond);
}

TEST(AudioTimeline, HoleDelaysTheNextBufferByItsLength) {
  AudioTimeline timeline(48000, tolerance);
  const std::int64_t first = startOf(timeline, 1000, framesOf10ms);
  timeline.skip(framesOf10ms * 3);
  EXPECT_EQ(startOf(timeline, 1040, framesOf10ms), first + 40 * millisecond);
}

TEST(AudioTimeline, UnevenRatesAccumulateWithoutDrift) {
  // 441 frames at 44.1 kHz is exactly 10 ms; 100 buffers are exactly 1 s even
  // though a single frame is not a whole number of nanoseconds.
  AudioTimeline timeline(44100, tolerance);
  const std::int64_t first = startOf(timeline, 1000, 441);
  std::int64_t last = first;
  for (int i = 1; i <= 100; ++i) {
    last = startOf(timeline, 1000 + 10 * i, 441);
  }
  EXPECT_EQ(last - first, 1000 * millisecond);
}

TEST(AudioTimeline, DaysOfAudioDoNotOverflow) {
  AudioTimeline timeline(192000, tolerance);
  const std::int64_t start = 5 * millisecond;
  EXPECT_EQ(timeline.stamp(start + 10 * millisecond, 1920).start, start);
  // Three days at 192 kHz: frames * 1e9 is far beyond 64 bits.
  const std::size_t threeDays = std::size_t{192000} * 3 * 24 * 3600;
  timeline.skip(threeDays - 1920);
  const std::int64_t threeDaysNs = std::int64_t{3} * 24 * 3600 * 1000 * millisecond;
  EXPECT_EQ(timeline.stamp(start + threeDaysNs + 10 * millisecond, 1920).start,
            start + threeDaysNs);
}

// A source that goes away and comes back: silence keeps the track running on
// the host clock, and the returning sound lands where it was really captured,
// back to back with the silence.
TEST(AudioTimeline, SilenceCoversALossAndTheReturningSourceMeetsIt) {
  AudioTimeline timeline(48000, tolerance);
  EXPECT_EQ(timeline.silenceUntil(5000 * millisecond).frames, 0U) << "nothing to extend yet";
  feed(timeline, 1000, 10); // audio up to 1090 ms
  ASSERT_EQ(timeline.end(), 1090 * millisecond);

  // Gone for a while: silence in uneven slices, each from where the last ended.
  const auto first = timeline.silenceUntil(1125 * millisecond);
  EXPECT_EQ(first.start, 1090 * millisecond);
  EXPECT_EQ(first.frames, 35U * 48);
  const auto second = timeline.silenceUntil(1700 * millisecond);
  EXPECT_EQ(second.start, 1125 * millisecond);
  EXPECT_EQ(second.frames, 575U * 48);
  EXPECT_EQ(timeline.silenceUntil(1650 * millisecond).frames, 0U) << "never backwards";

  // Back: the first buffer, read at 1760 ms, began at 1750 ms; 50 ms of
  // silence fill the space before it.
  const auto back = timeline.rejoin(1760 * millisecond, framesOf10ms);
  EXPECT_EQ(back.silenceStart, 1700 * millisecond);
  EXPECT_EQ(back.silenceFrames, 50U * 48);
  EXPECT_EQ(back.placement.droppedFrames, 0U);
  EXPECT_EQ(back.placement.start, 1750 * millisecond);
  // From there on it is stamped on the count again, without a move.
  const auto after = feed(timeline, 1770, 60);
  EXPECT_EQ(after.front(), 1760 * millisecond);
  EXPECT_EQ(after.back(), (1760 + 590) * millisecond);
  EXPECT_EQ(timeline.reanchorCount(), 0U);
}

TEST(AudioTimeline, ReturningSoundThatOverlapsTheSilenceLosesOnlyTheOverlap) {
  AudioTimeline timeline(48000, tolerance);
  feed(timeline, 1000, 1); // up to 1000 ms
  timeline.silenceUntil(1300 * millisecond);
  // Read at 1305 ms, 40 ms long: it began at 1265 ms, inside the silence.
  const auto back = timeline.rejoin(1305 * millisecond, 4 * framesOf10ms);
  EXPECT_EQ(back.silenceFrames, 0U);
  EXPECT_EQ(back.placement.droppedFrames, 35U * 48);
  EXPECT_EQ(back.placement.start, 1300 * millisecond);
  EXPECT_EQ(timeline.end(), 1305 * millisecond);

  // A buffer entirely inside the silence is dropped whole, and the timeline
  // does not move.
  timeline.silenceUntil(1500 * millisecond);
  const auto inside = timeline.rejoin(1450 * millisecond, framesOf10ms);
  EXPECT_EQ(inside.placement.droppedFrames, framesOf10ms);
  EXPECT_EQ(timeline.end(), 1500 * millisecond);
}

TEST(AudioTimeline, HoursOfSilenceAtAnUnevenRateStayOnTheClock) {
  // 44.1 kHz frames are not whole nanoseconds: slices of silence must not
  // round away time, or a long outage would shift every later sound.
  AudioTimeline timeline(44100, tolerance);
  timeline.stamp(1010 * millisecond, 441);
  std::int64_t until = 1010 * millisecond;
  for (int slice = 0; slice < 3 * 3600 * 50; ++slice) {
    until += 20 * millisecond + 7; // uneven slices
    timeline.silenceUntil(until);
  }
  ASSERT_TRUE(timeline.end().has_value());
  EXPECT_LE(until - *timeline.end(), 23'000) << "less than a frame behind the clock";
  EXPECT_GE(until - *timeline.end(), 0);
}

// A card whose sample clock runs up to 1000 ppm fast or slow against the
// host clock, read for an hour by a thread that is mostly a little late and
// sometimes very late: the stamps follow the host clock, not the count,
// locked within 30 s; the loop that keeps them there never drops or inserts
// a frame, and the clock it measured is said once, as it is.
TEST(AudioTimeline, StampsFollowTheHostClockThroughAnHourOfSourceClockDrift) {
  constexpr std::size_t framesPer40ms = 1920;
  constexpr int buffersPerHour = 3600 * 25;
  for (const double drift : {100e-6, -100e-6, 300e-6, -300e-6, 1000e-6, -1000e-6}) {
    SCOPED_TRACE(std::to_string(drift * 1e6) + " ppm");
    AudioTimeline timeline(48000, tolerance);
    std::mt19937 random(24);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    // Host nanoseconds a source frame lasts.
    const double framePeriod = 1e9 / 48000 / (1 + drift);
    const double captureStart = 5e9;
    std::int64_t worstError = 0;
    std::int64_t worstSettledError = 0;
    std::size_t dropped = 0;
    std::vector<double> reports;
    for (int i = 0; i < buffersPerHour; ++i) {
      const double capturedAt = captureStart + i * framesPer40ms * framePeriod;
      const double filledAt = capturedAt + framesPer40ms * framePeriod;
      // Cubed: most reads within a few milliseconds, some up to 60 ms late.
      const double late = std::pow(unit(random), 3) * 60 * millisecond;
      const auto expectedStart = timeline.end();
      const auto placed = timeline.stamp(std::llround(filledAt + late), framesPer40ms);
      dropped += placed.droppedFrames;
      if (expectedStart) {
        ASSERT_EQ(placed.start, *expectedStart) << "buffer " << i << " moved";
      }
      const std::int64_t error =
          std::abs(placed.start - static_cast<std::int64_t>(std::llround(capturedAt)));
      worstError = std::max(worstError, error);
      if (i >= 25 * 30) {
        worstSettledError = std::max(worstSettledError, error);
      }
      if (const auto clock = timeline.clockToReport()) {
        reports.push_back(*clock);
      }
    }
    EXPECT_EQ(dropped, 0U);
    EXPECT_EQ(timeline.reanchorCount(), 0U);
    // The count alone would be 360 ms to 3.6 s off after the hour.
    EXPECT_LE(worstError, 5 * millisecond);
    EXPECT_LE(worstSettledError, 2 * millisecond) << "after the first 30 s";
    ASSERT_FALSE(reports.empty()) << "the loop locked";
    EXPECT_LE(reports.size(), 2U) << "a steady clock is not said over and over";
    // Said once the stamps are locked, while the rate is still being learnt.
    EXPECT_NEAR(reports.back(), drift * 1e6, 25.0);
  }
}

// A headset plugged in mid-meeting: the recording moves to a device on
// another clock, which the loop follows within 30 s, and says.
TEST(AudioTimeline, ADeviceOnAnotherClockIsFollowedWithin30sOfTheSwitch) {
  constexpr std::size_t frames = 1920;
  AudioTimeline timeline(48000, tolerance);
  double readAt = 1e9;
  const auto run = [&](double drift, int buffers, std::int64_t* worstAfter30s,
                       std::vector<double>& reports) {
    const double period = frames * 1e9 / 48000 / (1 + drift);
    for (int i = 0; i < buffers; ++i) {
      readAt += period;
      const auto placed = timeline.stamp(std::llround(readAt), frames);
      EXPECT_EQ(placed.droppedFrames, 0U);
      const std::int64_t error =
          std::abs(placed.start - static_cast<std::int64_t>(std::llround(readAt - period)));
      if (i >= 25 * 30) {
        *worstAfter30s = std::max(*worstAfter30s, error);
      }
      if (const auto clock = timeline.clockToReport()) {
        reports.push_back(*clock);
      }
    }
  };
  std::int64_t worst = 0;
  std::vector<double> first;
  run(-300e-6, 25 * 120, &worst, first);
  ASSERT_FALSE(first.empty());
  EXPECT_NEAR(first.back(), -300, 25);

  readAt += 300 * millisecond; // the switch: no sound while the new device opens
  timeline.rejoin(std::llround(readAt), frames);
  worst = 0;
  std::vector<double> second;
  run(+300e-6, 25 * 120, &worst, second);
  EXPECT_LE(worst, 2 * millisecond) << "locked again within 30 s";
  ASSERT_FALSE(second.empty()) << "the new clock is said";
  EXPECT_NEAR(second.back(), 300, 25);
  EXPECT_EQ(timeline.reanchorCount(), 0U);
}

// A loss that is an event still moves the timeline at once while it is
// steered: the steering neither hides it nor takes minutes to follow it.
TEST(AudioTimeline, AnEventStillMovesASteeredTimelineAtOnce) {
  AudioTimeline timeline(48000, tolerance);
  const double framePeriod = 1e9 / 48000 / (1 + 80e-6);
  std::int64_t lost = 0;
  for (int i = 0; i < 25 * 600; ++i) {
    if (i == 25 * 300) {
      lost = 200 * millisecond; // the server dropped 200 ms that no hole reported
    }
    const double filledAt = 1e9 + (i + 1) * 1920 * framePeriod + static_cast<double>(lost);
    const std::int64_t start = timeline.stamp(std::llround(filledAt), 1920).start - lost;
    // Within a window of the loss, its reads are not yet evidence.
    const bool deciding = i >= 25 * 300 && i < 25 * 300 + 14;
    if (!deciding) {
      EXPECT_NEAR(static_cast<double>(start), 1e9 + i * 1920 * framePeriod, 1 * millisecond)
          << "buffer " << i;
    }
  }
  EXPECT_EQ(timeline.reanchorCount(), 1U);
}

} // namespace

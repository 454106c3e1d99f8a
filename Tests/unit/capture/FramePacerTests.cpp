#include "Platform/Linux/Capture/FramePacer.h"

#include <gtest/gtest.h>

namespace Platform::Linux::Capture {
namespace {

using namespace std::chrono_literals;
using Clock = FramePacer::Clock;

const Clock::time_point start = Clock::time_point() + 1h;
constexpr std::chrono::nanoseconds period = 41'666'667ns; // 24 fps

TEST(FramePacer, DeadlinesStayOnTheGridWhateverTheLatenessBelowOnePeriod) {
  FramePacer pacer(start, period);
  EXPECT_EQ(pacer.deadline(), start);
  // Each frame is taken a little later than due, by varying amounts; the
  // next deadline never moves with it.
  const std::chrono::nanoseconds lateness[] = {0ns, 3ms, 40ms, 1ms, 41ms, 0ns};
  for (std::int64_t tick = 0; tick < 6; ++tick) {
    EXPECT_EQ(pacer.advance(pacer.deadline() + lateness[tick]), 0U) << "tick " << tick;
    EXPECT_EQ(pacer.deadline(), start + period * (tick + 1)) << "tick " << tick;
  }
  EXPECT_EQ(pacer.skipped(), 0U);
}

TEST(FramePacer, TenMinutesOfOnTimeFramesKeepTheExactRate) {
  FramePacer pacer(start, period);
  for (int frame = 0; frame < 24 * 600; ++frame) {
    pacer.advance(pacer.deadline() + 2ms);
  }
  EXPECT_EQ(pacer.deadline(), start + period * (24 * 600));
  EXPECT_EQ(pacer.skipped(), 0U);
}

TEST(FramePacer, SkipsOnlyGridPointsAWholePeriodOrMoreBehindAndCountsThem) {
  FramePacer pacer(start, period);
  // Frame 0 took until just past grid point 1: nothing is lost yet, frame 1
  // is due at once.
  EXPECT_EQ(pacer.advance(start + period + 1ms), 0U);
  EXPECT_EQ(pacer.deadline(), start + period);

  // Frame 1 stalled until after grid point 4: points 2 and 3 are gone, the
  // frame of point 4 is taken now.
  EXPECT_EQ(pacer.advance(start + period * 4 + 10ms), 2U);
  EXPECT_EQ(pacer.deadline(), start + period * 4);

  // Back on time: the grid continues where it was, not from the stall.
  EXPECT_EQ(pacer.advance(start + period * 4 + 1ms), 0U);
  EXPECT_EQ(pacer.deadline(), start + period * 5);
  EXPECT_EQ(pacer.skipped(), 2U);
}

TEST(FramePacer, AClockBeforeTheStartNeverSkips) {
  FramePacer pacer(start, period);
  EXPECT_EQ(pacer.advance(start - 5ms), 0U);
  EXPECT_EQ(pacer.deadline(), start + period);
  EXPECT_EQ(pacer.skipped(), 0U);
}

} // namespace
} // namespace Platform::Linux::Capture

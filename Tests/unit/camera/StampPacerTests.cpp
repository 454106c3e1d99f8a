#include "Platform/Linux/Camera/StampPacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace Platform::Linux::Camera {
namespace {

constexpr std::int64_t millisecond = 1'000'000;

// How many of a camera's frames are kept: `count` frames `spacing` apart,
// each off by the wobble of its turn.
int kept(std::int64_t interval, std::int64_t spacing, int count,
         const std::vector<std::int64_t>& wobble = {0}) {
  StampPacer pacer(interval, 3 * millisecond);
  int kept = 0;
  for (int frame = 0; frame < count; ++frame) {
    const std::int64_t stamp =
        frame * spacing + wobble[static_cast<std::size_t>(frame) % wobble.size()];
    kept += pacer.keep(stamp) ? 1 : 0;
  }
  return kept;
}

TEST(StampPacer, KeepsEveryFrameOfACameraAsFastAsAskedEvenWhenItsStampsWobble) {
  const std::int64_t thirtieth = 1'000 * millisecond / 30;
  EXPECT_EQ(kept(thirtieth, thirtieth, 300), 300);
  EXPECT_EQ(kept(thirtieth, thirtieth, 300, {0, -2 * millisecond, 1 * millisecond}), 300);
  EXPECT_EQ(kept(thirtieth, 40 * millisecond, 250), 250) << "a slower camera loses nothing";
  EXPECT_EQ(kept(0, millisecond, 100), 100) << "no rate asked: every frame";
}

TEST(StampPacer, LeavesOutAFasterCamerasFramesEvenly) {
  const std::int64_t sixtieth = 1'000 * millisecond / 60;
  EXPECT_EQ(kept(4 * sixtieth, sixtieth, 600), 150) << "60 a second kept at 15";
  EXPECT_EQ(kept(2 * sixtieth, sixtieth, 600, {0, 1 * millisecond, -1 * millisecond}), 300);
}

TEST(StampPacer, NeverKeepsTwoFramesCloserThanTheInterval) {
  // A frame the loop missed is not made up for by one too soon after it.
  StampPacer pacer(100 * millisecond, 3 * millisecond);
  EXPECT_TRUE(pacer.keep(0));
  EXPECT_TRUE(pacer.keep(150 * millisecond));
  EXPECT_FALSE(pacer.keep(200 * millisecond));
  EXPECT_TRUE(pacer.keep(250 * millisecond));
}

TEST(StampPacer, StartsAgainAfterAStall) {
  StampPacer pacer(100 * millisecond, 3 * millisecond);
  EXPECT_TRUE(pacer.keep(0));
  EXPECT_TRUE(pacer.keep(5'000 * millisecond)) << "the first frame after a stall";
  EXPECT_FALSE(pacer.keep(5'050 * millisecond));
  EXPECT_TRUE(pacer.keep(5'100 * millisecond));
}

} // namespace
} // namespace Platform::Linux::Camera

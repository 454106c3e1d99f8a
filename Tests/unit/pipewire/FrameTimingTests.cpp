#include "Platform/Linux/PipeWire/FrameTiming.h"

#include <gtest/gtest.h>

namespace Platform::Linux::PipeWire {
namespace {

constexpr std::int64_t millisecond = 1'000'000;
constexpr std::int64_t arrival = 5'000'000 * millisecond; // some 83 minutes of uptime

TEST(ProductionInstant, TakesAHostClockTimestampAndOnlyThat) {
  EXPECT_EQ(productionInstant(arrival - 12 * millisecond, arrival), arrival - 12 * millisecond);
  EXPECT_EQ(productionInstant(arrival - 1000 * millisecond, arrival), arrival - 1000 * millisecond)
      << "a second late is still the frame's own time";
  EXPECT_EQ(productionInstant(arrival, arrival), arrival);

  EXPECT_EQ(productionInstant(std::nullopt, arrival), arrival) << "no timestamp";
  EXPECT_EQ(productionInstant(arrival - 1000 * millisecond - 1, arrival), arrival)
      << "older than any compositor holds a frame";
  EXPECT_EQ(productionInstant(33 * millisecond, arrival), arrival)
      << "a stream clock that started at zero";
  EXPECT_EQ(productionInstant(1'700'000'000'000 * millisecond, arrival), arrival)
      << "the wall clock";
  EXPECT_EQ(productionInstant(arrival + 50 * millisecond, arrival), arrival) << "the future";
  EXPECT_EQ(productionInstant(arrival + 4 * millisecond, arrival), arrival)
      << "a frame stamped for when it will be shown, a moment ahead, arrived now";
}

} // namespace
} // namespace Platform::Linux::PipeWire

#include "Platform/Linux/Pulse/MonitorLead.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Platform::Linux::Pulse::MonitorLead;

constexpr std::int64_t millisecond = 1'000'000;

// A sink that renders 10 ms chunks on top of a 40 ms queue, asked at random
// moments: the latency it reports falls from 50 ms to 40 ms between renders.
struct RenderingSink {
  std::int64_t queued = 40 * millisecond;
  std::mt19937 random{7};
  std::int64_t answer() {
    return queued + 10 * millisecond -
           std::uniform_int_distribution<std::int64_t>(0, 10 * millisecond)(random);
  }
};

// The lead is the latency just after a render, held still while the answers
// only wander, and moved when the sink's queue really changes.
TEST(MonitorLead, IsTheLatencyAfterARenderAndMovesOnlyWithTheQueue) {
  MonitorLead lead;
  RenderingSink sink;
  std::int64_t value = lead.note(sink.answer());
  for (int i = 0; i < 16; ++i) {
    value = lead.note(sink.answer());
  }
  EXPECT_NEAR(static_cast<double>(value), 50.0 * millisecond, 5.0 * millisecond);
  const std::int64_t settled = value;
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(lead.note(sink.answer()), settled) << "answer " << i;
  }

  sink.queued = 80 * millisecond; // a player that asks for more joined
  for (int i = 0; i < 16; ++i) {
    value = lead.note(sink.answer());
  }
  EXPECT_NEAR(static_cast<double>(value), 90.0 * millisecond, 5.0 * millisecond);

  sink.queued = 20 * millisecond; // it left; the last answers of 80 ms age out
  for (int i = 0; i < 16; ++i) {
    value = lead.note(sink.answer());
  }
  EXPECT_NEAR(static_cast<double>(value), 30.0 * millisecond, 5.0 * millisecond);

  lead.reset(); // another sink: its first answer stands at once
  EXPECT_EQ(lead.note(5 * millisecond), 5 * millisecond);
}

} // namespace

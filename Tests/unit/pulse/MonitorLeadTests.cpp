#include "Platform/Linux/Pulse/MonitorLead.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Platform::Linux::Pulse::MonitorLead;
using Platform::Linux::Pulse::SinkLatency;

constexpr std::int64_t millisecond = 1'000'000;

// A sink that renders 10 ms chunks on top of a 40 ms queue, asked at random
// moments: the latency it reports falls from 50 ms to 40 ms between renders.
struct RenderingSink {
  std::int64_t queued = 40 * millisecond;
  std::mt19937 random{7};
  SinkLatency answer() {
    return {queued + 10 * millisecond -
                std::uniform_int_distribution<std::int64_t>(0, 10 * millisecond)(random),
            0};
  }
};

// A fixed-latency sink's lead is its latency just after a render, held
// still while the answers only wander, and moved when its queue really
// changes.
TEST(MonitorLead, OfAFixedSinkIsTheLatencyAfterARenderAndMovesOnlyWithTheQueue) {
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
  EXPECT_EQ(lead.note({5 * millisecond, 0}), 5 * millisecond);
}

// A dynamic sink fills its queue up to its configured latency; a null sink
// that rendered two seconds ahead before a monitor asked for 40 ms reports
// that for seconds, which would stamp the sound two seconds late.
TEST(MonitorLead, OfADynamicSinkIsItsConfiguredLatency) {
  MonitorLead lead;
  EXPECT_EQ(lead.note({1990 * millisecond, 40 * millisecond}), 40 * millisecond);
  EXPECT_EQ(lead.note({1500 * millisecond, 40 * millisecond}), 40 * millisecond);
  EXPECT_EQ(lead.note({30 * millisecond, 60 * millisecond}), 60 * millisecond);
}

} // namespace

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// How far ahead of its speaker a sink's monitor hears the sound. A sink
// renders a chunk, hands it to its monitor at once and queues it behind
// what the device still holds: the chunk is heard that queue later, which
// is the sink's latency just after a render. Between renders the latency
// falls as the device plays, by up to a chunk (tens of milliseconds), and
// the configured latency of a sink with a fixed one need not be what its
// device really queues. So the lead is the largest latency of the last few
// answers, asked at moments of no relation to the renders. That peak
// wanders by a millisecond or two with the moments asked; the lead moves
// only when it moves further, since every move of it steers the stamps.
//
// Thread contract: none; one owner notes and reads.

namespace Platform::Linux::Pulse {

class MonitorLead {
public:
  // Notes the sink's latency as just reported; returns the lead it gives.
  std::int64_t note(std::int64_t latencyNanoseconds);
  // Forgets the answers of a sink no longer monitored.
  void reset() {
    count_ = 0;
    next_ = 0;
  }

private:
  // At one answer every half second, the last eight seconds: enough that
  // their peak is within a few milliseconds of the true one, and a sink
  // whose queue shrank (a player left it) is followed within them.
  std::array<std::int64_t, 16> answers_{};
  std::size_t count_ = 0;
  std::size_t next_ = 0;
  std::int64_t lead_ = 0;
};

} // namespace Platform::Linux::Pulse

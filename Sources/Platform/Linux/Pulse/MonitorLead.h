#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// How far ahead of its speaker a sink's monitor hears the sound. A sink
// renders a chunk, hands it to its monitor at once and queues it behind
// what the device still holds: the chunk is heard that queue later.
//
// A sink whose latency is dynamic keeps its queue filled up to its
// configured latency, which is the lead. (What it reports as its current
// latency may be far more for seconds after a monitor asked for less: a
// null sink rendered two seconds ahead before.) A sink with a fixed
// latency states only a nominal one, which its device may exceed several
// times (a pipe's whole buffer): its lead is its current latency just after
// a render. Between renders that falls as the device plays, by up to a
// chunk, so it is the largest of the last few answers, asked at moments of
// no relation to the renders. That peak wanders by a millisecond or two
// with the moments asked; the lead moves only when it moves further, since
// every move of it steers the stamps.
//
// Thread contract: none; one owner notes and reads.

namespace Platform::Linux::Pulse {

// A sink's latency as it reports it.
struct SinkLatency {
  std::int64_t current = 0;    // what it queues now, nanoseconds
  std::int64_t configured = 0; // what a dynamic one keeps queued; 0 when fixed
};

class MonitorLead {
public:
  // Notes the sink's latency as just reported; returns the lead it gives.
  std::int64_t note(const SinkLatency& latency);
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

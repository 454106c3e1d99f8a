#pragma once

#include <chrono>
#include <cstdint>

// The instants a stream samples frames at: a fixed grid of absolute
// deadlines from the start, so the rate never drifts and lateness never
// accumulates. A tick that comes late by less than one period keeps its grid
// point; only ticks a whole period or more behind are skipped, and counted.
//
// Thread contract: one thread at a time (a stream's capture thread).

namespace Platform::Linux::Capture {

class FramePacer {
public:
  using Clock = std::chrono::steady_clock;

  FramePacer(Clock::time_point start, std::chrono::nanoseconds interval);

  // When the next frame is due.
  Clock::time_point deadline() const { return deadline_; }

  // Moves past the frame due at deadline(), given that it was taken at
  // `now`. Grid points already over when `now` is a period or more past
  // them are skipped; returns how many.
  std::uint64_t advance(Clock::time_point now);

  // Every grid point skipped so far.
  std::uint64_t skipped() const { return skipped_; }

private:
  Clock::time_point start_;
  std::chrono::nanoseconds interval_;
  std::uint64_t tick_ = 0;
  Clock::time_point deadline_;
  std::uint64_t skipped_ = 0;
};

} // namespace Platform::Linux::Capture

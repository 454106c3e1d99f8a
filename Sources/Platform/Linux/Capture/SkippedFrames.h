#pragma once

#include <array>
#include <chrono>
#include <cstdint>

// Counts the grid points a capture stream passed without a frame, by cause,
// and says so in the log at most once a second: a stalled machine should
// not also flood the log. The capture thread's.

namespace Platform::Linux::Capture {

class SkippedFrames {
public:
  enum class Cause {
    late,            // the capture thread woke a whole period or more late
    receiversBehind, // the frames delivered before are still being handled
  };

  SkippedFrames() = default;
  SkippedFrames(const SkippedFrames&) = delete;
  SkippedFrames& operator=(const SkippedFrames&) = delete;
  // Says what is still untold.
  ~SkippedFrames();

  void add(std::uint64_t count, Cause cause);

private:
  void report();

  std::array<std::uint64_t, 2> pending_{};
  std::uint64_t total_ = 0;
  std::chrono::steady_clock::time_point lastReport_{};
};

} // namespace Platform::Linux::Capture

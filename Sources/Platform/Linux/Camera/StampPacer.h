#pragma once

#include <cstdint>
#include <optional>

// Which of a camera's frames a recording keeps: at most one per interval,
// each the first frame at its point of a grid of that interval, judged by
// the frames' own stamps. A camera as fast as the rate asked for has every
// frame kept; a faster one has frames left out evenly. Pure; one thread.

namespace Platform::Linux::Camera {

class StampPacer {
public:
  // `interval` and `jitter` in nanoseconds: frames up to `jitter` before
  // their grid point still count as on it (a device's stamps wobble a
  // little). An interval of 0 keeps every frame.
  StampPacer(std::int64_t interval, std::int64_t jitter);

  // Whether the frame stamped `stamp` (host-clock nanoseconds) is kept.
  bool keep(std::int64_t stamp);

private:
  const std::int64_t interval_;
  const std::int64_t jitter_;
  std::optional<std::int64_t> due_; // the next grid point
};

} // namespace Platform::Linux::Camera

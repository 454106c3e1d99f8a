#pragma once

#include <cstdint>
#include <optional>

// Which of a camera's frames a recording keeps: no two closer together than
// the interval, judged by the frames' own stamps. A camera as fast as the
// rate asked for, or slower, has every frame kept; a faster one has frames
// left out evenly. Pure; one thread.

namespace Platform::Linux::Camera {

class StampPacer {
public:
  // `interval` and `jitter` in nanoseconds: frames up to `jitter` short of
  // the interval still count as an interval apart (a device's stamps wobble
  // a little). An interval of 0 keeps every frame.
  StampPacer(std::int64_t interval, std::int64_t jitter);

  // Whether the frame stamped `stamp` (host-clock nanoseconds) is kept.
  bool keep(std::int64_t stamp);

private:
  const std::int64_t interval_;
  const std::int64_t jitter_;
  std::optional<std::int64_t> lastKept_;
};

} // namespace Platform::Linux::Camera

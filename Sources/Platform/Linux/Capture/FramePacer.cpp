#include "Platform/Linux/Capture/FramePacer.h"

namespace Platform::Linux::Capture {

FramePacer::FramePacer(Clock::time_point start, std::chrono::nanoseconds interval)
    : start_(start), interval_(interval), deadline_(start) {}

std::uint64_t FramePacer::advance(Clock::time_point now) {
  std::uint64_t next = tick_ + 1;
  if (now > start_) {
    // The grid point now falls in: frames due before it are a period or
    // more late and can no longer be taken on time.
    const auto current = static_cast<std::uint64_t>((now - start_) / interval_);
    if (current > next) {
      next = current;
    }
  }
  const std::uint64_t skipped = next - tick_ - 1;
  skipped_ += skipped;
  tick_ = next;
  deadline_ = start_ + interval_ * static_cast<std::int64_t>(tick_);
  return skipped;
}

} // namespace Platform::Linux::Capture

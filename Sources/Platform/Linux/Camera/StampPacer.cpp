#include "Platform/Linux/Camera/StampPacer.h"

namespace Platform::Linux::Camera {

StampPacer::StampPacer(std::int64_t interval, std::int64_t jitter)
    : interval_(interval), jitter_(jitter) {}

bool StampPacer::keep(std::int64_t stamp) {
  if (interval_ > 0 && lastKept_ && stamp < *lastKept_ + interval_ - jitter_) {
    return false;
  }
  lastKept_ = stamp;
  return true;
}

} // namespace Platform::Linux::Camera

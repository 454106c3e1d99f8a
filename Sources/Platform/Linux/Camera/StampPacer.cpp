#include "Platform/Linux/Camera/StampPacer.h"

namespace Platform::Linux::Camera {

StampPacer::StampPacer(std::int64_t interval, std::int64_t jitter)
    : interval_(interval), jitter_(jitter) {}

bool StampPacer::keep(std::int64_t stamp) {
  if (interval_ <= 0) {
    return true;
  }
  if (due_ && stamp < *due_ - jitter_) {
    return false;
  }
  // The grid stays anchored at the first frame; a camera that stalled for
  // longer than an interval starts it again at the frame after the stall.
  due_ = due_ && stamp - *due_ < interval_ ? *due_ + interval_ : stamp + interval_;
  return true;
}

} // namespace Platform::Linux::Camera

#include "Vistrel/PauseTimeline.h"

namespace Vistrel {

CMTime movedBack(CMTime time, CMTime offset) {
  return offset.value > 0 ? CMTimeSubtract(time, offset) : time;
}

std::optional<CMTime> PauseTimeline::placeDriving(CMTime start, CMTime duration,
                                                  bool beginsStretch) {
  if (beginsStretch) {
    stretchStart_ = start;
    if (!end_) {
      return kCMTimeZero; // nothing before it to measure from
    }
    const CMTime gap = CMTimeSubtract(CMTimeSubtract(start, offset_), *end_);
    offset_ = offset_.value != 0 ? CMTimeAdd(offset_, gap) : gap;
  } else if (stretchStart_ && CMTimeCompare(start, *stretchStart_) < 0) {
    return std::nullopt;
  }
  end_ = CMTimeAdd(movedBack(start, offset_), duration.value > 0 ? duration : kCMTimeZero);
  return offset_;
}

std::optional<CMTime> PauseTimeline::placeFollowing(CMTime start) const {
  if (stretchStart_ && CMTimeCompare(start, *stretchStart_) < 0) {
    return std::nullopt;
  }
  return offset_;
}

} // namespace Vistrel

#include "Vistrel/PauseTimeline.h"

namespace Vistrel {

namespace {

CMTime later(CMTime lhs, CMTime rhs) {
  return CMTimeCompare(lhs, rhs) >= 0 ? lhs : rhs;
}

CMTime earlier(CMTime lhs, CMTime rhs) {
  return CMTimeCompare(lhs, rhs) <= 0 ? lhs : rhs;
}

CMTime endOf(CMTime start, CMTime duration) {
  return duration.isNumeric() && duration.value > 0 ? CMTimeAdd(start, duration) : start;
}

} // namespace

CMTime movedBack(CMTime time, CMTime offset) {
  return offset.value > 0 ? CMTimeSubtract(time, offset) : time;
}

void PauseTimeline::pause(CMTime instant) {
  Stretch& current = stretches_.back();
  if (current.end) {
    return; // paused already
  }
  if (instant.isNumeric()) {
    current.end = instant;
  } else if (end_) {
    current.end = CMTimeAdd(*end_, current.offset.value > 0 ? current.offset : kCMTimeZero);
  } else {
    current.end = kCMTimeNegativeInfinity; // nothing more is recorded until a resume
  }
}

bool PauseTimeline::isBeforePause(CMTime start) const {
  const Stretch& current = stretches_.back();
  return current.end && CMTimeCompare(start, *current.end) < 0;
}

std::optional<CMTime> PauseTimeline::placeDriving(CMTime start, CMTime duration,
                                                  bool beginsStretch) {
  if (beginsStretch) {
    Stretch& current = stretches_.back();
    CMTime gap = kCMTimeZero;
    if (current.end && current.end->isNumeric()) {
      gap = CMTimeSubtract(start, *current.end);
    } else if (end_) {
      // A resume without a pause: the stretch ended with its last driving
      // sample.
      gap = CMTimeSubtract(movedBack(start, current.offset), *end_);
      current.end = CMTimeAdd(*end_, current.offset.value > 0 ? current.offset : kCMTimeZero);
    } else {
      current.end = start;
    }
    stretches_.push_back(Stretch{start, std::nullopt, CMTimeAdd(current.offset, gap)});
  }
  const Stretch* stretch = stretchOf(start, start);
  if (stretch == nullptr) {
    return std::nullopt;
  }
  const CMTime placedEnd = endOf(movedBack(start, stretch->offset), duration);
  end_ = end_ ? later(*end_, placedEnd) : placedEnd;
  return stretch->offset;
}

std::optional<PauseTimeline::Placement> PauseTimeline::place(CMTime start, CMTime duration) const {
  const CMTime end = endOf(start, duration);
  const Stretch* stretch = stretchOf(start, end);
  if (stretch == nullptr) {
    return std::nullopt;
  }
  return Placement{stretch->begin ? later(start, *stretch->begin) : start,
                   stretch->end ? earlier(end, *stretch->end) : end, stretch->offset};
}

std::optional<CMTime> PauseTimeline::endAt(CMTime instant) const {
  const Stretch& current = stretches_.back();
  if (!instant.isNumeric() && !current.end) {
    return end_;
  }
  const CMTime stopped = movedBack(current.end ? *current.end : instant, current.offset);
  return end_ ? later(*end_, stopped) : stopped;
}

// The latest stretch that [start, end) reaches into (a sample without
// duration: that holds `start`).
const PauseTimeline::Stretch* PauseTimeline::stretchOf(CMTime start, CMTime end) const {
  const bool isInstant = CMTimeCompare(start, end) == 0;
  for (auto stretch = stretches_.rbegin(); stretch != stretches_.rend(); ++stretch) {
    const bool beginsBefore =
        !stretch->begin || (isInstant ? CMTimeCompare(*stretch->begin, start) <= 0
                                      : CMTimeCompare(*stretch->begin, end) < 0);
    const bool endsAfter = !stretch->end || CMTimeCompare(start, *stretch->end) < 0;
    if (beginsBefore && endsAfter) {
      return &*stretch;
    }
  }
  return nullptr;
}

} // namespace Vistrel

#pragma once

#include "Platform/Time.h"

#include <optional>

// The arithmetic that cuts pauses out of a recording's timeline. Pure: no
// lock and no platform; the session calls it under its own lock.
//
// Times are capture times. Timeline-driving samples (video, or any audio of
// an audio-only recording) measure each pause: the first of them after a
// resume begins a new stretch, and the gap between its capture time and the
// end of the last driving sample before the pause joins the offset every
// later sample is moved back by. Offsets that are not positive move nothing.

namespace Vistrel {

class PauseTimeline {
public:
  // The offset that places a driving sample captured at `start`, lasting
  // `duration`; absent when it belongs to the pause (captured before the
  // current stretch began, by another driving source). `beginsStretch`: the
  // first driving sample after a resume, which measures the pause's gap.
  std::optional<CMTime> placeDriving(CMTime start, CMTime duration, bool beginsStretch);
  // The offset that places any other sample captured at `start`; absent
  // when it was captured before the current stretch began.
  std::optional<CMTime> placeFollowing(CMTime start) const;

  // The end of the last driving sample on the output timeline.
  const std::optional<CMTime>& end() const { return end_; }
  // The sum of the gaps cut out so far.
  CMTime offset() const { return offset_; }

private:
  CMTime offset_ = kCMTimeZero;
  std::optional<CMTime> end_;
  std::optional<CMTime> stretchStart_;
};

// `time` moved back by `offset`, or unchanged when the offset is not
// positive.
CMTime movedBack(CMTime time, CMTime offset);

} // namespace Vistrel

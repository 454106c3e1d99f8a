#pragma once

#include "Platform/Time.h"

#include <optional>
#include <vector>

// The arithmetic that cuts pauses out of a recording's timeline. Pure: no
// lock and no platform; the session calls it under its own lock.
//
// Times are capture times. The recording is a series of stretches, each
// moved back by its own offset: a pause ends the current stretch at the
// instant it was asked for, and the first timeline-driving sample (video,
// or any audio of an audio-only recording) after a resume begins the next,
// so the two meet on the output timeline. Sound captured before a pause but
// delivered after it keeps its place, and a buffer that straddles either
// boundary keeps the part inside the stretch. Offsets that are not positive
// move nothing.

namespace Vistrel {

class PauseTimeline {
public:
  // The part of a sample captured in [from, to) is kept, moved back by
  // `offset`.
  struct Placement {
    CMTime from;
    CMTime to;
    CMTime offset;
    friend bool operator==(const Placement&, const Placement&) = default;
  };

  // The recording paused at `instant`. Without a known instant it paused
  // where the last driving sample ended.
  void pause(CMTime instant);
  // Whether a sample captured at `start` belongs to the stretch a pause
  // ended, rather than to the one a resume begins.
  bool isBeforePause(CMTime start) const;

  // The offset that places a driving sample captured at `start`, lasting
  // `duration`; absent when it belongs to a pause. `beginsStretch`: the
  // first driving sample after a resume, which begins a new stretch.
  std::optional<CMTime> placeDriving(CMTime start, CMTime duration, bool beginsStretch);
  // The part of any sample that lies in a stretch; absent when none does.
  std::optional<Placement> place(CMTime start, CMTime duration) const;

  // The end of the last driving sample on the output timeline.
  const std::optional<CMTime>& end() const { return end_; }
  // The offset of the current stretch: the gaps cut out so far.
  CMTime offset() const { return stretches_.back().offset; }
  // Where a recording stopped at `instant` ends on the output timeline: at
  // the instant, or at its pause; never before the last driving sample.
  std::optional<CMTime> endAt(CMTime instant) const;

private:
  struct Stretch {
    std::optional<CMTime> begin;
    std::optional<CMTime> end;
    CMTime offset = kCMTimeZero;
  };
  const Stretch* stretchOf(CMTime start, CMTime end) const;

  std::vector<Stretch> stretches_{Stretch{}};
  std::optional<CMTime> end_;
};

// `time` moved back by `offset`, or unchanged when the offset is not
// positive.
CMTime movedBack(CMTime time, CMTime offset);

} // namespace Vistrel

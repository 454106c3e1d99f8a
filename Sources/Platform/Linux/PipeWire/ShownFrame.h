#pragma once

#include "Platform/Linux/PipeWire/PipeWireFrames.h"

#include <cstdint>

// The picture a capture source shows at each grid point of its stream: the
// newest frame its producer made by then, never one made after it, however
// soon it came.
//
// Thread contract: one thread at a time (the stream's capture thread).

namespace Platform::Linux::PipeWire {

class ShownFrame {
public:
  // Takes what arrived from `frames` and shows the newest frame made by
  // `instant` (host-clock nanoseconds). Returns whether the picture shown
  // changed.
  bool update(PipeWireFrames& frames, std::int64_t instant);

  // Shows the first frame of `frames`, however late it was made: waited for
  // before a stream starts.
  void showFirst(PipeWireFrames& frames);

  // New frames will come from a node of their own, which counts afresh.
  void restartCount();

  // The stream may write into its pixels (the alpha bytes) as it renders.
  PipeWireFrames::Frame& shown() { return shown_; }
  const PipeWireFrames::Frame& shown() const { return shown_; }

private:
  bool showIfMadeBy(std::int64_t instant);

  PipeWireFrames::Frame shown_;
  PipeWireFrames::Frame pending_; // a newer one, made after the last grid point
};

} // namespace Platform::Linux::PipeWire

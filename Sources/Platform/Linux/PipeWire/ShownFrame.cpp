#include "Platform/Linux/PipeWire/ShownFrame.h"

#include <utility>

namespace Platform::Linux::PipeWire {

bool ShownFrame::update(PipeWireFrames& frames, std::int64_t instant) {
  bool changed = showIfMadeBy(instant);
  if (frames.takeNewer(pending_)) {
    changed = showIfMadeBy(instant) || changed;
  }
  return changed;
}

void ShownFrame::showFirst(PipeWireFrames& frames) {
  frames.takeNewer(shown_);
}

void ShownFrame::restartCount() {
  shown_.sequence = 0;
  pending_.sequence = 0;
}

bool ShownFrame::showIfMadeBy(std::int64_t instant) {
  if (pending_.sequence > shown_.sequence && pending_.producedAtNanoseconds <= instant) {
    std::swap(shown_, pending_);
    return true;
  }
  return false;
}

} // namespace Platform::Linux::PipeWire

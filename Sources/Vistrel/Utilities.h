#pragma once

#include "Platform/SampleBuffer.h"
#include "Platform/SystemServices.h"
#include "Platform/Time.h"

#include <cstdint>
#include <memory>
#include <string>

// Small engine helpers over the platform. None keeps shared state; each may
// be called from any thread.

namespace Vistrel {

// A held process activity (e.g. one that keeps the machine from idle
// sleep); it ends when the object is destroyed.
class Activity {
public:
  explicit Activity(std::uint64_t options, const std::string& reason);
  Activity(const Activity&) = delete;
  Activity& operator=(const Activity&) = delete;

private:
  std::unique_ptr<Platform::ActivityToken> activity_;
};

// True when the platform hands out shareable screen content; false when the
// request fails for any reason. Blocks for the answer.
bool hasPermissions();

// Opens the process's connection to the graphics services before a window
// is looked up.
void initializeCGS();

// A copy of `buffer` with every timing entry's presentation and decode time
// moved back by `offset` (durations kept). Null when no copy is made: no
// format description, an offset whose value is not positive, no timing, or
// a copy that cannot be made. `buffer` itself is never modified.
Platform::SampleBufferRef adjustTime(const Platform::SampleBufferRef& buffer, CMTime offset);

// The part of an audio buffer captured in [from, to), cut at the nearest
// sample frames: `buffer` itself when that is all of it, null when it is
// none. A buffer that is not PCM audio with one timing entry is never cut.
Platform::SampleBufferRef audioPart(const Platform::SampleBufferRef& buffer, CMTime from,
                                    CMTime to);

} // namespace Vistrel

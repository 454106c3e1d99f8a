#include "Platform/Linux/PipeWire/FrameTiming.h"

#include <algorithm>

namespace Platform::Linux::PipeWire {

namespace {

// A frame older than this on arrival was not stamped on our clock: no
// compositor holds a frame that long.
constexpr std::int64_t oldestPlausible = 1'000'000'000;
// A producer may stamp the instant its frame will be shown, a little ahead.
constexpr std::int64_t latestPlausible = 5'000'000;

} // namespace

std::int64_t productionInstant(std::optional<std::int64_t> pts, std::int64_t arrivedAt) {
  if (!pts || *pts < arrivedAt - oldestPlausible || *pts > arrivedAt + latestPlausible) {
    return arrivedAt;
  }
  return std::min(*pts, arrivedAt);
}

} // namespace Platform::Linux::PipeWire

#pragma once

#include <cstdint>
#include <optional>

// When a screen cast's frame was made, on the host clock samples are stamped
// with (CLOCK_MONOTONIC nanoseconds, as hostTimeNow()). Pure; any thread.

namespace Platform::Linux::PipeWire {

// The producer's timestamp `pts` when it reads as an instant of the host
// clock at most a second before `arrivedAt` (mutter stamps frames on
// CLOCK_MONOTONIC); a producer on another clock, or none, gets `arrivedAt`.
// Never later than `arrivedAt`.
std::int64_t productionInstant(std::optional<std::int64_t> pts, std::int64_t arrivedAt);

} // namespace Platform::Linux::PipeWire

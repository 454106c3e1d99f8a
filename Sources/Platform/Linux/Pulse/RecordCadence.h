#pragma once

#include <pulse/def.h>
#include <pulse/sample.h>

#include <cstdint>

namespace Platform::Linux::Pulse {

// How every record stream of ours reads: the system audio, a microphone and
// each of one application's playback streams alike.

// What the server is asked to send at a time. A monitor's request sets the
// sink's latency: small enough that the lead a monitor's buffers are moved
// by stays small, large enough that neither the server nor our reading
// thread wakes a hundred times a second for each source.
inline constexpr pa_usec_t fragmentMicroseconds = 40'000;
// Reads are gathered up to this much before they are passed on: every buffer
// passed on wakes the threads down to the file, and for a still window those
// wake-ups are most of what recording costs.
inline constexpr std::int64_t batchNanoseconds = 40'000'000;
// A least delayed read this far off is an event (lost audio, a monitor's
// lead that jumped) and moves the timeline at once; closer ones steer it.
// Above the jitter of when our reads are scheduled.
inline constexpr std::int64_t timelineToleranceNanoseconds = 15'000'000;

// The server's defaults for everything but the fragment asked for above.
inline pa_buffer_attr recordBufferAttributes(const pa_sample_spec& spec) {
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.tlength = static_cast<std::uint32_t>(-1);
  attributes.prebuf = static_cast<std::uint32_t>(-1);
  attributes.minreq = static_cast<std::uint32_t>(-1);
  attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(fragmentMicroseconds, &spec));
  return attributes;
}

} // namespace Platform::Linux::Pulse

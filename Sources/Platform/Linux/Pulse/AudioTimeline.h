#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// Host-clock presentation times for consecutive audio buffers.
//
// Each buffer's capture instant is measured as "now minus the buffer's own
// duration": the server's latency report is not used, because for seconds
// after a record stream starts it is off by hundreds of milliseconds (it
// interpolates from a stale snapshot), and in steady state it is a few
// milliseconds. A measure is late whenever our thread was scheduled late, so
// buffers are stamped on a running frame count from an anchor instead. A
// read can come late but never early, so over each window of audio the
// smallest lead of the measure over the count (the least delayed read) is
// kept; when even that one says the count is off by more than the
// tolerance, the anchor moves by it: ahead after lost audio or a source clock
// slower than ours, back when the anchor was set by a late read. Late reads
// move nothing as long as one read in a window came on time, so scheduling
// hiccups cannot push the sound out of step with the picture.
//
// Thread contract: none; one owner stamps its buffers in order.

namespace Platform::Linux::Pulse {

class AudioTimeline {
public:
  AudioTimeline(std::uint32_t sampleRate, std::int64_t toleranceNanoseconds,
                std::int64_t windowNanoseconds = 500'000'000);

  // The presentation time, in host nanoseconds, of a buffer of `frames`
  // frames read at `nowNanoseconds`.
  std::int64_t stamp(std::int64_t nowNanoseconds, std::size_t frames);

  // Frames that never arrived (a hole in the stream): the next buffer starts
  // that much later.
  void skip(std::size_t frames);

  // How many times the anchor was moved after the first buffer.
  std::uint64_t reanchorCount() const { return reanchors_; }

private:
  std::int64_t framesToNanoseconds(std::uint64_t frames) const;

  std::uint32_t sampleRate_;
  std::int64_t tolerance_;
  std::int64_t window_;
  std::optional<std::int64_t> anchor_;
  std::uint64_t framesSinceAnchor_ = 0;
  std::optional<std::int64_t> smallestLead_;
  std::int64_t windowCovered_ = 0;
  std::uint64_t reanchors_ = 0;
};

} // namespace Platform::Linux::Pulse

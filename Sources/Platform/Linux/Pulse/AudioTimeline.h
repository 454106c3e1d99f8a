#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// Host-clock presentation times for consecutive audio buffers.
//
// Each buffer's capture instant is measured as "now minus what the server
// still holds minus the buffer's own duration". That measure jitters by a
// fragment or so, so buffers are stamped on a running frame count from an
// anchor instead, and the anchor moves only when the measure runs ahead of
// the count by more than the tolerance (frames were lost, or the source's
// clock is slower than the host's). A measure that falls behind the count is
// never followed: that would make buffers overlap or go backwards.
//
// Thread contract: none; one owner stamps its buffers in order.

namespace Platform::Linux::Pulse {

class AudioTimeline {
public:
  AudioTimeline(std::uint32_t sampleRate, std::int64_t toleranceNanoseconds);

  // The presentation time, in host nanoseconds, of a buffer of `frames`
  // frames read at `nowNanoseconds`, when the server still held
  // `delayNanoseconds` of later audio.
  std::int64_t stamp(std::int64_t nowNanoseconds, std::int64_t delayNanoseconds,
                     std::size_t frames);

  // Frames that never arrived (a hole in the stream): the next buffer starts
  // that much later.
  void skip(std::size_t frames);

  // How many times the anchor was moved after the first buffer.
  std::uint64_t reanchorCount() const { return reanchors_; }

private:
  std::int64_t framesToNanoseconds(std::uint64_t frames) const;

  std::uint32_t sampleRate_;
  std::int64_t tolerance_;
  std::optional<std::int64_t> anchor_;
  std::uint64_t framesSinceAnchor_ = 0;
  std::uint64_t reanchors_ = 0;
};

} // namespace Platform::Linux::Pulse

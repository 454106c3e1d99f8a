#pragma once

#include "Platform/SampleBuffer.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

// What the speakers played lately, on the host clock, for the echo
// canceller to read back by instant: buffers of the reference are kept as
// one run of frames from a known start; where a buffer does not follow the
// one before (the reference was lost and rejoined), the run starts anew.
//
// Thread contract: none; the owner serialises the calls.

namespace Platform::Linux::Echo {

class ReferenceHistory {
public:
  ReferenceHistory(int sampleRate, int channelCount);

  // Adds a buffer of the reference's format.
  void add(const CMSampleBuffer& buffer);

  // Whether the frames up to `instantNanoseconds` have arrived.
  bool covers(std::int64_t instantNanoseconds) const;

  // Writes `frames` frames that played from `startNanoseconds` into `out`
  // (interleaved), silence where none is known.
  void read(std::int64_t startNanoseconds, std::size_t frames, float* out) const;

  // Forgets what played before `instantNanoseconds`.
  void forgetBefore(std::int64_t instantNanoseconds);

private:
  const int sampleRate_;
  const std::size_t channels_;
  std::optional<double> start_; // nanoseconds, of frames_.front()
  double end() const;
  std::deque<float> frames_; // interleaved
};

} // namespace Platform::Linux::Echo

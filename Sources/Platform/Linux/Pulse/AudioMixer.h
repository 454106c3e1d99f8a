#pragma once

#include "Platform/SampleBuffer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// Mixes buffers stamped on the host clock (one application's playback
// streams, each with a timeline of its own) into one track of back-to-back
// buffers: every frame of the track is the sum of what the streams played
// at its instant, silence where none played. The track starts at the first
// instant passed on and never has a gap, whatever the streams do.
//
// Sound for instants already passed on comes too late and is dropped: it is
// passed on far enough behind the clock that a stream's buffers, which
// arrive a batch after their first frame, are in by then.
//
// Thread contract: none; the owner serialises the calls.

namespace Platform::Linux::Pulse {

class AudioMixer {
public:
  // Interleaved float32 frames of `channelCount` channels at `sampleRate`.
  AudioMixer(std::uint32_t sampleRate, int channelCount,
             std::function<void(SampleBufferRef)> deliver);

  // Adds a buffer of the mixer's format to the mix.
  void add(const CMSampleBuffer& buffer);

  // Passes on the mix from where the last one ended (or from this instant
  // for the first) up to `instantNanoseconds`, as one buffer.
  void passOnUntil(std::int64_t instantNanoseconds);

  // How many frames arrived too late to be mixed.
  std::uint64_t lateFrames() const { return lateFrames_; }

private:
  // The track's frame at `instantNanoseconds`, counted from its start.
  std::int64_t frameAt(std::int64_t instantNanoseconds) const;
  std::int64_t instantOf(std::int64_t frame) const;

  const std::uint32_t sampleRate_;
  const std::size_t channels_;
  const std::shared_ptr<const FormatDescription> format_;
  const std::function<void(SampleBufferRef)> deliver_;
  std::optional<std::int64_t> origin_; // the host time of the track's frame 0
  std::int64_t passedFrames_ = 0;      // frames passed on so far
  std::vector<float> pending_;         // the mix from passedFrames_ on
  std::uint64_t lateFrames_ = 0;
};

} // namespace Platform::Linux::Pulse

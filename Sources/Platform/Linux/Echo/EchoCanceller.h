#pragma once

#include <cstddef>
#include <memory>

// An acoustic echo canceller: takes the microphone in 10 ms frames together
// with what the speakers played at the same instants (the reference), and
// takes out of the microphone what of the reference the room sent back,
// delayed by up to a few hundred milliseconds, reverberated, and changing as
// the room does. The user's own voice stays, also while the speakers play
// (double talk); no gate or noise suppression is applied, so a quiet room
// stays as quiet as it was, never cut to silence.
//
// Thread contract: none; one owner calls it.

namespace webrtc {
class AudioProcessing;
}

namespace Platform::Linux::Echo {

class EchoCanceller {
public:
  // Interleaved float frames of the microphone and of the reference, each at
  // its own rate and channel count. Throws Platform::Error when the
  // canceller cannot take them.
  EchoCanceller(int microphoneRate, int microphoneChannels, int referenceRate,
                int referenceChannels);
  ~EchoCanceller();
  EchoCanceller(const EchoCanceller&) = delete;
  EchoCanceller& operator=(const EchoCanceller&) = delete;

  // Frames in 10 ms of each.
  std::size_t microphoneFrameLength() const { return microphoneFrames_; }
  std::size_t referenceFrameLength() const { return referenceFrames_; }

  // Cleans 10 ms of the microphone in place, given the 10 ms of reference
  // that played over the same instants.
  void process(float* microphone, const float* reference);

private:
  std::unique_ptr<webrtc::AudioProcessing> processing_;
  const int microphoneRate_;
  const int microphoneChannels_;
  const int referenceRate_;
  const int referenceChannels_;
  const std::size_t microphoneFrames_;
  const std::size_t referenceFrames_;
  // Planar copies: the canceller takes one array per channel.
  std::unique_ptr<float[]> microphonePlanes_;
  std::unique_ptr<float[]> referencePlanes_;
};

} // namespace Platform::Linux::Echo

#pragma once

#include <cstddef>
#include <vector>

// The acoustics of a small room between a computer's speakers and its
// microphone: what the speakers play reaches the microphone after a delay,
// weaker, with two early reflections and a reverberant tail (four
// feedback combs, some 300 ms to die away). The delay can change while it
// runs, as when a user moves the laptop.
//
// Thread contract: none.

namespace RoomRig {

class Room {
public:
  Room(int sampleRate, double delayMilliseconds, double gainDecibels);

  // From the next sample on, the sound takes this long.
  void setDelay(double delayMilliseconds);

  // What the microphone hears of `speakers` (mono), sample by sample.
  void hear(const float* speakers, float* microphone, std::size_t frames);

private:
  float delayed(std::size_t samplesAgo) const;

  const int sampleRate_;
  const float gain_;
  std::size_t delay_;
  std::vector<float> history_; // what the speakers played, a ring
  std::size_t written_ = 0;
  struct Comb {
    std::vector<float> line;
    std::size_t position = 0;
  };
  std::vector<Comb> combs_;
};

} // namespace RoomRig

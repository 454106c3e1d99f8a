#include "Room.h"

#include <cmath>

namespace RoomRig {

namespace {
// Longest delay plus the reflections, in seconds of history kept.
constexpr double historySeconds = 1.0;
// The early reflections: milliseconds after the direct sound, and strength.
constexpr double firstReflectionMs = 7;
constexpr double secondReflectionMs = 13;
constexpr float firstReflection = 0.6F;
constexpr float secondReflection = 0.4F;
// The tail: comb lengths (milliseconds, mutually prime in samples), their
// feedback, and how loud the tail is against the direct sound.
constexpr double combMs[] = {29.7, 37.1, 41.1, 43.7};
constexpr float combFeedback = 0.75F;
constexpr float tailLevel = 0.12F;
} // namespace

Room::Room(int sampleRate, double delayMilliseconds, double gainDecibels)
    : sampleRate_(sampleRate), gain_(static_cast<float>(std::pow(10.0, gainDecibels / 20.0))),
      delay_(0), history_(static_cast<std::size_t>(historySeconds * sampleRate), 0.0F) {
  setDelay(delayMilliseconds);
  for (const double ms : combMs) {
    combs_.push_back(Comb{std::vector<float>(static_cast<std::size_t>(ms * sampleRate / 1000), 0)});
  }
}

void Room::setDelay(double delayMilliseconds) {
  const auto samples = static_cast<std::size_t>(delayMilliseconds * sampleRate_ / 1000);
  const auto longest =
      history_.size() - static_cast<std::size_t>(secondReflectionMs * sampleRate_ / 1000) - 1;
  delay_ = samples < longest ? samples : longest;
}

float Room::delayed(std::size_t samplesAgo) const {
  return history_[(written_ + history_.size() - samplesAgo) % history_.size()];
}

void Room::hear(const float* speakers, float* microphone, std::size_t frames) {
  const auto first = static_cast<std::size_t>(firstReflectionMs * sampleRate_ / 1000);
  const auto second = static_cast<std::size_t>(secondReflectionMs * sampleRate_ / 1000);
  for (std::size_t i = 0; i < frames; ++i) {
    history_[written_ % history_.size()] = speakers[i];
    ++written_;
    const float direct = delayed(delay_ + 1);
    float tail = 0;
    for (auto& comb : combs_) {
      const float out = comb.line[comb.position];
      comb.line[comb.position] = direct + combFeedback * out;
      comb.position = (comb.position + 1) % comb.line.size();
      tail += out;
    }
    microphone[i] = gain_ * (direct + firstReflection * delayed(delay_ + first + 1) +
                             secondReflection * delayed(delay_ + second + 1) + tailLevel * tail);
  }
}

} // namespace RoomRig

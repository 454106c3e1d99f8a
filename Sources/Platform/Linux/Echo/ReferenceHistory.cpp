#include "Platform/Linux/Echo/ReferenceHistory.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace Platform::Linux::Echo {

namespace {
// A buffer this close to the end of the run continues it: stamps are
// rounded to nanoseconds, and a steered timeline moves by fractions of a
// frame.
constexpr std::int64_t continuityNanoseconds = 2'000'000;
} // namespace

ReferenceHistory::ReferenceHistory(int sampleRate, int channelCount)
    : sampleRate_(sampleRate), channels_(static_cast<std::size_t>(channelCount)) {}

void ReferenceHistory::add(const CMSampleBuffer& buffer) {
  const auto& audio = buffer.audioBuffer();
  const CMTime start = buffer.presentationTimeStamp();
  if (!audio || !start.isNumeric() || audio->frameCount == 0) {
    return;
  }
  const auto* samples = reinterpret_cast<const float*>(audio->bytes.data());
  const std::size_t count = audio->frameCount * channels_;
  if (!start_ || std::abs(static_cast<double>(start.value) - end()) > continuityNanoseconds) {
    frames_.clear();
    start_ = static_cast<double>(start.value);
  }
  frames_.insert(frames_.end(), samples, samples + count);
}

double ReferenceHistory::end() const {
  return *start_ + static_cast<double>(frames_.size() / channels_) * 1e9 / sampleRate_;
}

bool ReferenceHistory::covers(std::int64_t instantNanoseconds) const {
  return start_ && end() >= static_cast<double>(instantNanoseconds);
}

void ReferenceHistory::read(std::int64_t startNanoseconds, std::size_t frames, float* out) const {
  std::fill(out, out + frames * channels_, 0.0F);
  if (!start_) {
    return;
  }
  const auto offset = static_cast<std::int64_t>(
      std::llround((static_cast<double>(startNanoseconds) - *start_) * sampleRate_ / 1e9));
  const auto known = static_cast<std::int64_t>(frames_.size() / channels_);
  for (std::size_t frame = 0; frame < frames; ++frame) {
    const std::int64_t index = offset + static_cast<std::int64_t>(frame);
    if (index < 0 || index >= known) {
      continue;
    }
    const auto base = static_cast<std::size_t>(index) * channels_;
    for (std::size_t channel = 0; channel < channels_; ++channel) {
      out[frame * channels_ + channel] = frames_[base + channel];
    }
  }
}

void ReferenceHistory::forgetBefore(std::int64_t instantNanoseconds) {
  if (!start_) {
    return;
  }
  const auto known = static_cast<std::int64_t>(frames_.size() / channels_);
  const std::int64_t forget = std::clamp<std::int64_t>(
      std::llround((static_cast<double>(instantNanoseconds) - *start_) * sampleRate_ / 1e9), 0,
      known);
  frames_.erase(frames_.begin(), frames_.begin() + forget * static_cast<std::int64_t>(channels_));
  *start_ += static_cast<double>(forget) * 1e9 / sampleRate_;
}

} // namespace Platform::Linux::Echo

#include "Platform/Linux/Pulse/AudioMixer.h"

#include "Platform/Time.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Platform::Linux::Pulse {

AudioMixer::AudioMixer(std::uint32_t sampleRate, int channelCount,
                       std::function<void(SampleBufferRef)> deliver)
    : sampleRate_(sampleRate), channels_(static_cast<std::size_t>(channelCount)),
      format_(FormatDescription::audioPCM(
          {static_cast<double>(sampleRate), channelCount, AudioSampleFormat::float32})),
      deliver_(std::move(deliver)) {}

std::int64_t AudioMixer::frameAt(std::int64_t instantNanoseconds) const {
  return static_cast<std::int64_t>(
      std::llround(static_cast<double>(instantNanoseconds - *origin_) * sampleRate_ / 1e9));
}

std::int64_t AudioMixer::instantOf(std::int64_t frame) const {
  return *origin_ +
         static_cast<std::int64_t>(std::llround(static_cast<double>(frame) * 1e9 / sampleRate_));
}

void AudioMixer::add(const CMSampleBuffer& buffer) {
  const auto& audio = buffer.audioBuffer();
  const CMTime start = buffer.presentationTimeStamp();
  if (!origin_ || !audio || !start.isNumeric() || audio->frameCount == 0) {
    // Nothing is passed on yet: sound before the track's start is not in it.
    return;
  }
  const std::int64_t first = frameAt(start.value) - passedFrames_;
  const auto frames = static_cast<std::int64_t>(audio->frameCount);
  const std::int64_t skipped = std::clamp<std::int64_t>(-first, 0, frames);
  lateFrames_ += static_cast<std::uint64_t>(skipped);
  if (skipped == frames) {
    return;
  }
  const auto needed = static_cast<std::size_t>(first + frames) * channels_;
  if (pending_.size() < needed) {
    pending_.resize(needed, 0.0F);
  }
  const auto* samples = reinterpret_cast<const float*>(audio->bytes.data());
  float* mix = pending_.data() + static_cast<std::size_t>(first + skipped) * channels_;
  const std::size_t count = static_cast<std::size_t>(frames - skipped) * channels_;
  const float* source = samples + static_cast<std::size_t>(skipped) * channels_;
  for (std::size_t i = 0; i < count; ++i) {
    mix[i] += source[i];
  }
}

void AudioMixer::passOnUntil(std::int64_t instantNanoseconds) {
  if (!origin_) {
    origin_ = instantNanoseconds;
    return;
  }
  const std::int64_t end = frameAt(instantNanoseconds);
  if (end <= passedFrames_) {
    return;
  }
  const auto frames = static_cast<std::size_t>(end - passedFrames_);
  const std::size_t samples = frames * channels_;
  pending_.resize(std::max(pending_.size(), samples), 0.0F);

  auto audio = std::make_shared<AudioBuffer>();
  audio->frameCount = frames;
  audio->bytes.resize(samples * sizeof(float));
  std::memcpy(audio->bytes.data(), pending_.data(), audio->bytes.size());
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(samples));

  const std::int64_t startInstant = instantOf(passedFrames_);
  passedFrames_ = end;
  CMSampleBuffer::Contents contents;
  contents.formatDescription = format_;
  contents.timing.push_back(
      CMSampleTimingInfo{CMTimeMake(instantOf(end) - startInstant, hostTimeScale),
                         CMTimeMake(startInstant, hostTimeScale), kCMTimeInvalid});
  contents.audioBuffer = std::move(audio);
  deliver_(CMSampleBuffer::make(std::move(contents)));
}

} // namespace Platform::Linux::Pulse

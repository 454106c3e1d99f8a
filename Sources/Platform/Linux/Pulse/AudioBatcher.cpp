#include "Platform/Linux/Pulse/AudioBatcher.h"

#include "Platform/Time.h"

#include <cstdlib>
#include <utility>

namespace Platform::Linux::Pulse {

namespace {
constexpr std::size_t bytesPerSample = sizeof(float);
// Stamps that follow each other differ by rounding only; a moved timeline
// moves them by milliseconds.
constexpr std::int64_t contiguityNanoseconds = 1'000;
} // namespace

AudioBatcher::AudioBatcher(std::uint32_t sampleRate, int channelCount,
                           std::int64_t timelineToleranceNanoseconds, std::int64_t batchNanoseconds,
                           std::function<void(SampleBufferRef)> deliver)
    : timeline_(sampleRate, timelineToleranceNanoseconds),
      format_(FormatDescription::audioPCM(
          {static_cast<double>(sampleRate), channelCount, AudioSampleFormat::float32})),
      frameBytes_(static_cast<std::size_t>(channelCount) * bytesPerSample),
      framesPerBatch_(static_cast<std::size_t>(batchNanoseconds * sampleRate / 1'000'000'000)),
      deliver_(std::move(deliver)) {}

void AudioBatcher::append(const std::uint8_t* bytes, std::size_t length) {
  pending_.insert(pending_.end(), bytes, bytes + length);
}

void AudioBatcher::stamp(std::int64_t nowNanoseconds) {
  const std::size_t frames = pending_.size() / frameBytes_;
  if (frames == 0) {
    return;
  }
  AudioTimeline::Placement placed;
  if (!rejoining_) {
    placed = timeline_.stamp(nowNanoseconds, frames);
  } else {
    rejoining_ = false;
    const auto rejoined = timeline_.rejoin(nowNanoseconds, frames);
    if (rejoined.silenceFrames > 0) {
      gather(nullptr, rejoined.silenceFrames, rejoined.silenceStart, rejoined.placement.start);
    }
    placed = rejoined.placement;
  }
  if (const std::size_t kept = frames - placed.droppedFrames; kept > 0) {
    gather(pending_.data() + placed.droppedFrames * frameBytes_, kept, placed.start,
           *timeline_.end());
  }
  pending_.erase(pending_.begin(),
                 pending_.begin() + static_cast<std::ptrdiff_t>(frames * frameBytes_));
}

void AudioBatcher::skip(std::size_t frames) {
  timeline_.skip(frames);
}

void AudioBatcher::fillSilenceUntil(std::int64_t instantNanoseconds) {
  const auto span = timeline_.silenceUntil(instantNanoseconds);
  if (span.frames > 0) {
    gather(nullptr, span.frames, span.start, *timeline_.end());
  }
}

// The batch is passed on once it is long enough, or first when these frames
// do not follow it (the timeline moved).
void AudioBatcher::gather(const std::uint8_t* bytes, std::size_t frames, std::int64_t start,
                          std::int64_t end) {
  if (batchFrames_ > 0 && std::abs(start - batchEnd_) > contiguityNanoseconds) {
    passOn();
  }
  if (batchFrames_ == 0) {
    batchStart_ = start;
  }
  batchEnd_ = end;
  const std::size_t length = frames * frameBytes_;
  if (bytes == nullptr) {
    batch_.resize(batch_.size() + length, 0);
  } else {
    batch_.insert(batch_.end(), bytes, bytes + length);
  }
  batchFrames_ += frames;
  if (batchFrames_ >= framesPerBatch_) {
    passOn();
  }
}

void AudioBatcher::passOn() {
  if (batchFrames_ == 0) {
    return;
  }
  auto audio = std::make_shared<AudioBuffer>();
  audio->frameCount = std::exchange(batchFrames_, 0);
  audio->bytes = std::exchange(batch_, {});
  CMSampleBuffer::Contents contents;
  contents.formatDescription = format_;
  // As long as it lasts on the host clock, which is the nominal length as
  // steered for the source's clock drift: the next buffer starts at its end.
  contents.timing.push_back(CMSampleTimingInfo{CMTimeMake(batchEnd_ - batchStart_, hostTimeScale),
                                               CMTimeMake(batchStart_, hostTimeScale),
                                               kCMTimeInvalid});
  contents.audioBuffer = std::move(audio);
  deliver_(CMSampleBuffer::make(std::move(contents)));
}

} // namespace Platform::Linux::Pulse

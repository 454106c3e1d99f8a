#include "Vistrel/Utilities.h"

#include "Platform/Platform.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <exception>

namespace Vistrel {

Activity::Activity(std::uint64_t options, const std::string& reason)
    : activity_(Platform::system().beginActivity(options, reason)) {}

bool hasPermissions() {
  try {
    Platform::screenCapture().shareableContent(false, false);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void initializeCGS() {
  static_cast<void>(Platform::screenCapture().mainDisplayID());
}

Platform::SampleBufferRef adjustTime(const Platform::SampleBufferRef& buffer, CMTime offset) {
  if (!buffer->formatDescription() || offset.value <= 0) {
    return nullptr;
  }
  std::optional<std::vector<Platform::CMSampleTimingInfo>> timing = buffer->sampleTimingInfos();
  if (!timing) {
    return nullptr;
  }
  for (Platform::CMSampleTimingInfo& entry : *timing) {
    entry.decodeTimeStamp = CMTimeSubtract(entry.decodeTimeStamp, offset);
    entry.presentationTimeStamp = CMTimeSubtract(entry.presentationTimeStamp, offset);
  }
  return buffer->withNewTiming(std::move(*timing));
}

namespace {

// The sample frame of `time` in a buffer that begins at `start`, clamped to
// the buffer.
std::size_t frameAt(CMTime start, CMTime time, double sampleRate, std::size_t frameCount) {
  const double frames = std::round(CMTimeGetSeconds(CMTimeSubtract(time, start)) * sampleRate);
  return static_cast<std::size_t>(std::clamp(frames, 0.0, static_cast<double>(frameCount)));
}

} // namespace

Platform::SampleBufferRef audioPart(const Platform::SampleBufferRef& buffer, CMTime from,
                                    CMTime to) {
  const auto& format = buffer->formatDescription();
  const auto& audio = buffer->audioBuffer();
  const auto timing = buffer->sampleTimingInfos();
  if (!format || !format->audio || !audio || !timing || timing->size() != 1) {
    return buffer;
  }
  const CMTime start = buffer->presentationTimeStamp();
  const double rate = format->audio->sampleRate;
  const std::size_t first = frameAt(start, from, rate, audio->frameCount);
  const std::size_t last = frameAt(start, to, rate, audio->frameCount);
  if (first == 0 && last == audio->frameCount) {
    return buffer;
  }
  if (first >= last) {
    return nullptr;
  }
  const std::size_t bytesPerFrame = format->audio->bytesPerFrame();
  auto part = std::make_shared<Platform::AudioBuffer>();
  part->frameCount = last - first;
  part->bytes.assign(audio->bytes.begin() + static_cast<std::ptrdiff_t>(first * bytesPerFrame),
                     audio->bytes.begin() + static_cast<std::ptrdiff_t>(last * bytesPerFrame));
  const auto scale = static_cast<CMTimeScale>(std::lround(rate));
  Platform::CMSampleBuffer::Contents contents;
  contents.formatDescription = format;
  contents.timing = {{CMTimeMake(static_cast<CMTimeValue>(part->frameCount), scale),
                      CMTimeAdd(start, CMTimeMake(static_cast<CMTimeValue>(first), scale)),
                      kCMTimeInvalid}};
  contents.audioBuffer = std::move(part);
  return Platform::CMSampleBuffer::make(std::move(contents));
}

} // namespace Vistrel

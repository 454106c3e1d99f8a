#include "Platform/SampleBuffer.h"

namespace Platform {

std::shared_ptr<const FormatDescription>
FormatDescription::video(std::uint32_t subType, std::int32_t width, std::int32_t height) {
  auto description = std::make_shared<FormatDescription>();
  description->mediaType = MediaType::video;
  description->mediaSubType = subType;
  description->width = width;
  description->height = height;
  return description;
}

std::shared_ptr<const FormatDescription>
FormatDescription::audioPCM(AudioStreamDescription stream) {
  auto description = std::make_shared<FormatDescription>();
  description->mediaType = MediaType::audio;
  description->audio = stream;
  description->audioChannelLayoutChannelCount = stream.channelCount;
  return description;
}

SampleBufferRef CMSampleBuffer::make(Contents contents) {
  return SampleBufferRef(new CMSampleBuffer(std::move(contents)));
}

CMTime CMSampleBuffer::presentationTimeStamp() const {
  return contents_.timing.empty() ? kCMTimeInvalid : contents_.timing.front().presentationTimeStamp;
}

CMTime CMSampleBuffer::duration() const {
  if (contents_.timing.empty()) {
    return kCMTimeInvalid;
  }
  CMTime total = contents_.timing.front().duration;
  for (std::size_t i = 1; i < contents_.timing.size(); ++i) {
    total = CMTimeAdd(total, contents_.timing[i].duration);
  }
  return total;
}

std::optional<std::vector<CMSampleTimingInfo>> CMSampleBuffer::sampleTimingInfos() const {
  if (contents_.timing.empty()) {
    return std::nullopt;
  }
  return contents_.timing;
}

SampleBufferRef CMSampleBuffer::withNewTiming(std::vector<CMSampleTimingInfo> timing) const {
  if (timing.size() != contents_.timing.size()) {
    return nullptr;
  }
  Contents copy = contents_;
  copy.timing = std::move(timing);
  return make(std::move(copy));
}

} // namespace Platform

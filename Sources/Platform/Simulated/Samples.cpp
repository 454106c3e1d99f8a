#include "Platform/Simulated/Samples.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace Platform::Simulated {

namespace {

std::uint32_t packedPixel(const VideoFrameSpec& spec) {
  const auto& colour = spec.colour;
  if (spec.pixelFormat == kCVPixelFormatType_ARGB2101010LEPacked) {
    // 10-bit components widened from 8 bits by repeating the top bits.
    const auto widen = [](std::uint8_t value) {
      return (static_cast<std::uint32_t>(value) << 2) | (value >> 6);
    };
    return (static_cast<std::uint32_t>(colour.alpha >> 6) << 30) | (widen(colour.red) << 20) |
           (widen(colour.green) << 10) | widen(colour.blue);
  }
  return static_cast<std::uint32_t>(colour.blue) | (static_cast<std::uint32_t>(colour.green) << 8) |
         (static_cast<std::uint32_t>(colour.red) << 16) |
         (static_cast<std::uint32_t>(colour.alpha) << 24);
}

std::shared_ptr<const PixelBuffer> filledPixelBuffer(const VideoFrameSpec& spec) {
  auto buffer = std::make_shared<PixelBuffer>();
  buffer->pixelFormat = spec.pixelFormat;
  buffer->width = std::max(spec.width, 0);
  buffer->height = std::max(spec.height, 0);
  buffer->bytesPerRow = static_cast<std::size_t>(buffer->width) * 4;
  buffer->bytes.resize(buffer->bytesPerRow * static_cast<std::size_t>(buffer->height));
  // Both formats are 32 bits per pixel, stored little endian.
  const std::uint32_t pixel = packedPixel(spec);
  std::uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<std::uint8_t>(pixel >> (8 * i));
  }
  for (std::size_t offset = 0; offset < buffer->bytes.size(); offset += 4) {
    std::memcpy(buffer->bytes.data() + offset, bytes, 4);
  }
  return buffer;
}

std::optional<std::vector<AttachmentDictionary>> frameInfo(const VideoFrameSpec& spec) {
  switch (spec.frameInfo) {
  case FrameInfoShape::status:
    return std::vector<AttachmentDictionary>{
        {{SCStreamFrameInfoStatus, static_cast<std::int64_t>(spec.status)}}};
  case FrameInfoShape::noAttachments:
    return std::nullopt;
  case FrameInfoShape::emptyAttachments:
    return std::vector<AttachmentDictionary>{};
  case FrameInfoShape::statusNotInteger:
    return std::vector<AttachmentDictionary>{{{SCStreamFrameInfoStatus, std::string("complete")}}};
  case FrameInfoShape::statusMissing:
    return std::vector<AttachmentDictionary>{{{"SCStreamFrameInfoDisplayTime", std::int64_t{0}}}};
  }
  return std::nullopt;
}

template <typename Sample>
void writeSine(std::vector<std::uint8_t>& bytes, const AudioChunkSpec& spec, Sample scale) {
  const double step = 2 * std::numbers::pi * spec.toneFrequency / spec.sampleRate;
  const auto channels = static_cast<std::size_t>(spec.channelCount);
  for (std::size_t frame = 0; frame < spec.frameCount; ++frame) {
    const double phase = step * static_cast<double>(spec.firstFrameIndex + frame);
    const auto value = static_cast<Sample>(0.25 * std::sin(phase) * scale);
    for (std::size_t channel = 0; channel < channels; ++channel) {
      std::memcpy(bytes.data() + (frame * channels + channel) * sizeof(Sample), &value,
                  sizeof(Sample));
    }
  }
}

} // namespace

SampleBufferRef makeVideoSample(const VideoFrameSpec& spec) {
  CMSampleBuffer::Contents contents;
  contents.formatDescription = FormatDescription::video(spec.pixelFormat, spec.width, spec.height);
  contents.timing = {{spec.duration, spec.presentationTime, kCMTimeInvalid}};
  contents.sampleAttachments = frameInfo(spec);
  contents.imageBuffer = filledPixelBuffer(spec);
  return CMSampleBuffer::make(std::move(contents));
}

SampleBufferRef makeAudioSample(const AudioChunkSpec& spec) {
  const AudioStreamDescription stream{spec.sampleRate, std::max(spec.channelCount, 1),
                                      spec.sampleFormat};
  auto audio = std::make_shared<AudioBuffer>();
  audio->frameCount = spec.frameCount;
  audio->bytes.resize(spec.frameCount * stream.bytesPerFrame());
  AudioChunkSpec written = spec;
  written.channelCount = stream.channelCount;
  if (spec.sampleFormat == AudioSampleFormat::float32) {
    writeSine<float>(audio->bytes, written, 1.0F);
  } else {
    writeSine<std::int16_t>(audio->bytes, written, 32767);
  }

  CMSampleBuffer::Contents contents;
  contents.formatDescription = FormatDescription::audioPCM(stream);
  const auto timescale = static_cast<CMTimeScale>(std::lround(spec.sampleRate));
  contents.timing = {{CMTimeMake(static_cast<CMTimeValue>(spec.frameCount), timescale),
                      spec.presentationTime, kCMTimeInvalid}};
  contents.audioBuffer = std::move(audio);
  return CMSampleBuffer::make(std::move(contents));
}

SampleBufferRef makeInvalidSample(CMTime presentationTime) {
  CMSampleBuffer::Contents contents;
  contents.isValid = false;
  contents.formatDescription = FormatDescription::video(kCVPixelFormatType_32BGRA, 64, 36);
  contents.timing = {{kCMTimeInvalid, presentationTime, kCMTimeInvalid}};
  return CMSampleBuffer::make(std::move(contents));
}

SampleBufferRef makeSampleWithoutFormatDescription(CMTime presentationTime) {
  CMSampleBuffer::Contents contents;
  contents.timing = {{kCMTimeInvalid, presentationTime, kCMTimeInvalid}};
  contents.sampleAttachments = std::vector<AttachmentDictionary>{
      {{SCStreamFrameInfoStatus, static_cast<std::int64_t>(SCFrameStatus::complete)}}};
  return CMSampleBuffer::make(std::move(contents));
}

} // namespace Platform::Simulated

#include "Simulated/Samples.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace Platform::Simulated {

namespace {

std::uint32_t packedPixel(const VideoFrameOptions& options) {
  const auto& colour = options.colour;
  if (options.pixelFormat == kCVPixelFormatType_ARGB2101010LEPacked) {
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

std::shared_ptr<const PixelBuffer> filledPixelBuffer(const VideoFrameOptions& options) {
  auto buffer = std::make_shared<PixelBuffer>();
  buffer->pixelFormat = options.pixelFormat;
  buffer->width = std::max(options.width, 0);
  buffer->height = std::max(options.height, 0);
  buffer->bytesPerRow = static_cast<std::size_t>(buffer->width) * 4;
  buffer->bytes.resize(buffer->bytesPerRow * static_cast<std::size_t>(buffer->height));
  // Both formats are 32 bits per pixel, stored little endian.
  const std::uint32_t pixel = packedPixel(options);
  std::uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<std::uint8_t>(pixel >> (8 * i));
  }
  for (std::size_t offset = 0; offset < buffer->bytes.size(); offset += 4) {
    std::memcpy(buffer->bytes.data() + offset, bytes, 4);
  }
  return buffer;
}

std::optional<std::vector<AttachmentDictionary>> frameInfo(const VideoFrameOptions& options) {
  switch (options.frameInfo) {
  case FrameInfoShape::status:
    return std::vector<AttachmentDictionary>{
        {{SCStreamFrameInfoStatus, static_cast<std::int64_t>(options.status)}}};
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
void writeSine(std::vector<std::uint8_t>& bytes, const AudioChunkOptions& options, Sample scale) {
  const double step = 2 * std::numbers::pi * options.toneFrequency / options.sampleRate;
  const auto channels = static_cast<std::size_t>(options.channelCount);
  for (std::size_t frame = 0; frame < options.frameCount; ++frame) {
    const double phase = step * static_cast<double>(options.firstFrameIndex + frame);
    const auto value = static_cast<Sample>(0.25 * std::sin(phase) * scale);
    for (std::size_t channel = 0; channel < channels; ++channel) {
      std::memcpy(bytes.data() + (frame * channels + channel) * sizeof(Sample), &value,
                  sizeof(Sample));
    }
  }
}

} // namespace

SampleBufferRef makeVideoSample(const VideoFrameOptions& options) {
  CMSampleBuffer::Contents contents;
  contents.formatDescription =
      FormatDescription::video(options.pixelFormat, options.width, options.height);
  contents.timing = {{options.duration, options.presentationTime, kCMTimeInvalid}};
  contents.sampleAttachments = frameInfo(options);
  contents.imageBuffer = filledPixelBuffer(options);
  return CMSampleBuffer::make(std::move(contents));
}

SampleBufferRef makeAudioSample(const AudioChunkOptions& options) {
  const AudioStreamDescription stream{options.sampleRate, std::max(options.channelCount, 1),
                                      options.sampleFormat};
  auto audio = std::make_shared<AudioBuffer>();
  audio->frameCount = options.frameCount;
  audio->bytes.resize(options.frameCount * stream.bytesPerFrame());
  AudioChunkOptions written = options;
  written.channelCount = stream.channelCount;
  if (options.sampleFormat == AudioSampleFormat::float32) {
    writeSine<float>(audio->bytes, written, 1.0F);
  } else {
    writeSine<std::int16_t>(audio->bytes, written, 32767);
  }

  CMSampleBuffer::Contents contents;
  contents.formatDescription = FormatDescription::audioPCM(stream);
  const auto timescale = static_cast<CMTimeScale>(std::lround(options.sampleRate));
  contents.timing = {{CMTimeMake(static_cast<CMTimeValue>(options.frameCount), timescale),
                      options.presentationTime, kCMTimeInvalid}};
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

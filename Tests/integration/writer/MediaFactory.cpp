#include "MediaFactory.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <stdexcept>
#include <stdlib.h>

namespace WriterTests {

using namespace Platform;

namespace {

SampleBufferRef frame(std::uint32_t pixelFormat, int width, int height, CMTime time,
                      std::vector<std::uint8_t> bytes) {
  auto pixels = std::make_shared<PixelBuffer>();
  pixels->pixelFormat = pixelFormat;
  pixels->width = width;
  pixels->height = height;
  pixels->bytesPerRow = static_cast<std::size_t>(width) * 4;
  pixels->bytes = std::move(bytes);
  CMSampleBuffer::Contents contents;
  contents.formatDescription = FormatDescription::video(pixelFormat, width, height);
  contents.timing = {{kCMTimeInvalid, time, kCMTimeInvalid}};
  contents.imageBuffer = std::move(pixels);
  return CMSampleBuffer::make(std::move(contents));
}

} // namespace

CMTime seconds(double value) {
  return CMTimeMake(static_cast<CMTimeValue>(std::llround(value * hostTimeScale)), hostTimeScale);
}

SampleBufferRef bgraFrame(int width, int height, int index, CMTime time) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* pixel = &bytes[(static_cast<std::size_t>(y) * width + x) * 4];
      pixel[0] = static_cast<std::uint8_t>(x * 4 + index * 8);
      pixel[1] = static_cast<std::uint8_t>(y * 4 + index * 3);
      pixel[2] = static_cast<std::uint8_t>((x + y + index * 5) % 256);
      pixel[3] = 255;
    }
  }
  return frame(kCVPixelFormatType_32BGRA, width, height, time, std::move(bytes));
}

SampleBufferRef l10rFrame(int width, int height, int index, CMTime time) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t red = static_cast<std::uint32_t>(x * 16 + index * 20) % 1024;
      const std::uint32_t green = static_cast<std::uint32_t>(y * 16 + index * 7) % 1024;
      const std::uint32_t blue = static_cast<std::uint32_t>(x + y + index * 11) % 1024;
      const std::uint32_t word = (3U << 30) | (red << 20) | (green << 10) | blue;
      std::memcpy(&bytes[(static_cast<std::size_t>(y) * width + x) * 4], &word, 4);
    }
  }
  return frame(kCVPixelFormatType_ARGB2101010LEPacked, width, height, time, std::move(bytes));
}

SampleBufferRef audioBuffer(const AudioShape& shape, std::size_t frameCount, CMTime time) {
  AudioStreamDescription stream{shape.sampleRate, shape.channelCount, shape.format};
  auto audio = std::make_shared<AudioBuffer>();
  audio->frameCount = frameCount;
  audio->bytes.resize(frameCount * stream.bytesPerFrame());
  for (std::size_t i = 0; i < frameCount; ++i) {
    const double value = shape.amplitude * std::sin(2 * std::numbers::pi * 440 *
                                                    static_cast<double>(i) / shape.sampleRate);
    for (int channel = 0; channel < shape.channelCount; ++channel) {
      const std::size_t at = i * static_cast<std::size_t>(shape.channelCount) + channel;
      if (shape.format == AudioSampleFormat::float32) {
        const float sample = static_cast<float>(value);
        std::memcpy(&audio->bytes[at * 4], &sample, 4);
      } else {
        const auto sample = static_cast<std::int16_t>(value * 32767);
        std::memcpy(&audio->bytes[at * 2], &sample, 2);
      }
    }
  }
  CMSampleBuffer::Contents contents;
  contents.formatDescription = FormatDescription::audioPCM(stream);
  contents.timing = {
      {CMTimeMake(static_cast<CMTimeValue>(frameCount), static_cast<CMTimeScale>(shape.sampleRate)),
       time, kCMTimeInvalid}};
  contents.audioBuffer = std::move(audio);
  return CMSampleBuffer::make(std::move(contents));
}

OutputSettings audioSettings(bool lossless, int channelCount) {
  OutputSettings settings{{AVSampleRateKey, 48000}, {AVNumberOfChannelsKey, channelCount}};
  if (lossless) {
    settings.emplace(AVFormatIDKey, kAudioFormatAppleLossless);
    settings.emplace(AVEncoderBitDepthHintKey, 16);
  } else {
    settings.emplace(AVFormatIDKey, kAudioFormatMPEG4AAC);
  }
  return settings;
}

OutputSettings videoSettings(const char* codec, int width, int height) {
  OutputSettings settings{
      {AVVideoCodecKey, codec}, {AVVideoWidthKey, width}, {AVVideoHeightKey, height}};
  const std::string name = codec;
  if (name == AVVideoCodecTypeH264 || name == AVVideoCodecTypeHEVC) {
    settings.emplace(
        AVVideoColorPropertiesKey,
        OutputSettings{{AVVideoTransferFunctionKey, AVVideoTransferFunction_ITU_R_709_2},
                       {AVVideoColorPrimariesKey, name == AVVideoCodecTypeH264
                                                      ? AVVideoColorPrimaries_ITU_R_709_2
                                                      : AVVideoColorPrimaries_P3_D65},
                       {AVVideoYCbCrMatrixKey, AVVideoYCbCrMatrix_ITU_R_709_2}});
  }
  return settings;
}

ScratchDirectory::ScratchDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "writer-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a scratch directory");
  }
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

} // namespace WriterTests

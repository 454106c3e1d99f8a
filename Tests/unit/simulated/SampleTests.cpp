#include "Simulated/Samples.h"

#include <gtest/gtest.h>

#include <cstring>

namespace Platform::Simulated {
namespace {

std::uint32_t firstPixel(const SampleBufferRef& sample) {
  std::uint32_t pixel = 0;
  std::memcpy(&pixel, sample->imageBuffer()->bytes.data(), sizeof pixel);
  return pixel;
}

TEST(Samples, FramesCarryFilledPixelsOfTheirFormat) {
  const auto bgra = makeVideoSample(
      {.width = 4, .height = 2, .colour = {.blue = 1, .green = 2, .red = 3, .alpha = 4}});
  EXPECT_EQ(bgra->imageBuffer()->bytesPerRow, 16U);
  EXPECT_EQ(bgra->imageBuffer()->bytes.size(), 32U);
  EXPECT_EQ(firstPixel(bgra), 0x04030201U);
  EXPECT_EQ(bgra->formatDescription()->width, 4);

  const auto tenBit =
      makeVideoSample({.pixelFormat = kCVPixelFormatType_ARGB2101010LEPacked,
                       .colour = {.blue = 0, .green = 0, .red = 0xFF, .alpha = 0xFF}});
  EXPECT_EQ(firstPixel(tenBit), (3U << 30) | (0x3FFU << 20));
  EXPECT_EQ(tenBit->formatDescription()->mediaSubType, kCVPixelFormatType_ARGB2101010LEPacked);
}

TEST(Samples, FrameInfoTakesEveryShape) {
  const auto status = [](FrameInfoShape shape) {
    return makeVideoSample({.status = SCFrameStatus::idle, .frameInfo = shape})
        ->sampleAttachments();
  };
  ASSERT_TRUE(status(FrameInfoShape::status));
  EXPECT_EQ(
      std::get<std::int64_t>(status(FrameInfoShape::status)->at(0).at(SCStreamFrameInfoStatus)), 1);
  EXPECT_FALSE(status(FrameInfoShape::noAttachments));
  EXPECT_TRUE(status(FrameInfoShape::emptyAttachments)->empty());
  EXPECT_TRUE(std::holds_alternative<std::string>(
      status(FrameInfoShape::statusNotInteger)->at(0).at(SCStreamFrameInfoStatus)));
  EXPECT_FALSE(status(FrameInfoShape::statusMissing)->at(0).contains(SCStreamFrameInfoStatus));
}

TEST(Samples, AudioIsInterleavedPCMWithExactTiming) {
  const auto sample = makeAudioSample({.presentationTime = CMTimeMake(2, 1),
                                       .frameCount = 441,
                                       .sampleRate = 44100,
                                       .channelCount = 1,
                                       .sampleFormat = AudioSampleFormat::int16,
                                       .toneFrequency = 11025});
  EXPECT_EQ(sample->audioBuffer()->bytes.size(), 882U);
  EXPECT_EQ(sample->duration(), CMTimeMake(441, 44100));
  EXPECT_EQ(sample->presentationTimeStamp(), CMTimeMake(2, 1));
  // A quarter-rate tone peaks on frame 1 at a quarter of full scale.
  std::int16_t second = 0;
  std::memcpy(&second, sample->audioBuffer()->bytes.data() + 2, 2);
  EXPECT_EQ(second, 8191);

  EXPECT_FALSE(makeInvalidSample()->isValid());
  EXPECT_EQ(makeSampleWithoutFormatDescription()->formatDescription(), nullptr);
}

} // namespace
} // namespace Platform::Simulated

#include "Simulated/AutomaticSources.h"

#include "Simulated/Samples.h"

#include <array>

namespace Platform::Simulated {

namespace {

constexpr double audioSampleRate = 48000;
constexpr std::size_t audioFramesPerBuffer = 480; // 10 ms

} // namespace

SampleGenerator::Source videoSource(PostSample post, std::int32_t width, std::int32_t height,
                                    std::uint32_t pixelFormat, CMTime frameInterval) {
  // Two frames of different colours, made once: each delivery is a retimed
  // copy sharing their pixels, so a long run costs no allocation per frame
  // and an encoder still sees the picture change.
  const std::array<SampleBufferRef, 2> frames{
      makeVideoSample({.width = width, .height = height, .pixelFormat = pixelFormat}),
      makeVideoSample({.width = width,
                       .height = height,
                       .pixelFormat = pixelFormat,
                       .colour = {.blue = 0xC0, .green = 0x60, .red = 0x20, .alpha = 0xFF}})};
  return {
      frameInterval,
      [post = std::move(post), frames, frameInterval](std::uint64_t index, CMTime time) {
        post(frames[index % frames.size()]->withNewTiming({{frameInterval, time, kCMTimeInvalid}}));
      }};
}

SampleGenerator::Source audioSource(PostSample post, int channelCount, double toneFrequency) {
  const CMTime period = CMTimeMake(audioFramesPerBuffer, static_cast<CMTimeScale>(audioSampleRate));
  return {period,
          [post = std::move(post), channelCount, toneFrequency](std::uint64_t index, CMTime time) {
            post(makeAudioSample({.presentationTime = time,
                                  .frameCount = audioFramesPerBuffer,
                                  .sampleRate = audioSampleRate,
                                  .channelCount = channelCount,
                                  .toneFrequency = toneFrequency,
                                  .firstFrameIndex = index * audioFramesPerBuffer}));
          }};
}

} // namespace Platform::Simulated

#include "Platform/Linux/Echo/EchoCancellingCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

// The microphone cleaned of the speakers' echo: buffers keep their timing
// and order, each waits for the reference of its instants, the echo of
// what the reference played is taken out, and without a reference the
// microphone passes as it is.

using namespace Platform;
using Platform::Linux::AudioCapture;
using Platform::Linux::Echo::makeEchoCancellingCapture;

namespace {

constexpr int rate = 16000;
constexpr std::size_t framesPerBuffer = rate / 25; // 40 ms
constexpr std::int64_t bufferNanoseconds = 40'000'000;
constexpr std::int64_t origin = 5'000'000'000;

// A capture the test delivers by hand.
class HandCapture final : public AudioCapture {
public:
  explicit HandCapture(bool refuses = false) : refuses_(refuses) {}
  void start(std::function<void(SampleBufferRef)> deliver) override {
    if (refuses_) {
      throw SystemError(ErrorDomain::mediaCapture, 5, "no default output");
    }
    *deliver_ = std::move(deliver);
  }
  void stop() override {}
  std::shared_ptr<std::function<void(SampleBufferRef)>> handle() const { return deliver_; }

private:
  bool refuses_;
  std::shared_ptr<std::function<void(SampleBufferRef)>> deliver_ =
      std::make_shared<std::function<void(SampleBufferRef)>>();
};

SampleBufferRef buffer(std::size_t index, const std::vector<float>& signal) {
  auto audio = std::make_shared<AudioBuffer>();
  audio->frameCount = framesPerBuffer;
  audio->bytes.resize(framesPerBuffer * sizeof(float));
  std::memcpy(audio->bytes.data(), signal.data() + index * framesPerBuffer, audio->bytes.size());
  CMSampleBuffer::Contents contents;
  contents.formatDescription = FormatDescription::audioPCM({rate, 1, AudioSampleFormat::float32});
  contents.timing = {CMSampleTimingInfo{
      CMTimeMake(bufferNanoseconds, hostTimeScale),
      CMTimeMake(origin + static_cast<std::int64_t>(index) * bufferNanoseconds, hostTimeScale),
      kCMTimeInvalid}};
  contents.audioBuffer = std::move(audio);
  return CMSampleBuffer::make(std::move(contents));
}

std::vector<float> noise(std::size_t frames, float level, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<float> normal(0, level);
  std::vector<float> samples(frames);
  for (auto& sample : samples) {
    sample = normal(random);
  }
  return samples;
}

double energy(const std::vector<float>& samples, std::size_t from, std::size_t to) {
  double sum = 0;
  for (std::size_t i = from; i < to; ++i) {
    sum += static_cast<double>(samples[i]) * samples[i];
  }
  return sum;
}

class EchoCancellingCaptureTest : public ::testing::Test {
protected:
  void makeCapture(bool referenceRefuses = false) {
    auto microphone = std::make_unique<HandCapture>();
    auto reference = std::make_unique<HandCapture>(referenceRefuses);
    microphone_ = microphone->handle();
    reference_ = reference->handle();
    capture_ = makeEchoCancellingCapture(std::move(microphone), std::move(reference));
    capture_->start([this](SampleBufferRef sample) { delivered_.push_back(std::move(sample)); });
  }

  std::vector<float> deliveredSamples() const {
    std::vector<float> samples;
    for (const auto& sample : delivered_) {
      const auto* data = reinterpret_cast<const float*>(sample->audioBuffer()->bytes.data());
      samples.insert(samples.end(), data, data + sample->audioBuffer()->frameCount);
    }
    return samples;
  }

  std::shared_ptr<std::function<void(SampleBufferRef)>> microphone_;
  std::shared_ptr<std::function<void(SampleBufferRef)>> reference_;
  std::unique_ptr<AudioCapture> capture_;
  std::vector<SampleBufferRef> delivered_;
};

TEST_F(EchoCancellingCaptureTest, TheRoomsEchoOfTheReferenceIsTakenOutAndTimingKept) {
  makeCapture();
  const std::size_t buffers = 8 * 25; // 8 s
  // Noise in syllables, four a second, as speech comes.
  auto played = noise(buffers * framesPerBuffer, 0.1F, 1);
  for (std::size_t i = 0; i < played.size(); ++i) {
    played[i] *= static_cast<float>(0.5 + 0.5 * std::sin(2 * M_PI * 4 * i / rate));
  }
  // The room: 250 ms later, beyond the canceller's own filter, at a quarter
  // of the level.
  const std::size_t delay = rate * 250 / 1000;
  std::vector<float> heard(played.size(), 0);
  for (std::size_t i = delay; i < heard.size(); ++i) {
    heard[i] = 0.25F * played[i - delay];
  }
  for (std::size_t index = 0; index < buffers; ++index) {
    (*microphone_)(buffer(index, heard)); // the microphone comes first: it waits
    EXPECT_EQ(delivered_.size(), index) << "a buffer went on before its reference came";
    (*reference_)(buffer(index, played));
  }
  capture_->stop();

  ASSERT_EQ(delivered_.size(), buffers);
  for (std::size_t index = 0; index < buffers; ++index) {
    EXPECT_EQ(delivered_[index]->presentationTimeStamp().value,
              origin + static_cast<std::int64_t>(index) * bufferNanoseconds);
    EXPECT_EQ(delivered_[index]->duration().value, bufferNanoseconds);
  }
  const auto cleaned = deliveredSamples();
  const std::size_t from = 4 * rate;
  const double reduction =
      10 * std::log10(energy(heard, from, heard.size()) / energy(cleaned, from, cleaned.size()));
  EXPECT_GT(reduction, 20) << "dB less echo once converged";
}

TEST_F(EchoCancellingCaptureTest, AVoiceAloneIsKeptNeverGatedToSilence) {
  makeCapture();
  const std::size_t buffers = 4 * 25;
  const auto voice = noise(buffers * framesPerBuffer, 0.05F, 2);
  const std::vector<float> silence(voice.size(), 0);
  for (std::size_t index = 0; index < buffers; ++index) {
    (*reference_)(buffer(index, silence));
    (*microphone_)(buffer(index, voice));
  }
  capture_->stop();
  const auto cleaned = deliveredSamples();
  ASSERT_EQ(cleaned.size(), voice.size());
  const double change =
      10 * std::log10(energy(cleaned, rate, cleaned.size()) / energy(voice, rate, voice.size()));
  EXPECT_NEAR(change, 0, 1) << "dB";
}

TEST_F(EchoCancellingCaptureTest, WithoutAReferenceTheMicrophonePassesAsItHears) {
  makeCapture(true);
  const auto voice = noise(3 * framesPerBuffer, 0.05F, 3);
  for (std::size_t index = 0; index < 3; ++index) {
    (*microphone_)(buffer(index, voice));
  }
  capture_->stop();
  EXPECT_EQ(deliveredSamples(), voice);
}

TEST_F(EchoCancellingCaptureTest, AStopPassesOnWhatStillWaitsForItsReference) {
  makeCapture();
  const auto voice = noise(3 * framesPerBuffer, 0.05F, 4);
  (*reference_)(buffer(0, voice));
  for (std::size_t index = 0; index < 3; ++index) {
    (*microphone_)(buffer(index, voice));
  }
  EXPECT_EQ(delivered_.size(), 1U) << "the two without reference wait";
  capture_->stop();
  EXPECT_EQ(delivered_.size(), 3U);
}

} // namespace

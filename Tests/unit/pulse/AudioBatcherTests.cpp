#include "Platform/Linux/Pulse/AudioBatcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace Platform;
using Platform::Linux::Pulse::AudioBatcher;

namespace {

constexpr std::int64_t millisecond = 1'000'000;
constexpr std::uint32_t rate = 48000;
constexpr int channels = 2;
constexpr std::size_t frameBytes = channels * sizeof(float);
constexpr std::size_t framesOf10ms = 480;

struct Delivered {
  std::int64_t start = 0;
  std::int64_t duration = 0;
  std::vector<float> samples;
};

class AudioBatcherTest : public ::testing::Test {
protected:
  AudioBatcher batcher_{
      rate, channels, 15 * millisecond, 40 * millisecond, [this](SampleBufferRef sample) {
        const auto& audio = *sample->audioBuffer();
        Delivered delivered;
        delivered.start = sample->presentationTimeStamp().value;
        delivered.duration = sample->duration().value;
        delivered.samples.resize(audio.bytes.size() / sizeof(float));
        std::memcpy(delivered.samples.data(), audio.bytes.data(), audio.bytes.size());
        delivered_.push_back(std::move(delivered));
      }};
  std::vector<Delivered> delivered_;
  float nextValue_ = 1;

  // `frames` frames counting up from where the last ones ended.
  std::vector<std::uint8_t> frames(std::size_t count) {
    std::vector<float> samples(count * channels);
    for (auto& sample : samples) {
      sample = nextValue_++;
    }
    std::vector<std::uint8_t> bytes(samples.size() * sizeof(float));
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
  }

  void read(const std::vector<std::uint8_t>& bytes, std::int64_t atMs) {
    batcher_.append(bytes.data(), bytes.size());
    if (batcher_.hasWholeFrames()) {
      batcher_.stamp(atMs * millisecond);
    }
  }

  void expectBackToBack() const {
    for (std::size_t i = 1; i < delivered_.size(); ++i) {
      EXPECT_EQ(delivered_[i].start, delivered_[i - 1].start + delivered_[i - 1].duration)
          << "buffer " << i;
    }
  }
};

bool isSilent(const Delivered& delivered) {
  for (const float sample : delivered.samples) {
    if (sample != 0) {
      return false;
    }
  }
  return true;
}

TEST_F(AudioBatcherTest, ReadsBecomeBatchesBackToBackWithEveryByteInOrder) {
  // Ten-millisecond reads, the first one ending half way into a frame.
  auto bytes = frames(8 * framesOf10ms);
  const std::size_t split = framesOf10ms * frameBytes + frameBytes / 2;
  batcher_.append(bytes.data(), split);
  batcher_.stamp(1000 * millisecond);
  EXPECT_TRUE(delivered_.empty()) << "10 ms is not a batch yet";
  EXPECT_FALSE(batcher_.hasWholeFrames()) << "the half frame waits for its other half";
  batcher_.append(bytes.data() + split, framesOf10ms * frameBytes - frameBytes / 2);
  batcher_.stamp(1010 * millisecond);
  for (int i = 2; i < 8; ++i) {
    const auto* read = bytes.data() + i * framesOf10ms * frameBytes;
    batcher_.append(read, framesOf10ms * frameBytes);
    batcher_.stamp((1000 + 10 * i) * millisecond);
  }

  ASSERT_EQ(delivered_.size(), 2U);
  EXPECT_EQ(delivered_[0].start, 990 * millisecond);
  EXPECT_EQ(delivered_[0].duration, 40 * millisecond);
  expectBackToBack();
  std::vector<float> all;
  for (const auto& delivered : delivered_) {
    all.insert(all.end(), delivered.samples.begin(), delivered.samples.end());
  }
  ASSERT_EQ(all.size(), 8 * framesOf10ms * channels);
  for (std::size_t i = 0; i < all.size(); ++i) {
    ASSERT_EQ(all[i], static_cast<float>(i + 1)) << "sample " << i;
  }
}

TEST_F(AudioBatcherTest, SilenceCarriesTheTimelineWhileAwayAndTheReturnRejoinsItWhereItWasRead) {
  batcher_.fillSilenceUntil(900 * millisecond);
  EXPECT_FALSE(batcher_.end()) << "no silence before the first sound";
  read(frames(framesOf10ms), 1000);
  batcher_.passOn();
  // Away for 100 ms: silence up to the clock.
  batcher_.fillSilenceUntil(1100 * millisecond);
  ASSERT_EQ(delivered_.size(), 2U);
  EXPECT_EQ(delivered_[1].start, 1000 * millisecond);
  EXPECT_EQ(delivered_[1].duration, 100 * millisecond);
  EXPECT_TRUE(isSilent(delivered_[1]));

  // Back, read at 1200 ms: silence is widened to meet its true start.
  batcher_.rejoinAtNextRead();
  read(frames(framesOf10ms), 1200);
  batcher_.passOn();
  ASSERT_EQ(delivered_.size(), 4U);
  EXPECT_TRUE(isSilent(delivered_[2]));
  EXPECT_EQ(delivered_[3].start, 1190 * millisecond);
  EXPECT_FALSE(isSilent(delivered_[3]));

  // Away again, but the silence ran 5 ms past the next read's true start:
  // its first 5 ms are cut, the rest follows the silence.
  batcher_.fillSilenceUntil(1300 * millisecond);
  batcher_.rejoinAtNextRead();
  const float firstValue = nextValue_;
  read(frames(framesOf10ms), 1305);
  batcher_.passOn();
  ASSERT_EQ(delivered_.size(), 6U);
  EXPECT_EQ(delivered_[5].start, 1300 * millisecond);
  EXPECT_EQ(delivered_[5].duration, 5 * millisecond);
  EXPECT_EQ(delivered_[5].samples.front(), firstValue + framesOf10ms / 2 * channels);
  expectBackToBack();
}

TEST_F(AudioBatcherTest, LostAudioLeavesAGapAndEndsTheBatchBeforeIt) {
  read(frames(framesOf10ms), 1000);
  batcher_.skip(framesOf10ms); // 10 ms the server lost
  read(frames(framesOf10ms), 1020);
  // A stream that ended half way into a frame: the next one starts afresh.
  batcher_.append(frames(1).data(), frameBytes / 2);
  batcher_.dropPartialFrame();
  read(frames(framesOf10ms), 1030);
  batcher_.passOn();

  ASSERT_EQ(delivered_.size(), 2U);
  EXPECT_EQ(delivered_[0].start, 990 * millisecond);
  EXPECT_EQ(delivered_[0].duration, 10 * millisecond);
  EXPECT_EQ(delivered_[1].start, 1010 * millisecond);
  EXPECT_EQ(delivered_[1].duration, 20 * millisecond);
  EXPECT_EQ(delivered_[1].samples.size() % channels, 0U);
}

} // namespace

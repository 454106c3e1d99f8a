#include "Platform/Linux/Echo/RoomDelay.h"

#include <cmath>
#include <cstdlib>
#include <vector>

namespace Platform::Linux::Echo {

namespace {

constexpr std::size_t blocksPer10Milliseconds = 5;
constexpr long longestDelayBlocks = 200;   // 400 ms
constexpr std::size_t windowBlocks = 500;  // 1 s
constexpr std::size_t estimateEvery = 125; // 0.25 s
// Lags this close are one delay: reverberation blurs the peak.
constexpr long agreementBlocks = 3;
// A correlation below this is no clear match (the far end silent, the near
// end talking over it).
constexpr double clearMatch = 0.3;

void appendLevels(std::deque<float>& levels, const float* samples, std::size_t frames,
                  int channels) {
  const std::size_t perBlock = frames / blocksPer10Milliseconds;
  for (std::size_t block = 0; block < blocksPer10Milliseconds; ++block) {
    double sum = 0;
    const std::size_t first = block * perBlock * static_cast<std::size_t>(channels);
    const std::size_t count = perBlock * static_cast<std::size_t>(channels);
    for (std::size_t i = first; i < first + count; ++i) {
      sum += std::fabs(samples[i]);
    }
    levels.push_back(static_cast<float>(sum / static_cast<double>(count == 0 ? 1 : count)));
  }
}

} // namespace

void RoomDelay::add(const float* microphone, std::size_t microphoneFrames, int microphoneChannels,
                    const float* reference, std::size_t referenceFrames, int referenceChannels) {
  appendLevels(microphone_, microphone, microphoneFrames, microphoneChannels);
  appendLevels(reference_, reference, referenceFrames, referenceChannels);
  const std::size_t kept = windowBlocks + static_cast<std::size_t>(longestDelayBlocks);
  while (microphone_.size() > kept) {
    microphone_.pop_front();
    reference_.pop_front();
  }
  blocksSinceEstimate_ += blocksPer10Milliseconds;
  if (blocksSinceEstimate_ >= estimateEvery && microphone_.size() == kept) {
    blocksSinceEstimate_ = 0;
    estimate();
  }
}

void RoomDelay::estimate() {
  const std::size_t size = microphone_.size();
  const std::size_t from = static_cast<std::size_t>(longestDelayBlocks);
  double microphoneMean = 0;
  for (std::size_t i = from; i < size; ++i) {
    microphoneMean += microphone_[i];
  }
  microphoneMean /= static_cast<double>(size - from);
  double referenceMean = 0;
  for (const float level : reference_) {
    referenceMean += level;
  }
  referenceMean /= static_cast<double>(size);
  std::vector<double> microphone(size);
  std::vector<double> reference(size);
  for (std::size_t i = 0; i < size; ++i) {
    microphone[i] = microphone_[i] - microphoneMean;
    reference[i] = reference_[i] - referenceMean;
  }
  double microphoneEnergy = 0;
  for (std::size_t i = from; i < size; ++i) {
    microphoneEnergy += microphone[i] * microphone[i];
  }
  double best = 0;
  long bestLag = 0;
  for (long lag = 0; lag <= longestDelayBlocks; ++lag) {
    double product = 0;
    double referenceEnergy = 0;
    for (std::size_t i = from; i < size; ++i) {
      const double played = reference[i - static_cast<std::size_t>(lag)];
      product += microphone[i] * played;
      referenceEnergy += played * played;
    }
    const double scale = std::sqrt(microphoneEnergy * referenceEnergy);
    const double correlation = scale > 0 ? product / scale : 0;
    if (correlation > best) {
      best = correlation;
      bestLag = lag;
    }
  }
  if (best < clearMatch) {
    candidate_.reset();
    return;
  }
  if (candidate_ && std::labs(*candidate_ - bestLag) <= agreementBlocks) {
    delayBlocks_ = bestLag;
  }
  candidate_ = bestLag;
}

} // namespace Platform::Linux::Echo

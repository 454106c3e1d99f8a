#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

// How long the room takes to bring the speakers' sound to the microphone,
// found by correlating their loudness: every 2 ms of each is reduced to its
// mean level, and every half second the lag (up to 400 ms) at which the
// microphone's level follows the speakers' best over the last two seconds
// is taken, once two looks in a row agree and the match is clear. The
// canceller's own filter covers only tens of milliseconds of delay; with
// this the reference is handed to it that much earlier.
//
// Thread contract: none.

namespace Platform::Linux::Echo {

class RoomDelay {
public:
  // 10 ms of the microphone and of the reference over the same instants,
  // interleaved.
  void add(const float* microphone, std::size_t microphoneFrames, int microphoneChannels,
           const float* reference, std::size_t referenceFrames, int referenceChannels);

  // The delay found; zero before the first.
  std::int64_t nanoseconds() const { return delayBlocks_ * blockNanoseconds; }

  static constexpr std::int64_t blockNanoseconds = 2'000'000;

private:
  void estimate();

  std::deque<float> microphone_;
  std::deque<float> reference_;
  std::size_t blocksSinceEstimate_ = 0;
  std::optional<long> candidate_;
  long delayBlocks_ = 0;
};

} // namespace Platform::Linux::Echo

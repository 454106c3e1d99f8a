#pragma once

#include "Platform/Linux/Pulse/AudioTimeline.h"
#include "Platform/SampleBuffer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Turns the bytes a record stream reads into buffers stamped on the host
// clock: whole frames are placed by the AudioTimeline, a partial frame waits
// for the rest of its bytes, and what is placed is gathered into buffers of
// about a batch's length before it is passed on, since every buffer passed on
// wakes the threads down to the file. A batch is passed on early where the
// timeline moves, so each buffer is one stretch of back-to-back frames.
//
// While the source is gone, or delivers nothing, silence carries the
// timeline on; the first read after that rejoins it (AudioTimeline::rejoin).
//
// Thread contract: none; one owner at a time, which may change between
// calls (the stream's thread while it reads, the watcher while none does).

namespace Platform::Linux::Pulse {

class AudioBatcher {
public:
  // Interleaved float32 frames of `channelCount` channels at `sampleRate`;
  // `deliver` receives each batch of at least `batchNanoseconds`.
  AudioBatcher(std::uint32_t sampleRate, int channelCount,
               std::int64_t timelineToleranceNanoseconds, std::int64_t batchNanoseconds,
               std::function<void(SampleBufferRef)> deliver);

  // Appends read bytes; stamp() places their whole frames.
  void append(const std::uint8_t* bytes, std::size_t length);
  // Whether any whole frame waits to be stamped.
  bool hasWholeFrames() const { return pending_.size() >= frameBytes_; }
  // Places the whole frames read so far as a buffer read at `nowNanoseconds`
  // (after the frames the timeline has passed are cut from its front).
  void stamp(std::int64_t nowNanoseconds);
  // Frames the server lost: the next buffer starts that much later.
  void skip(std::size_t frames);
  // The next buffer follows a time without sound (a new stream, a stall):
  // it is placed by its own read time, after silence up to it.
  void rejoinAtNextRead() { rejoining_ = true; }
  // Silence up to `instantNanoseconds`, if the timeline is not there yet.
  void fillSilenceUntil(std::int64_t instantNanoseconds);
  // Forgets a partial frame whose stream has ended.
  void dropPartialFrame() { pending_.clear(); }
  // Passes on what is gathered, however short.
  void passOn();

  // The source's clock, in ppm, when there is news of it
  // (AudioTimeline::clockToReport).
  std::optional<double> clockToReport() { return timeline_.clockToReport(); }
  // How far the timeline stepped, when it did (AudioTimeline::stepToReport).
  std::optional<std::int64_t> stepToReport() { return timeline_.stepToReport(); }

  // Where the stamped audio stops; absent before the first buffer.
  std::optional<std::int64_t> end() const { return timeline_.end(); }

private:
  // Adds `frames` stamped frames (silence when `bytes` is null), lasting from
  // `start` to `end`, to the batch.
  void gather(const std::uint8_t* bytes, std::size_t frames, std::int64_t start, std::int64_t end);

  AudioTimeline timeline_;
  std::shared_ptr<const FormatDescription> format_;
  std::size_t frameBytes_;
  std::size_t framesPerBatch_;
  std::function<void(SampleBufferRef)> deliver_;
  bool rejoining_ = false;
  std::vector<std::uint8_t> pending_; // read, not yet stamped
  std::vector<std::uint8_t> batch_;
  std::size_t batchFrames_ = 0;
  std::int64_t batchStart_ = 0;
  std::int64_t batchEnd_ = 0;
};

} // namespace Platform::Linux::Pulse

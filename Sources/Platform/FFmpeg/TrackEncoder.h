#pragma once

#include "Platform/FFmpeg/LibavHandles.h"
#include "Platform/FFmpeg/Muxer.h"
#include "Platform/SampleBuffer.h"

#include <memory>

// The encoder of one track: takes the samples of a writer input, encodes
// them and hands the packets to the muxer.
//
// Threads: made and attached by the writer before the input's encoder thread
// starts; then used by that thread alone.

namespace Platform::FFmpeg {

class TrackEncoder {
public:
  virtual ~TrackEncoder() = default;

  // The opened encoder, for the muxer's stream parameters.
  const AVCodecContext& codecContext() const { return *codec_; }
  void attach(std::shared_ptr<Muxer> muxer, int streamIndex);

  // Encodes one sample, timed from the session start. Throws
  // Platform::SystemError when encoding or writing fails.
  virtual void append(const CMSampleBuffer& sample, CMTime sessionStart) = 0;
  // Where the appended media ends, from the session start; invalid before
  // anything was appended.
  virtual CMTime appendedEnd() const = 0;
  // Encodes what is still buffered and flushes the encoder. `recordingEnd`
  // (from the session start, or invalid) is where the longest track ends.
  virtual void finish(CMTime recordingEnd) = 0;

protected:
  explicit TrackEncoder(CodecContextPtr codec);

  // Sends a frame (null to flush) and writes every packet it yields. A
  // packet the encoder gives no duration (video) waits for the next one,
  // whose time gives it its duration.
  void encode(const AVFrame* frame);
  // Writes the packet still waiting, if any, lasting until `end` (codec time
  // base), or as long as the one before it when `end` is not after it.
  void writeLastPacket(std::int64_t end);
  AVCodecContext& codec() { return *codec_; }
  // The presentation time of the latest key frame written, in the codec's
  // time base; INT64_MIN before the first.
  std::int64_t lastKeyFrameTime() const { return lastKeyFrameTime_; }

private:
  CodecContextPtr codec_;
  void write(AVPacket& packet);

  PacketPtr packet_;
  PacketPtr waiting_; // a packet without duration, until the next one
  std::shared_ptr<Muxer> muxer_;
  std::int64_t lastDuration_ = 0;
  int streamIndex_ = -1;
  std::int64_t lastKeyFrameTime_ = INT64_MIN;
};

// Opens `codec` with `options`; throws Platform::SystemError naming `what`.
void openEncoder(AVCodecContext& codec, AVDictionary** options, const std::string& what);

} // namespace Platform::FFmpeg

#pragma once

#include "Platform/FFmpeg/EncoderSettings.h"
#include "Platform/FFmpeg/TrackEncoder.h"

#include <optional>

// The encoder of an audio track: AAC or Apple Lossless at the track's rate
// and channel count, resampled and remixed from whatever the source delivers
// (interleaved float32 or int16, any rate, one or more channels).
//
// Timing: output times are sample counts from the session start. Input that
// continues where the previous buffer ended (within a small tolerance for
// clock drift and jitter) is appended without a break, and the resampler
// stretches it, by 0.2 % at most, until it meets its presentation times: a
// sample clock that runs apart from the clock of the stamps neither drifts
// off the picture nor is corrected by audible steps. A real gap is filled
// with silence and an overlap is trimmed, so the track follows the input's
// presentation times without ever breaking its own timeline.
//
// Threads: see TrackEncoder.

namespace Platform::FFmpeg {

class AudioEncoder final : public TrackEncoder {
public:
  // Throws Platform::SystemError when the encoder refuses the settings.
  explicit AudioEncoder(const AudioEncoderSettings& settings);

  void append(const CMSampleBuffer& sample, CMTime sessionStart) override;
  CMTime appendedEnd() const override;
  void finish(CMTime recordingEnd) override;

private:
  explicit AudioEncoder(CodecContextPtr codec);
  void useSource(const AudioStreamDescription& source);
  // The track position, in output samples, where the next input lands.
  std::int64_t expectedPosition() const;
  // Stretches the input to land `lead` output samples later (earlier when
  // negative) over the next seconds.
  void steer(std::int64_t lead);
  void resample(const std::uint8_t* bytes, int frameCount);
  void resampleSilence(std::int64_t frameCount);
  void encodeBufferedFrames(bool all);
  AVFrame& writableFrame(int sampleCount);

  ResampleContextPtr resampler_;
  std::optional<AudioStreamDescription> source_;
  int sourceRate_ = 0;
  AudioFifoPtr fifo_;
  FramePtr resampled_;
  FramePtr frame_;
  std::int64_t produced_ = 0; // output samples the resampler has put out
  bool steering_ = false;     // the resampler stretches the current source
  std::int64_t nextTime_ = 0;
  int primingToSkip_; // input samples still to drop for the encoder's priming
};

} // namespace Platform::FFmpeg

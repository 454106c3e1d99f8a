#pragma once

#include "Platform/FFmpeg/EncoderSettings.h"
#include "Platform/FFmpeg/PixelConverter.h"
#include "Platform/FFmpeg/TrackEncoder.h"

// The encoder of a video track: H.264 (libx264), HEVC (libx265) or ProRes
// (prores_ks), fed captured frames at variable rate. Presentation times are
// kept exactly at a 1/90000 time base (the first frame shows from the session
// start); a frame that does not move time forward is dropped, and a key frame is forced at least
// once a second so that every fragment of the file can be decoded on its own.
//
// Threads: see TrackEncoder.

namespace Platform::FFmpeg {

class VideoEncoder final : public TrackEncoder {
public:
  // Throws Platform::SystemError when the encoder is missing or refuses the
  // settings.
  explicit VideoEncoder(const VideoEncoderSettings& settings);

  void append(const CMSampleBuffer& sample, CMTime sessionStart) override;
  CMTime appendedEnd() const override;
  // The last frame lasts until `recordingEnd`; a picture that stood still
  // until then is encoded once more, one frame before it.
  void finish(CMTime recordingEnd) override;

private:
  explicit VideoEncoder(CodecContextPtr codec);
  AVFrame& writableFrame();

  PixelConverter converter_;
  FramePtr frame_;
  std::int64_t lastTime_ = INT64_MIN;
  std::int64_t lastForcedKeyFrame_ = INT64_MIN;
};

// The size a track is encoded at: the settings' size made even, since the
// encoders' chroma subsampling needs it.
int encodedExtent(int extent);

} // namespace Platform::FFmpeg

#pragma once

#include "Platform/FFmpeg/EncoderSettings.h"
#include "Platform/FFmpeg/TrackEncoder.h"
#include "Platform/FFmpeg/WriterState.h"
#include "Platform/MediaWriting.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

// A writer input over FFmpeg. Appends go into a bounded queue that the
// input's own encoder thread drains once the writer has started; a sample
// that finds the queue full is refused, so capture threads never wait.
//
// Threads: the AVAssetWriterInput members may be called from any thread.
// attach, makeEncoder and start are called by the writer while it sets up;
// setSessionStart and drain by the writer from any thread.

namespace Platform::FFmpeg {

class WriterInput final : public AVAssetWriterInput {
public:
  WriterInput(MediaType mediaType, OutputSettings outputSettings);
  ~WriterInput() override;

  MediaType mediaType() const override { return mediaType_; }
  const OutputSettings& outputSettings() const override { return outputSettings_; }
  void setExpectsMediaDataInRealTime(bool realTime) override;
  bool expectsMediaDataInRealTime() const override;
  bool isReadyForMoreMediaData() const override;
  bool appendSampleBuffer(const SampleBufferRef& sampleBuffer) override;
  void markAsFinished() override;
  void setTrackName(const std::string& name) override;
  std::string trackName() const;

  // The settings read from outputSettings(), absent when they are unusable
  // (settingsProblem() then says why).
  const std::optional<VideoEncoderSettings>& videoSettings() const { return video_; }
  const std::optional<AudioEncoderSettings>& audioSettings() const { return audio_; }
  const std::string& settingsProblem() const { return settingsProblem_; }

  // Claims the input for one writer; false when another writer has it.
  bool attach();
  bool isAttached() const;
  // Opens the encoder the settings describe; throws Platform::SystemError.
  std::unique_ptr<TrackEncoder> makeEncoder() const;
  void start(std::unique_ptr<TrackEncoder> encoder, std::shared_ptr<WriterState> state);
  void setSessionStart(CMTime startTime);
  // Blocks until everything queued is encoded (after markAsFinished).
  void waitUntilEncoded();
  // Where this input's media ends, from the session start; invalid when
  // nothing was encoded. Only after waitUntilEncoded.
  CMTime encodedEnd() const;
  // Encodes everything queued, flushes the encoder (telling it where the
  // longest track ends) and stops its thread.
  void drain(CMTime recordingEnd = kCMTimeInvalid);

private:
  void run();
  bool accepts(const CMSampleBuffer& sample) const;

  const MediaType mediaType_;
  const OutputSettings outputSettings_;
  std::optional<VideoEncoderSettings> video_;
  std::optional<AudioEncoderSettings> audio_;
  std::string settingsProblem_;
  const std::size_t capacity_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool realTime_ = false;
  std::string trackName_;
  bool attached_ = false;
  bool started_ = false;
  bool finished_ = false;
  bool encoded_ = false;               // the queue is done, the flush waits
  std::optional<CMTime> recordingEnd_; // set by drain: the flush may go
  CMTime encodedEnd_ = kCMTimeInvalid;
  std::optional<CMTime> sessionStart_;
  std::deque<SampleBufferRef> queue_;
  std::shared_ptr<WriterState> state_;
  std::unique_ptr<TrackEncoder> encoder_; // used by the encoder thread only
  std::thread thread_;
};

} // namespace Platform::FFmpeg

#pragma once

#include "Platform/FFmpeg/EncoderSettings.h"
#include "Platform/FFmpeg/TrackEncoder.h"
#include "Platform/FFmpeg/WriterState.h"
#include "Platform/MediaWriting.h"
#include "Platform/ThreadSafety.h"

#include <condition_variable>
#include <deque>
#include <optional>
#include <thread>

// A writer input over FFmpeg. Appends go into a bounded queue that the
// input's own encoder thread drains once the writer has started; a sample
// that finds the queue full is refused, so capture threads never wait.
//
// Threads: the AVAssetWriterInput members may be called from any thread.
// attach, makeEncoder and start are called by the writer while it sets up;
// setSessionStart and drain by the writer from any thread. The encoder
// thread owns the encoder; everything it shares with callers is under the
// input's lock, which no one holds while encoding.

namespace Platform::FFmpeg {

class WriterInput final : public AVAssetWriterInput {
public:
  WriterInput(MediaType mediaType, OutputSettings outputSettings);
  ~WriterInput() override;

  MediaType mediaType() const override { return mediaType_; }
  const OutputSettings& outputSettings() const override { return outputSettings_; }
  void setExpectsMediaDataInRealTime(bool realTime) override EXCLUDES(mutex_);
  bool expectsMediaDataInRealTime() const override EXCLUDES(mutex_);
  bool isReadyForMoreMediaData() const override EXCLUDES(mutex_);
  bool appendSampleBuffer(const SampleBufferRef& sampleBuffer) override EXCLUDES(mutex_);
  void markAsFinished() override EXCLUDES(mutex_);
  void setTrackName(const std::string& name) override EXCLUDES(mutex_);
  std::string trackName() const EXCLUDES(mutex_);

  // The settings read from outputSettings(), absent when they are unusable
  // (settingsProblem() then says why).
  const std::optional<VideoEncoderSettings>& videoSettings() const { return video_; }
  const std::optional<AudioEncoderSettings>& audioSettings() const { return audio_; }
  const std::string& settingsProblem() const { return settingsProblem_; }

  // Claims the input for one writer; false when another writer has it.
  bool attach() EXCLUDES(mutex_);
  bool isAttached() const EXCLUDES(mutex_);
  // Opens the encoder the settings describe; throws Platform::SystemError.
  std::unique_ptr<TrackEncoder> makeEncoder() const;
  void start(std::unique_ptr<TrackEncoder> encoder, std::shared_ptr<WriterState> state)
      EXCLUDES(mutex_);
  void setSessionStart(CMTime startTime) EXCLUDES(mutex_);
  // Blocks until everything queued is encoded (after markAsFinished).
  void waitUntilEncoded() EXCLUDES(mutex_);
  // Where this input's media ends, from the session start; invalid when
  // nothing was encoded. Only after waitUntilEncoded.
  CMTime encodedEnd() const EXCLUDES(mutex_);
  // Encodes everything queued, flushes the encoder (telling it where the
  // longest track ends) and stops its thread.
  void drain(CMTime recordingEnd = kCMTimeInvalid) EXCLUDES(mutex_);

private:
  // The encoder thread.
  void run(TrackEncoder& encoder, WriterState& state) EXCLUDES(mutex_);
  bool accepts(const CMSampleBuffer& sample) const;

  const MediaType mediaType_;
  const OutputSettings outputSettings_;
  std::optional<VideoEncoderSettings> video_;
  std::optional<AudioEncoderSettings> audio_;
  std::string settingsProblem_;
  const std::size_t capacity_;

  mutable Mutex mutex_;
  std::condition_variable wake_;
  bool realTime_ GUARDED_BY(mutex_) = false;
  std::string trackName_ GUARDED_BY(mutex_);
  bool attached_ GUARDED_BY(mutex_) = false;
  bool started_ GUARDED_BY(mutex_) = false;
  bool finished_ GUARDED_BY(mutex_) = false;
  bool encoded_ GUARDED_BY(mutex_) = false;               // the queue is done, the flush waits
  std::optional<CMTime> recordingEnd_ GUARDED_BY(mutex_); // set by drain: the flush may go
  CMTime encodedEnd_ GUARDED_BY(mutex_) = kCMTimeInvalid;
  std::optional<CMTime> sessionStart_ GUARDED_BY(mutex_);
  std::deque<SampleBufferRef> queue_ GUARDED_BY(mutex_);
  std::shared_ptr<WriterState> state_ GUARDED_BY(mutex_);
  // Started by start and joined by drain, which the writer never calls at
  // once: joining cannot hold the lock the thread needs.
  std::thread thread_;
};

} // namespace Platform::FFmpeg

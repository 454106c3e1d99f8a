#include "Platform/FFmpeg/WriterInput.h"

#include "Platform/FFmpeg/AudioEncoder.h"
#include "Platform/FFmpeg/PixelConverter.h"
#include "Platform/FFmpeg/VideoEncoder.h"

namespace Platform::FFmpeg {

namespace {

// About a third of a second of frames at capture rates: enough to ride out
// a slow key frame, small enough that a stalled encoder sheds load quickly.
constexpr std::size_t videoQueueCapacity = 8;
// Audio buffers are small (10 to 50 ms each): over a second of audio.
constexpr std::size_t audioQueueCapacity = 100;

} // namespace

WriterInput::WriterInput(MediaType mediaType, OutputSettings outputSettings)
    : mediaType_(mediaType), outputSettings_(std::move(outputSettings)),
      capacity_(mediaType == MediaType::video ? videoQueueCapacity : audioQueueCapacity) {
  try {
    if (mediaType_ == MediaType::video) {
      video_ = readVideoEncoderSettings(outputSettings_);
    } else {
      audio_ = readAudioEncoderSettings(outputSettings_);
    }
  } catch (const Error& error) {
    settingsProblem_ = error.localizedDescription();
  }
}

WriterInput::~WriterInput() {
  drain();
}

void WriterInput::setExpectsMediaDataInRealTime(bool realTime) {
  Lock lock(mutex_);
  realTime_ = realTime;
}

bool WriterInput::expectsMediaDataInRealTime() const {
  Lock lock(mutex_);
  return realTime_;
}

bool WriterInput::isReadyForMoreMediaData() const {
  Lock lock(mutex_);
  return started_ && !finished_ && !state_->isFailed() && queue_.size() < capacity_;
}

bool WriterInput::accepts(const CMSampleBuffer& sample) const {
  if (!sample.isValid() || !sample.presentationTimeStamp().isNumeric()) {
    return false;
  }
  if (mediaType_ == MediaType::video) {
    return sample.imageBuffer() && isConvertible(*sample.imageBuffer());
  }
  const auto& format = sample.formatDescription();
  return sample.audioBuffer() && format && format->mediaType == MediaType::audio && format->audio;
}

bool WriterInput::appendSampleBuffer(const SampleBufferRef& sampleBuffer) {
  if (!sampleBuffer || !accepts(*sampleBuffer)) {
    return false;
  }
  {
    Lock lock(mutex_);
    if (!started_ || finished_ || state_->isFailed() || queue_.size() >= capacity_) {
      return false;
    }
    queue_.push_back(sampleBuffer);
  }
  wake_.notify_all();
  return true;
}

void WriterInput::markAsFinished() {
  {
    Lock lock(mutex_);
    finished_ = true;
  }
  wake_.notify_all();
}

void WriterInput::setTrackName(const std::string& name) {
  Lock lock(mutex_);
  trackName_ = name;
}

std::string WriterInput::trackName() const {
  Lock lock(mutex_);
  return trackName_;
}

bool WriterInput::attach() {
  Lock lock(mutex_);
  if (attached_) {
    return false;
  }
  attached_ = true;
  return true;
}

bool WriterInput::isAttached() const {
  Lock lock(mutex_);
  return attached_;
}

std::unique_ptr<TrackEncoder> WriterInput::makeEncoder() const {
  if (video_) {
    return std::make_unique<VideoEncoder>(*video_);
  }
  if (audio_) {
    return std::make_unique<AudioEncoder>(*audio_);
  }
  throw SystemError(ErrorDomain::mediaWriting, EINVAL, settingsProblem_);
}

void WriterInput::start(std::unique_ptr<TrackEncoder> encoder, std::shared_ptr<WriterState> state) {
  Lock lock(mutex_);
  state_ = state;
  started_ = true;
  thread_ = std::thread(
      [this, encoder = std::move(encoder), state = std::move(state)] { run(*encoder, *state); });
}

void WriterInput::setSessionStart(CMTime startTime) {
  {
    Lock lock(mutex_);
    sessionStart_ = startTime;
  }
  wake_.notify_all();
}

void WriterInput::waitUntilEncoded() {
  markAsFinished();
  Lock lock(mutex_);
  if (!thread_.joinable()) {
    return;
  }
  while (!encoded_) {
    lock.wait(wake_);
  }
}

CMTime WriterInput::encodedEnd() const {
  Lock lock(mutex_);
  return encodedEnd_;
}

void WriterInput::drain(CMTime recordingEnd) {
  {
    Lock lock(mutex_);
    finished_ = true;
    if (!recordingEnd_) {
      recordingEnd_ = recordingEnd;
    }
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void WriterInput::run(TrackEncoder& encoder, WriterState& state) {
  for (;;) {
    SampleBufferRef sample;
    CMTime sessionStart;
    {
      Lock lock(mutex_);
      // Samples wait for the session start; a finished input with no start
      // has nothing it could write.
      while (!finished_ && !(sessionStart_ && !queue_.empty())) {
        lock.wait(wake_);
      }
      if (!sessionStart_ || queue_.empty()) {
        queue_.clear();
        break;
      }
      sample = std::move(queue_.front());
      queue_.pop_front();
      sessionStart = *sessionStart_;
    }
    if (state.isFailed()) {
      continue; // keep emptying the queue; nothing more reaches the file
    }
    try {
      encoder.append(*sample, sessionStart);
    } catch (const SystemError& error) {
      state.fail(std::make_shared<SystemError>(error));
    }
  }
  CMTime recordingEnd;
  {
    // The flush waits for drain, which tells where the longest track ends.
    Lock lock(mutex_);
    encodedEnd_ = encoder.appendedEnd();
    encoded_ = true;
    wake_.notify_all();
    while (!recordingEnd_) {
      lock.wait(wake_);
    }
    recordingEnd = *recordingEnd_;
  }
  if (!state.isFailed()) {
    try {
      encoder.finish(recordingEnd);
    } catch (const SystemError& error) {
      state.fail(std::make_shared<SystemError>(error));
    }
  }
}

} // namespace Platform::FFmpeg

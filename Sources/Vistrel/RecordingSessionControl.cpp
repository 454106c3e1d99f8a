#include "Vistrel/RecordingSession.h"

#include "Vistrel/FailureCauses.h"

#include "Platform/Log.h"
#include "Platform/Platform.h"

#include <algorithm>
#include <thread>

// Pause, resume, stop, clean-up and the recording of failures.

namespace Vistrel {

Error RecordingSession::stoppedBeforeStart() {
  return Error::couldNotStartStream(Platform::makeError(
      Platform::ErrorDomain::screenCapture, 0, "The recording was stopped before it started."));
}

Error RecordingSession::writerFailure(const Platform::AVAssetWriter& writer) {
  return recordingFailure(writer.error(), FailureOrigin::writer, "The file could not be written.");
}

void RecordingSession::pause() {
  std::lock_guard lock(mutex_);
  isPaused_ = true;
}

bool RecordingSession::isPaused() const {
  std::lock_guard lock(mutex_);
  return isPaused_;
}

void RecordingSession::setOnError(ErrorCallback onError) {
  std::lock_guard lock(mutex_);
  onError_ = std::move(onError);
}

void RecordingSession::resume() {
  const auto wait = std::make_shared<ResumeWait>();
  {
    std::lock_guard lock(mutex_);
    endResumeWait(); // the resume this one replaces returns now
    isPaused_ = false;
    isResuming_ = true;
    if (error_ || phase_ != Phase::recording) {
      wait->complete({}); // no sample will ever come
    } else {
      resumeContinuation_ = wait;
    }
  }
  wait->wait();
}

void RecordingSession::endResumeWait() {
  if (resumeContinuation_) {
    resumeContinuation_->complete({});
    resumeContinuation_.reset();
  }
}

void RecordingSession::stop() {
  std::optional<Error> recorded;
  {
    std::lock_guard lock(mutex_);
    recorded = error_;
    if (phase_ == Phase::idle || phase_ == Phase::starting) {
      isStartCancelled_ = true; // the start fails, and says so only to its caller
    }
  }
  if (recorded) {
    // The failure's own clean-up may still be finishing the file: the caller
    // may end the process as soon as stop returns.
    cleanUp();
    throw *recorded;
  }
  if (std::optional<Error> failure = cleanUp()) {
    std::lock_guard lock(mutex_);
    // Kept, so that every later stop reports the lost file as well.
    if (!error_) {
      error_ = failure;
    }
    throw *failure;
  }
}

std::optional<Error> RecordingSession::cleanUp() {
  std::shared_ptr<Platform::SCStream> stream;
  std::shared_ptr<Platform::AVCaptureSession> microphoneSession;
  std::shared_ptr<Platform::AVCaptureSession> deviceSession;
  Platform::AssetWriterRef writer;
  Phase ending = Phase::ended;
  CMTime recordingEnd = kCMTimeInvalid;
  {
    std::unique_lock lock(mutex_);
    cleanUpEnded_.wait(lock, [this] { return !isCleaningUp(); });
    switch (phase_) {
    case Phase::idle:
    case Phase::starting:
      phase_ = Phase::abandoning;
      if (continuation_) {
        completeStartWait(stoppedBeforeStart());
      } else if (!startFailure_) {
        startFailure_ = stoppedBeforeStart();
      }
      break;
    case Phase::recording:
      phase_ = Phase::stopping;
      // The file lasts as long as the timeline ran, whatever each track last
      // got: unchanged frames that were never written still count.
      if (lastFrame_) {
        recordingEnd = *lastFrame_;
      }
      break;
    default:
      // Ended already: sources a failed start set going late still stop
      // below; the writer has nothing left to do.
      phase_ = Phase::abandoning;
      break;
    }
    ending = phase_;
    endResumeWait();
    if (isStreamRecording_ || isStreamStarting_) {
      stream = stream_;
    }
    microphoneSession = microphoneCaptureSession_;
    deviceSession = externalDeviceCaptureSession_;
    writer = assetWriter_;
  }
  struct EndOfCleanUp {
    RecordingSession& session;
    ~EndOfCleanUp() {
      {
        std::lock_guard lock(session.mutex_);
        session.phase_ = Phase::ended;
      }
      session.cleanUpEnded_.notify_all();
    }
  } endOfCleanUp{*this};

  if (stream) {
    stopStream(*stream);
  }
  for (const auto& session : {microphoneSession, deviceSession}) {
    if (session && session->isRunning()) {
      session->stopRunning();
    }
  }
  if (ending == Phase::stopping && writer &&
      writer->status() == Platform::AVAssetWriterStatus::writing) {
    std::vector<Platform::AssetWriterInputRef> inputs;
    {
      std::lock_guard lock(mutex_);
      phase_ = Phase::finishing;
      inputs = {video_.input, systemAudio_.input, microphone_.input};
    }
    if (recordingEnd.isNumeric()) {
      writer->endSessionAtSourceTime(recordingEnd);
    }
    const std::vector<Platform::AssetWriterInputRef> attached = writer->inputs();
    for (const auto& input : inputs) {
      if (input && std::find(attached.begin(), attached.end(), input) != attached.end()) {
        input->markAsFinished();
      }
    }
    writer->finishWriting();
  } else if (writer && writer->status() == Platform::AVAssetWriterStatus::unknown) {
    // Start-up failed before the first sample: nothing was recorded, and the
    // file the writer created must not stay behind.
    writer->cancelWriting();
  }
  if (writer && writer->status() == Platform::AVAssetWriterStatus::failed) {
    return writerFailure(*writer);
  }
  return std::nullopt;
}

void RecordingSession::stopStream(Platform::SCStream& stream) {
  for (;;) {
    try {
      stream.stopCapture();
      return;
    } catch (const std::exception&) {
      // Already stopped (or failed): the sessions and the file still need
      // ending. Or its start is only about to begin, and a stop then would
      // be lost: the start may wait on the user for minutes.
    }
    {
      std::lock_guard lock(mutex_);
      if (!isStreamStarting_) {
        return;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void RecordingSession::recordError(const Error& error) {
  ErrorCallback onError;
  {
    std::lock_guard lock(mutex_);
    if (continuation_) {
      // Start-up is waiting: it reports, cleans up and fails itself.
      completeStartWait(error);
      return;
    }
    if (phase_ == Phase::idle || phase_ == Phase::starting) {
      // Start-up has not begun its wait yet: it fails when it does.
      if (!startFailure_) {
        startFailure_ = error;
      }
      return;
    }
    if (phase_ != Phase::recording || error_) {
      return; // a clean-up under way, or an earlier failure, ends the file
    }
    error_ = error;
    onError = onError_;
    endResumeWait();
  }
  // The parent may not ask for the outcome for a long time: say it now.
  std::string cause = error.localizedDescription();
  if (!cause.empty() && cause.back() != '.') {
    cause += '.'; // the platform's descriptions are not always sentences
  }
  Platform::log(Platform::LogLevel::error,
                "Recording ended: " + cause + " The file keeps what was recorded.");
  if (onError) {
    try {
      onError(error);
    } catch (const std::exception& thrown) {
      Platform::log(Platform::LogLevel::error,
                    "The error callback failed: " + Platform::describe(thrown));
    }
  }
  // The file is finished at once, with everything up to the failure.
  Platform::startTask([self = shared_from_this()] { self->cleanUp(); });
}

void RecordingSession::streamDidStopWithError(Platform::SCStream& /*stream*/,
                                              Platform::ErrorRef error) {
  recordError(
      recordingFailure(std::move(error), FailureOrigin::stream, "The capture stream stopped."));
}

} // namespace Vistrel

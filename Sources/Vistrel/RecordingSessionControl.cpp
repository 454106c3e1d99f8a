#include "Vistrel/RecordingSession.h"

#include "Vistrel/FailureCauses.h"

#include "Platform/Log.h"
#include "Platform/Platform.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>

// Pause, resume, stop, clean-up and the recording of failures: the
// transitions of the session's state after its start.

namespace Vistrel {

Error RecordingSession::stoppedBeforeStart() {
  return Error::couldNotStartStream(Platform::makeError(
      Platform::ErrorDomain::screenCapture, 0, "The recording was stopped before it started."));
}

Error RecordingSession::writerFailure(const Platform::AVAssetWriter& writer) {
  return recordingFailure(writer.error(), FailureOrigin::writer, "The file could not be written.");
}

void RecordingSession::pause() {
  // What was captured until now is kept, also what is still on its way.
  const CMTime instant = Platform::system().hostTime();
  Lock lock(mutex_);
  if (state_ == State::recording || state_ == State::resuming) {
    transition(State::paused);
    timeline_.pause(instant);
  }
}

bool RecordingSession::isPaused() const {
  Lock lock(mutex_);
  return state_ == State::paused;
}

bool RecordingSession::hasStarted() const {
  Lock lock(mutex_);
  return state_ != State::idle && !isStarting() && state_ != State::startFailed &&
         state_ != State::abandoning;
}

void RecordingSession::transition(State to) {
  if (!mayChange(state_, to)) {
    throw std::logic_error("The recording cannot change from state " +
                           std::to_string(static_cast<int>(state_)) + " to " +
                           std::to_string(static_cast<int>(to)));
  }
  if (state_ == State::startingWriter) {
    writerStarted_.notify_all();
  }
  state_ = to;
}

void RecordingSession::setOnError(ErrorCallback onError) {
  Lock lock(mutex_);
  onError_ = std::move(onError);
}

void RecordingSession::resume() {
  const auto wait = std::make_shared<ResumeWait>();
  {
    Lock lock(mutex_);
    endResumeWait(); // the resume this one replaces returns now
    if (state_ == State::recording || state_ == State::paused || state_ == State::resuming) {
      transition(State::resuming);
      resumeContinuation_ = wait;
    } else {
      wait->complete({}); // no sample will ever come
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

RecordingSession::StopOutcome RecordingSession::stop() {
  // The file ends here: the sources' last buffers, which hold this instant,
  // still reach it.
  const CMTime instant = Platform::system().hostTime();
  Lock lock(mutex_);
  awaitWriterStart(lock); // a recording, or a start that failed
  switch (state_) {
  case State::idle:
  case State::starting:
  case State::startingStream:
  case State::startFailed:
  case State::abandoning: {
    // The start gives up and fails, and says so only to its caller.
    const std::shared_ptr<Platform::SCStream> starting =
        state_ == State::startingStream ? stream_ : nullptr;
    transition(State::abandoning);
    if (continuation_) {
      completeStartWait(stoppedBeforeStart());
    } else if (!error_) {
      error_ = stoppedBeforeStart();
    }
    lock.unlock();
    if (starting) {
      stopStream(*starting);
    }
    lock.lock();
    waitUntilEnded(lock);
    return StopOutcome::cancelledStart;
  }
  case State::startingWriter: // awaited above
  case State::recording:
  case State::paused:
  case State::resuming:
    transition(State::stopping);
    stopInstant_ = instant;
    lock.unlock();
    if (std::optional<Error> failure = cleanUp()) {
      throw *failure;
    }
    return StopOutcome::finished;
  case State::stopping:
  case State::failing:
  case State::finishing:
  case State::ended:
    // Another stop or a failure won: its outcome is this stop's. The caller
    // may end the process once stop returns, so the file must be finished.
    waitUntilEnded(lock);
    if (error_) {
      throw *error_;
    }
    return StopOutcome::finished;
  }
  return StopOutcome::finished;
}

void RecordingSession::waitUntilEnded(Lock& lock) {
  const auto deadline = std::chrono::steady_clock::now() + endPatience;
  while (state_ != State::ended) {
    if (std::chrono::steady_clock::now() >= deadline) {
      Platform::log(Platform::LogLevel::warning,
                    "The recording did not end in time; the stop returns without it.");
      return;
    }
    lock.waitUntil(ended_, deadline);
  }
}

std::optional<Error> RecordingSession::cleanUp() {
  std::shared_ptr<Platform::SCStream> stream;
  std::shared_ptr<Platform::AVCaptureSession> microphoneSession;
  std::shared_ptr<Platform::AVCaptureSession> deviceSession;
  Platform::AssetWriterRef writer;
  std::unique_ptr<Activity> activity;
  bool finishesFile = false;
  {
    Lock lock(mutex_);
    finishesFile = state_ == State::stopping || state_ == State::failing;
    endResumeWait();
    // Also one that stopped itself or never started: stopping it again
    // changes nothing.
    stream = stream_;
    microphoneSession = microphoneCaptureSession_;
    deviceSession = externalDeviceCaptureSession_;
    writer = assetWriter_;
    activity = std::move(activity_); // the machine may idle again
  }
  activity.reset();

  stopSources(stream, microphoneSession, deviceSession);
  if (finishesFile && writer && writer->status() == Platform::AVAssetWriterStatus::writing) {
    std::vector<Platform::AssetWriterInputRef> inputs;
    CMTime recordingEnd = kCMTimeInvalid;
    {
      Lock lock(mutex_);
      transition(State::finishing);
      inputs = {video_.input, systemAudio_.input, microphone_.input};
      // The file lasts as long as the timeline ran, whatever each track last
      // got (unchanged frames that were never written still count), and to
      // the instant of the stop.
      if (const auto end = timeline_.endAt(stopInstant_.value_or(kCMTimeInvalid))) {
        recordingEnd = *end;
      }
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
    // The start failed before the first sample: nothing was recorded, and
    // the file the writer created must not stay behind.
    writer->cancelWriting();
  }
  std::optional<Error> failure;
  if (writer && writer->status() == Platform::AVAssetWriterStatus::failed) {
    failure = writerFailure(*writer);
  }
  end(failure);
  return failure;
}

void RecordingSession::stopSources(
    const std::shared_ptr<Platform::SCStream>& stream,
    const std::shared_ptr<Platform::AVCaptureSession>& microphoneSession,
    const std::shared_ptr<Platform::AVCaptureSession>& deviceSession) {
  std::vector<std::function<void()>> stops;
  std::vector<const char*> names;
  if (stream) {
    stops.emplace_back([self = shared_from_this(), stream] { self->stopStream(*stream); });
    names.push_back("screen capture");
  }
  for (const auto& source :
       {std::pair{microphoneSession, "microphone"}, std::pair{deviceSession, "device capture"}}) {
    if (const std::shared_ptr<Platform::AVCaptureSession> session = source.first) {
      stops.emplace_back([session] {
        if (session->isRunning()) {
          session->stopRunning();
        }
      });
      names.push_back(source.second);
    }
  }
  const std::vector<bool> stopped = Platform::runTasksWithin(std::move(stops), sourceStopPatience);
  for (std::size_t index = 0; index < stopped.size(); ++index) {
    if (!stopped[index]) {
      Platform::log(Platform::LogLevel::warning,
                    std::string("The ") + names[index] +
                        " did not stop in time: a display or audio server does not answer. The "
                        "file is finished with what it captured up to the stop.");
    }
  }
}

void RecordingSession::end(const std::optional<Error>& failure) {
  {
    Lock lock(mutex_);
    transition(State::ended);
    // Kept, so that every later stop reports the lost file as well.
    if (failure && !error_) {
      error_ = failure;
    }
  }
  ended_.notify_all();
}

void RecordingSession::stopStream(Platform::SCStream& stream) {
  try {
    stream.stopCapture();
  } catch (const std::exception&) {
    // Already stopped (or failed): the sessions and the file still need
    // ending. Or its start is called and not yet begun: that start gives
    // up, by the stream's contract.
  }
}

void RecordingSession::recordError(const Error& error) {
  ErrorCallback onError;
  {
    Lock lock(mutex_);
    awaitWriterStart(lock); // whether the start or the recording fails
    if (isStarting()) {
      if (continuation_) {
        // Start-up is waiting: it reports, cleans up and fails itself.
        completeStartWait(error);
      } else {
        // Start-up has not begun its wait yet: it fails when it does.
        error_ = error;
        transition(State::startFailed);
      }
      return;
    }
    if (!isRecording()) {
      return; // a stop or an earlier failure won: its clean-up ends the file
    }
    transition(State::failing);
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
  // The file is finished at once, with everything up to the failure; before
  // the callback, so that a stop() it calls, which waits for that, returns.
  Platform::startTask([self = shared_from_this()] { self->cleanUp(); });
  if (onError) {
    try {
      onError(error);
    } catch (const std::exception& thrown) {
      Platform::log(Platform::LogLevel::error,
                    "The error callback failed: " + Platform::describe(thrown));
    }
  }
}

void RecordingSession::streamDidStopWithError(Platform::SCStream& /*stream*/,
                                              Platform::ErrorRef error) {
  recordError(
      recordingFailure(std::move(error), FailureOrigin::stream, "The capture stream stopped."));
}

} // namespace Vistrel

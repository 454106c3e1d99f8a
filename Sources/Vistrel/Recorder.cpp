#include "Vistrel/Recorder.h"

#include "Vistrel/RecordingSession.h"

namespace Vistrel {

void Recorder::start(Target target, const RecordingOptions& options) {
  const auto session = std::make_shared<RecordingSession>();
  {
    std::lock_guard lock(mutex_);
    if (recordingSession_ || startingSession_) {
      throw Error::recorderAlreadyStarted();
    }
    session->setOnError(onError_);
    startingSession_ = session;
  }
  try {
    session->start(target, options);
  } catch (...) {
    std::lock_guard lock(mutex_);
    startingSession_.reset();
    throw;
  }
  Callback onStart;
  {
    std::lock_guard lock(mutex_);
    startingSession_.reset();
    recordingSession_ = session;
    onStart = onStart_;
  }
  if (onStart) {
    onStart();
  }
}

void Recorder::stop() {
  std::shared_ptr<RecordingSession> starting;
  {
    std::lock_guard lock(mutex_);
    if (!recordingSession_) {
      starting = startingSession_;
    }
  }
  if (starting) {
    // The start gives up and fails: nothing was recorded, nothing finishes.
    starting->stop();
    return;
  }
  const auto session = requireSession();
  session->stop();
  Callback onFinish;
  {
    std::lock_guard lock(mutex_);
    if (recordingSession_ == session) {
      recordingSession_.reset();
    }
    onFinish = onFinish_;
  }
  if (onFinish) {
    onFinish();
  }
}

void Recorder::pause() {
  requireSession()->pause();
  if (const Callback onPause = read(onPause_)) {
    onPause();
  }
}

void Recorder::resume() {
  requireSession()->resume();
  if (const Callback onResume = read(onResume_)) {
    onResume();
  }
}

bool Recorder::isPaused() const {
  std::shared_ptr<RecordingSession> session;
  {
    std::lock_guard lock(mutex_);
    session = recordingSession_;
  }
  return session && session->isPaused();
}

std::shared_ptr<RecordingSession> Recorder::requireSession() const {
  std::lock_guard lock(mutex_);
  if (!recordingSession_) {
    throw Error::recorderNotStarted();
  }
  return recordingSession_;
}

Recorder::Callback Recorder::read(const Callback& field) const {
  std::lock_guard lock(mutex_);
  return field;
}

Recorder::Callback Recorder::onStart() const {
  return read(onStart_);
}
Recorder::Callback Recorder::onFinish() const {
  return read(onFinish_);
}
Recorder::Callback Recorder::onPause() const {
  return read(onPause_);
}
Recorder::Callback Recorder::onResume() const {
  return read(onResume_);
}
Recorder::ErrorCallback Recorder::onError() const {
  std::lock_guard lock(mutex_);
  return onError_;
}

void Recorder::setOnStart(Callback callback) {
  std::lock_guard lock(mutex_);
  onStart_ = std::move(callback);
}
void Recorder::setOnFinish(Callback callback) {
  std::lock_guard lock(mutex_);
  onFinish_ = std::move(callback);
}
void Recorder::setOnPause(Callback callback) {
  std::lock_guard lock(mutex_);
  onPause_ = std::move(callback);
}
void Recorder::setOnResume(Callback callback) {
  std::lock_guard lock(mutex_);
  onResume_ = std::move(callback);
}

void Recorder::setOnError(ErrorCallback callback) {
  std::lock_guard lock(mutex_);
  onError_ = std::move(callback);
  for (const auto& session : {recordingSession_, startingSession_}) {
    if (session) {
      session->setOnError(onError_);
    }
  }
}

} // namespace Vistrel

#include "Vistrel/Recorder.h"

#include "Vistrel/RecordingSession.h"

#include <mutex>

namespace Vistrel {

class Recorder::Impl {
public:
  // The current session; throws recorderNotStarted when there is none.
  std::shared_ptr<RecordingSession> requireSession() const {
    std::lock_guard lock(mutex);
    if (!recordingSession) {
      throw Error::recorderNotStarted();
    }
    return recordingSession;
  }
  template <typename Field> Field read(const Field& field) const {
    std::lock_guard lock(mutex);
    return field;
  }
  template <typename Field> void write(Field& field, Field value) {
    std::lock_guard lock(mutex);
    field = std::move(value);
  }

  // Guards every field below; never held while a session blocks or a
  // callback runs. Taken before a session's own lock, never after.
  mutable std::mutex mutex;
  std::shared_ptr<RecordingSession> recordingSession;
  std::shared_ptr<RecordingSession> startingSession;
  Callback onStart;
  Callback onFinish;
  Callback onPause;
  Callback onResume;
  ErrorCallback onError;
};

Recorder::Recorder() : impl_(std::make_unique<Impl>()) {}

Recorder::~Recorder() = default;

void Recorder::start(Target target, const RecordingOptions& options) {
  const auto session = std::make_shared<RecordingSession>();
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->recordingSession || impl_->startingSession) {
      throw Error::recorderAlreadyStarted();
    }
    session->setOnError(impl_->onError);
    impl_->startingSession = session;
  }
  try {
    session->start(target, options);
  } catch (...) {
    std::lock_guard lock(impl_->mutex);
    impl_->startingSession.reset();
    throw;
  }
  Callback onStart;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->startingSession.reset();
    impl_->recordingSession = session;
    onStart = impl_->onStart;
  }
  if (onStart) {
    onStart();
  }
}

void Recorder::stop() {
  std::shared_ptr<RecordingSession> starting;
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->recordingSession) {
      starting = impl_->startingSession;
    }
  }
  if (starting) {
    // The start gives up and fails: nothing was recorded, nothing finishes.
    starting->stop();
    return;
  }
  const auto session = impl_->requireSession();
  session->stop();
  Callback onFinish;
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->recordingSession == session) {
      impl_->recordingSession.reset();
    }
    onFinish = impl_->onFinish;
  }
  if (onFinish) {
    onFinish();
  }
}

void Recorder::pause() {
  impl_->requireSession()->pause();
  if (const Callback callback = onPause()) {
    callback();
  }
}

void Recorder::resume() {
  impl_->requireSession()->resume();
  if (const Callback callback = onResume()) {
    callback();
  }
}

bool Recorder::isPaused() const {
  const std::shared_ptr<RecordingSession> session = impl_->read(impl_->recordingSession);
  return session && session->isPaused();
}

Recorder::Callback Recorder::onStart() const {
  return impl_->read(impl_->onStart);
}
Recorder::Callback Recorder::onFinish() const {
  return impl_->read(impl_->onFinish);
}
Recorder::Callback Recorder::onPause() const {
  return impl_->read(impl_->onPause);
}
Recorder::Callback Recorder::onResume() const {
  return impl_->read(impl_->onResume);
}
Recorder::ErrorCallback Recorder::onError() const {
  return impl_->read(impl_->onError);
}

void Recorder::setOnStart(Callback callback) {
  impl_->write(impl_->onStart, std::move(callback));
}
void Recorder::setOnFinish(Callback callback) {
  impl_->write(impl_->onFinish, std::move(callback));
}
void Recorder::setOnPause(Callback callback) {
  impl_->write(impl_->onPause, std::move(callback));
}
void Recorder::setOnResume(Callback callback) {
  impl_->write(impl_->onResume, std::move(callback));
}

void Recorder::setOnError(ErrorCallback callback) {
  std::lock_guard lock(impl_->mutex);
  impl_->onError = std::move(callback);
  for (const auto& session : {impl_->recordingSession, impl_->startingSession}) {
    if (session) {
      session->setOnError(impl_->onError);
    }
  }
}

} // namespace Vistrel

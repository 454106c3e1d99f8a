#include "Vistrel/Recorder.h"

#include "Vistrel/RecordingSession.h"

#include <mutex>

namespace Vistrel {

class Recorder::Impl {
public:
  // The current recording; throws recorderNotStarted when there is none
  // (or its start has not succeeded yet).
  std::shared_ptr<RecordingSession> requireStarted() const {
    const std::shared_ptr<RecordingSession> current = read(session);
    if (!current || !current->hasStarted()) {
      throw Error::recorderNotStarted();
    }
    return current;
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
  // From the start of a recording until it stops; kept when it failed, so
  // that the recorder refuses to start again.
  std::shared_ptr<RecordingSession> session;
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
    if (impl_->session) {
      throw Error::recorderAlreadyStarted();
    }
    session->setOnError(impl_->onError);
    impl_->session = session;
  }
  try {
    session->start(target, options);
  } catch (...) {
    std::lock_guard lock(impl_->mutex);
    impl_->session.reset();
    throw;
  }
  if (const Callback callback = onStart()) {
    callback();
  }
}

void Recorder::stop() {
  const std::shared_ptr<RecordingSession> session = impl_->read(impl_->session);
  if (!session) {
    throw Error::recorderNotStarted();
  }
  if (session->stop() == RecordingSession::StopOutcome::cancelledStart) {
    return; // the start fails: nothing was recorded, nothing finishes
  }
  Callback onFinish;
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->session == session) {
      impl_->session.reset();
    }
    onFinish = impl_->onFinish;
  }
  if (onFinish) {
    onFinish();
  }
}

void Recorder::pause() {
  impl_->requireStarted()->pause();
  if (const Callback callback = onPause()) {
    callback();
  }
}

void Recorder::resume() {
  impl_->requireStarted()->resume();
  if (const Callback callback = onResume()) {
    callback();
  }
}

bool Recorder::isPaused() const {
  const std::shared_ptr<RecordingSession> session = impl_->read(impl_->session);
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
  if (impl_->session) {
    impl_->session->setOnError(impl_->onError);
  }
}

} // namespace Vistrel

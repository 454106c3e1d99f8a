#pragma once

#include "Vistrel/Error.h"
#include "Vistrel/RecordingOptions.h"
#include "Vistrel/Target.h"

#include <functional>
#include <memory>
#include <mutex>

// The engine's public face: one recording at a time, with callbacks for its
// transitions.
//
// Thread contract. start, stop and resume block until done (never needing
// the main thread) and throw Error; issue the operations of one recorder one
// at a time (a start while another is in progress fails with
// recorderAlreadyStarted). Callbacks may be read and replaced from any
// thread at any time. onStart, onFinish, onPause and onResume run on the
// caller's thread before the operation returns; onError runs on whichever
// thread detects the failure, possibly concurrently with the caller, and may
// call back into the recorder. No lock is held while a callback runs.

namespace Vistrel {

class RecordingSession;

class Recorder {
public:
  using Callback = std::function<void()>;
  using ErrorCallback = std::function<void(const Error&)>;

  Recorder() = default;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  void start(Target target, const RecordingOptions& options);
  void stop();
  void pause();
  void resume();
  bool isPaused() const;

  Callback onStart() const;
  Callback onFinish() const;
  Callback onPause() const;
  Callback onResume() const;
  ErrorCallback onError() const;
  void setOnStart(Callback callback);
  void setOnFinish(Callback callback);
  void setOnPause(Callback callback);
  void setOnResume(Callback callback);
  // Also replaces the callback of the current session.
  void setOnError(ErrorCallback callback);

private:
  // The current session; throws recorderNotStarted when there is none.
  std::shared_ptr<RecordingSession> requireSession() const;
  Callback read(const Callback& field) const;

  // Guards every field below; never held while a session blocks or a
  // callback runs. Taken before a session's own lock, never after.
  mutable std::mutex mutex_;
  std::shared_ptr<RecordingSession> recordingSession_;
  std::shared_ptr<RecordingSession> startingSession_;
  Callback onStart_;
  Callback onFinish_;
  Callback onPause_;
  Callback onResume_;
  ErrorCallback onError_;
};

} // namespace Vistrel

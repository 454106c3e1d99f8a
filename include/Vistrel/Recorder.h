#pragma once

#include "Vistrel/Export.h"

#include "Vistrel/Error.h"
#include "Vistrel/RecordingOptions.h"
#include "Vistrel/Target.h"

#include <functional>
#include <memory>

/// @file
/// The recorder, the one object a program creates to make a recording.

namespace Vistrel {

/// Makes one recording at a time and reports its transitions.
///
/// A recorder is idle until start() succeeds, then records until stop()
/// succeeds, and may then start again with new options. Its states: idle;
/// starting (start() under way, which on Wayland may wait minutes on the
/// desktop's picker); recording; paused; failed (the recording ended on a
/// failure while it ran, and the failure is kept).
///
// clang-format off
/// | Call or callback | Runs on | Idle | Starting | Recording | Paused | Failed |
/// |---|---|---|---|---|---|---|
/// | start() | the caller's thread, blocking until the first picture (or sound) started the file | starts; onStart() | throws recorderAlreadyStarted | throws recorderAlreadyStarted | throws recorderAlreadyStarted | throws recorderAlreadyStarted |
/// | stop() | the caller's thread, blocking until the file is finished | throws recorderNotStarted | cancels the start: start() throws couldNotStartStream, no file, no onFinish() | finishes the file; onFinish(); idle | as recording | throws the kept failure, every time |
/// | pause() | the caller's thread, at once | throws recorderNotStarted | throws recorderNotStarted | paused from this instant; onPause() | nothing changes; onPause() again | nothing changes; onPause() |
/// | resume() | the caller's thread, blocking until a picture is recorded again | throws recorderNotStarted | throws recorderNotStarted | returns at the next picture; onResume() | records again, no hole in the file; onResume() | returns at once; onResume() |
/// | isPaused() | any thread | false | false | false | true | false |
/// | onStart(), onFinish(), onPause(), onResume() | the thread of the call that succeeded, before it returns | | | | | |
/// | onError() | the platform thread that saw the failure, concurrently with the program's own | | | | | once, as it fails |
// clang-format on
///
/// What a callback may call: any call of this recorder (no lock of the
/// library is held while one runs), and read or replace callbacks.
/// onError() may call stop(): it returns once the file is finished, throwing
/// the failure. An exception thrown by onError() is logged and dropped; one
/// thrown by another callback comes out of the call that ran it. A callback
/// that blocks holds up only the call it came from (onError(): the thread
/// that saw the failure).
///
/// Threads. start(), stop() and resume() never need the main thread; each may
/// throw Error. Issue the operations of one recorder one at a time, but for
/// stop() from another thread while start() is under way. Callbacks may be
/// read and replaced from any thread at any time.
///
/// Failures. A start that fails throws, and that is its only report:
/// onError() is not called for it, and the recorder stays idle. A failure
/// while recording (the window closed, the display or audio server gone, a
/// write error) finishes the file at once with what was recorded, is
/// reported to onError(), and is kept: every later stop() throws it, and the
/// recorder keeps its failed recording, so start() throws
/// Error::Kind::recorderAlreadyStarted. A recorder that failed must be
/// replaced by a new one.
///
/// Lifetime. What start() is given is copied; the callbacks are kept until
/// they are replaced or the recorder is destroyed, and what they capture must
/// live that long. Destroying a recorder does not stop its recording: call
/// stop() first. A recording left running ends with the process, its file
/// readable up to its last fragment.
class VISTREL_EXPORT Recorder {
public:
  /// A transition callback; may be empty.
  using Callback = std::function<void()>;
  /// The failure callback; may be empty.
  using ErrorCallback = std::function<void(const Error&)>;

  /// An idle recorder with no callbacks.
  Recorder();
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  /// Starts recording and returns once the first picture (or, for
  /// Target::audioOnly, the first sound) has started the file; then calls
  /// onStart() on this thread.
  /// @throws Error recorderAlreadyStarted when recording; noTargetProvided,
  ///   targetNotFound, microphoneNotFound, noDisplaysConnected,
  ///   noPermissions, unsupportedFileExtension, invalidFileExtension or
  ///   couldNotStartStream when the request cannot be recorded (its cause()
  ///   tells a cancelled pick and a destination that exists or cannot be
  ///   written). The recorder stays idle and may be started again; onError()
  ///   is not called.
  void start(Target target, const RecordingOptions& options);
  /// Stops capturing, finishes the file and returns to idle; then calls
  /// onFinish() on this thread. Called on another thread while start() is
  /// under way (a desktop's picker may wait on the user for minutes), it
  /// cancels the start instead: start() throws couldNotStartStream, no file
  /// is left, and no onFinish() follows.
  /// A failure that comes while stop() is under way races it: exactly one
  /// of them ends the recording. Either stop() wins, returns and onFinish()
  /// follows (the failure is then never reported), or the failure wins, is
  /// reported to onError() and thrown here, and no onFinish() follows.
  /// @throws Error recorderNotStarted when idle; the failure kept from the
  ///   recording (unknown, with its cause()) when it ended on a failure,
  ///   every time.
  void stop();
  /// Pauses: nothing captured from now on reaches the file, and the file's
  /// timeline will have no hole for the pause. Calls onPause() on this thread.
  /// @throws Error recorderNotStarted when idle.
  void pause();
  /// Resumes a paused recording, returning once it records again; then calls
  /// onResume() on this thread.
  /// @throws Error recorderNotStarted when idle.
  void resume();
  /// Whether the current recording is paused; false when idle, and once the
  /// recording has ended on a failure.
  bool isPaused() const;

  /// @name Callbacks
  /// onStart, onFinish, onPause and onResume run on the thread that called
  /// the operation, before it returns. onError runs on the platform thread
  /// that detects the failure, possibly while the program's own thread is
  /// inside a recorder operation.
  /// @{

  /// The callback of that name, to read or replace (empty: none).
  Callback onStart() const;
  Callback onFinish() const;
  Callback onPause() const;
  Callback onResume() const;
  ErrorCallback onError() const;
  void setOnStart(Callback callback);
  void setOnFinish(Callback callback);
  void setOnPause(Callback callback);
  void setOnResume(Callback callback);
  /// Also replaces the callback of the current recording, so that its later
  /// failures reach the new one.
  void setOnError(ErrorCallback callback);
  /// @}

private:
  class Impl;
  // Everything else, so that it can change without breaking programs built
  // against the library.
  std::unique_ptr<Impl> impl_;
};

} // namespace Vistrel

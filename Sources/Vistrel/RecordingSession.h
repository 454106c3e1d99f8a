#pragma once

#include "Platform/Dispatch.h"
#include "Platform/MediaCapture.h"
#include "Platform/MediaWriting.h"
#include "Platform/ScreenCapture.h"
#include "Platform/ThreadSafety.h"
#include "Vistrel/Error.h"
#include "Vistrel/PauseTimeline.h"
#include "Vistrel/RecordingOptions.h"
#include "Vistrel/Target.h"
#include "Vistrel/Utilities.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One recording: the capture stream, the capture sessions, the writer with
// its inputs, and the timeline that cuts pauses out of the file.
//
// Thread contract. Hold it in a std::shared_ptr (it hands weak_ptrs of
// itself to the stream and capture outputs, and a clean-up task keeps it
// alive). start, stop and resume block the calling thread until done and
// never need the main thread; call them one at a time. pause, isPaused and
// setOnError may be called from any thread at any time. Samples arrive on
// capture queues, the stream's end on the platform's delegate thread.
// One mutex guards every shared field (the compiler checks which: see
// GUARDED_BY and REQUIRES below); a sample holds it for its whole
// routing step, and nothing holds it while waiting on the platform, on the
// start wait or on the resume wait. onError is never called with it held.
// A session records once: a second start fails with recorderAlreadyStarted.

namespace Vistrel {

class RecordingSession final : public std::enable_shared_from_this<RecordingSession>,
                               public Platform::SCStreamOutput,
                               public Platform::SCStreamDelegate,
                               public Platform::AVCaptureDataOutputSampleBufferDelegate {
  using Mutex = Platform::Mutex;
  using Lock = Platform::Lock;

public:
  using ErrorCallback = std::function<void(const Error&)>;

  // How long start waits for the first usable sample before it fails: a
  // source that never delivers must not hold the caller for ever.
  static constexpr std::chrono::seconds firstSampleTimeout{10};

  RecordingSession() = default;
  RecordingSession(const RecordingSession&) = delete;
  RecordingSession& operator=(const RecordingSession&) = delete;

  // Returns once the first usable sample has started the file; throws Error.
  // A failure after capture set-up began is first cleaned up; it reaches the
  // caller through the throw alone.
  void start(Target target, const RecordingOptions& options);
  enum class StopOutcome { finished, cancelledStart };
  // Throws the error recorded while recording, or the writer's failure to
  // finish the file; otherwise stops every source and finishes the file.
  // During a start it cancels the start instead, and returns once the start
  // has failed and cleaned up.
  StopOutcome stop();
  void pause();
  // Returns after the next timeline-driving sample, or at once when the
  // recording can no longer deliver one (stopped or failed), or when a later
  // resume replaces this one.
  void resume();
  bool isPaused() const;
  // The start succeeded (the session may have ended since).
  bool hasStarted() const;
  void setOnError(ErrorCallback onError);

  void streamDidOutputSampleBuffer(Platform::SCStream& stream,
                                   Platform::SampleBufferRef sampleBuffer,
                                   Platform::SCStreamOutputType type) override;
  void streamDidStopWithError(Platform::SCStream& stream, Platform::ErrorRef error) override;
  void captureOutputDidOutputSampleBuffer(Platform::AVCaptureOutput& output,
                                          Platform::SampleBufferRef sampleBuffer) override;

private:
  // Completed with nothing when the writer started, else with the failure.
  using StartWait = Platform::OneShot<std::optional<Error>>;
  using ResumeWait = Platform::OneShot<Platform::Done>;

  // What has been written to one track, so that its times only move forward.
  struct Track {
    Platform::AssetWriterInputRef input;
    std::optional<CMTime> end; // end of the last buffer appended
  };

  // Start-up (RecordingSessionStart.cpp).
  Platform::SCShareableContent fetchShareableContent();
  std::optional<Platform::SCContentFilter>
  resolveTarget(Target target, const RecordingOptions& options,
                const Platform::SCShareableContent& content,
                Platform::SCStreamConfiguration& configuration);
  // Steps that set nothing going: the request check, the shareable
  // content, the configuration, the target and the stream with its outputs.
  void prepareStream(Target target, const RecordingOptions& options);
  void startCaptureAndWait(Target target, const RecordingOptions& options);
  // Cleans up after a failure once capture set-up began, and throws it.
  [[noreturn]] void failStart(const Error& error);

  // Writer set-up (RecordingSessionWriter.cpp).
  Platform::AssetWriterRef getAssetWriter(Target target, const RecordingOptions& options);
  void setUpWriter(Target target, const RecordingOptions& options);
  // The input, added to `writer`; `name` is its name in errors,
  // `trackName` the track's in the file.
  static Platform::AssetWriterInputRef addAudioInput(Platform::AVAssetWriter& writer,
                                                     const Platform::OutputSettings& settings,
                                                     const char* name, const char* trackName);
  // Adds the video input made from the first usable frame; false when the
  // writer refused it.
  bool addVideoInput(const RecordingOptions& options, const Platform::FormatDescription& format)
      REQUIRES(mutex_);

  // Capture sources (RecordingSessionSources.cpp).
  void makeStream(const Platform::SCContentFilter& filter,
                  const Platform::SCStreamConfiguration& configuration,
                  const RecordingOptions& options);
  bool isMicrophoneFromStream(Target target, const RecordingOptions& options) const;
  int setUpMicrophoneCaptureSession(const std::string& microphoneID);
  void setUpExternalDeviceCaptureSession(const RecordingOptions& options);
  void watchRuntimeErrors(Platform::AVCaptureSession& session);
  void startSources();
  void waitForFirstSample();
  // The first-sample hand-over.
  void startVideoStream(const Platform::SampleBufferRef& sampleBuffer) REQUIRES(mutex_);
  void startAudioStream(const Platform::SampleBufferRef& sampleBuffer) REQUIRES(mutex_);
  // Starts the writer with its session at the sample's time and completes
  // the start wait with the outcome.
  void startWriting(const Platform::SampleBufferRef& sampleBuffer) REQUIRES(mutex_);
  void completeStartWait(std::optional<Error> failure) REQUIRES(mutex_);

  // Sample routing (RecordingSessionRouting.cpp). Lock held; a returned
  // error is recorded once the lock is released.
  std::optional<Error> routeStreamSample(const Platform::SampleBufferRef& sampleBuffer,
                                         Platform::SCStreamOutputType type) REQUIRES(mutex_);
  std::optional<Error> routeCaptureSample(Platform::AVCaptureOutput& output,
                                          const Platform::SampleBufferRef& sampleBuffer)
      REQUIRES(mutex_);
  // The sample moved onto the output timeline; null when it belongs to a
  // pause and must not be written.
  // Sound that straddles a pause or a resume keeps the part that belongs to
  // the recording; sound that arrives before a resume measured its pause is
  // held (up to maximumHeldSamples) for `track` until it has.
  Platform::SampleBufferRef handleBuffer(Platform::SampleBufferRef buffer, bool isVideo,
                                         Track* track) REQUIRES(mutex_);
  // Routes the held sound once the pause it waited on is measured.
  std::optional<Error> releaseHeld() REQUIRES(mutex_);
  static constexpr std::size_t maximumHeldSamples = 256;
  // Appends when the input is ready; a writer found failed is reported once.
  std::optional<Error> append(Track& track, const Platform::SampleBufferRef& buffer)
      REQUIRES(mutex_);
  std::optional<Error> checkWriter() REQUIRES(mutex_);
  bool isAudioOnly() const REQUIRES(mutex_) { return target_ == Target::audioOnly; }

  // Pause, resume, stop and clean-up (RecordingSessionControl.cpp).
  // Run once per session, by whoever moved it into stopping, failing or
  // abandoning: stops every source once, releases the activity, finishes
  // (or, for a failed start, removes) the file and ends the session. The
  // writer's failure, if the file could not be written.
  std::optional<Error> cleanUp() EXCLUDES(mutex_);
  // Stops the stream, or cancels its start when one is under way.
  void stopStream(Platform::SCStream& stream);
  void recordError(const Error& error) EXCLUDES(mutex_);
  // unknown, carrying the writer's error.
  static Error writerFailure(const Platform::AVAssetWriter& writer);
  static Error stoppedBeforeStart();
  void endResumeWait() REQUIRES(mutex_);

  // The session's life: one state, changed only by the transitions below,
  // each under mutex_.
  //
  //   idle -> starting               beginStart
  //   starting -> recording          the first usable sample started the writer
  //   starting -> abandoning         a stop while starting (the start cancels)
  //   starting, abandoning -> ended  the failed start cleaned up
  //   recording, resuming -> paused  pause
  //   recording, paused -> resuming  resume: the next timeline-driving sample
  //                                  measures the pause and returns to recording
  //   recording, paused, resuming -> stopping   stop wins
  //   recording, paused, resuming -> failing    a failure wins: kept in error_
  //   stopping, failing -> finishing every source stopped; the file is finished
  //   finishing -> ended
  //
  // stop() and a failure race for the one transition out of recording: the
  // loser of a stop sees the failure thrown, a late failure is ignored. One
  // clean-up runs per session, by the transition's winner (a failed start's
  // by start itself); others wait for `ended`.
  enum class State {
    idle,
    starting,
    recording,
    paused,
    resuming,
    stopping,
    failing,
    abandoning,
    finishing,
    ended,
  };
  bool isRecording() const REQUIRES(mutex_) {
    return state_ == State::recording || state_ == State::paused || state_ == State::resuming;
  }
  // Samples reach the file while the writer runs and takes them.
  bool isWriting() const REQUIRES(mutex_) {
    return isRecording() || state_ == State::stopping || state_ == State::failing;
  }
  // Waits until the clean-up under way has ended the session.
  void waitUntilEnded(Lock& lock) REQUIRES(mutex_);
  // -> ended, keeping a failure to finish the file for later stops.
  void end(const std::optional<Error>& failure) EXCLUDES(mutex_);

  mutable Mutex mutex_;
  std::condition_variable ended_;
  State state_ GUARDED_BY(mutex_) = State::idle;

  std::shared_ptr<Platform::SCStream> stream_ GUARDED_BY(mutex_);
  // The stream's start is under way (it may wait on the user's pick): a
  // stop cancels it.
  bool isStreamStarting_ GUARDED_BY(mutex_) = false;
  // The stream runs, and the clean-up stops it.
  bool isStreamRecording_ GUARDED_BY(mutex_) = false;
  Platform::AssetWriterRef assetWriter_ GUARDED_BY(mutex_);
  Track video_ GUARDED_BY(mutex_);
  Track systemAudio_ GUARDED_BY(mutex_);
  Track microphone_ GUARDED_BY(mutex_);
  Platform::CaptureOutputRef microphoneDataOutput_ GUARDED_BY(mutex_);
  Platform::CaptureOutputRef externalDeviceDataOutput_ GUARDED_BY(mutex_);
  std::shared_ptr<Platform::AVCaptureSession> microphoneCaptureSession_ GUARDED_BY(mutex_);
  std::shared_ptr<Platform::AVCaptureSession> externalDeviceCaptureSession_ GUARDED_BY(mutex_);
  std::unique_ptr<Activity> activity_ GUARDED_BY(mutex_);
  PauseTimeline timeline_ GUARDED_BY(mutex_);
  struct HeldSample {
    Track* track;
    Platform::SampleBufferRef buffer;
  };
  std::vector<HeldSample> held_ GUARDED_BY(mutex_);
  // The next frame begins the stretch after a resume.
  bool beginsStretch_ GUARDED_BY(mutex_) = false;
  std::shared_ptr<StartWait> continuation_ GUARDED_BY(mutex_);
  std::shared_ptr<ResumeWait> resumeContinuation_ GUARDED_BY(mutex_);
  // When the stop that won was asked for.
  std::optional<CMTime> stopInstant_ GUARDED_BY(mutex_);
  // The failure that ended the recording, kept for every later stop.
  std::optional<Error> error_ GUARDED_BY(mutex_);
  // A failure reported while start-up had not begun its wait yet.
  std::optional<Error> startFailure_ GUARDED_BY(mutex_);
  std::optional<RecordingOptions> options_ GUARDED_BY(mutex_);
  std::optional<Target> target_ GUARDED_BY(mutex_);
  ErrorCallback onError_ GUARDED_BY(mutex_);
};

} // namespace Vistrel

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
#include <initializer_list>
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
    explicit Track(const char* trackName) : name(trackName) {}
    const char* name; // in what the session says about it
    Platform::AssetWriterInputRef input;
    std::optional<CMTime> end;     // end of the last buffer appended
    std::optional<CMTime> arrived; // end of the last buffer its source sent
  };
  // A sample kept for its track until it can be routed.
  struct HeldSample {
    Track* track;
    Platform::SampleBufferRef buffer;
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
  int setUpMicrophoneCaptureSession(const std::string& microphoneID, bool cancelsEcho);
  void setUpExternalDeviceCaptureSession(const RecordingOptions& options);
  void watchRuntimeErrors(Platform::AVCaptureSession& session);
  void startSources();
  void waitForFirstSample();
  // The first-sample hand-over.
  void startVideoStream(const Platform::SampleBufferRef& sampleBuffer) REQUIRES(mutex_);
  void startAudioStream(const Platform::SampleBufferRef& sampleBuffer, Track* track)
      REQUIRES(mutex_);
  // Claims the writer's start for the sample, which its receiver then makes
  // with the lock released: startWriter, then finishWriterStart.
  void startWriting(const Platform::SampleBufferRef& sampleBuffer, Track* track) REQUIRES(mutex_);
  // Creates the file and writes its header, with its session at the first
  // sample's time; false when the writer could not start.
  static bool startWriter(Platform::AVAssetWriter& writer, const Platform::CMSampleBuffer& first);
  // Appends the first sample and completes the start wait with the outcome.
  std::optional<Error> finishWriterStart(const HeldSample& first, bool started) REQUIRES(mutex_);
  // Waits while a sample starts the writer: what follows depends on whether
  // it ran.
  void awaitWriterStart(Lock& lock) REQUIRES(mutex_);
  void completeStartWait(std::optional<Error> failure) REQUIRES(mutex_);

  // Sample routing (RecordingSessionRouting.cpp). Both callbacks: a sample
  // of the stream (`output` null) or of a capture session's `output`.
  void receive(Platform::SampleBufferRef sampleBuffer, Platform::SCStreamOutputType type,
               Platform::AVCaptureOutput* output) EXCLUDES(mutex_);
  // Nothing captured from the stop's instant on reaches the file: a source
  // late to stop (silence made up while its server hung, frames on their
  // way) would stretch its track past the others. Null when none of it is
  // before the stop.
  Platform::SampleBufferRef cutAtStop(const Platform::SampleBufferRef& buffer) REQUIRES(mutex_);
  // A source that sent nothing for longer than gapWorthSaying while the file
  // was written (its server did not answer, or this process did not run):
  // said once per gap, as a warning. Its track goes on from the next buffer.
  void noteArrival(Track& track, const Platform::CMSampleBuffer& buffer) REQUIRES(mutex_);
  static constexpr double gapWorthSaying = 1.0; // seconds
  // Lock held; a returned error is recorded once the lock is released.
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
  // Stops every source side by side, waiting for them at most
  // sourceStopPatience: one that waits on a server that does not answer (a
  // stopped X server, an audio server stuck on its device) is left to end
  // by itself, and said so once. What it captured up to the stop has reached
  // the file by then, and nothing after the stop is taken.
  void stopSources(const std::shared_ptr<Platform::SCStream>& stream,
                   const std::shared_ptr<Platform::AVCaptureSession>& microphoneSession,
                   const std::shared_ptr<Platform::AVCaptureSession>& deviceSession)
      EXCLUDES(mutex_);
  // Long enough for a source's last sound to arrive (its server sends it
  // within a few fragments), short enough that a stop never waits long.
  static constexpr std::chrono::milliseconds sourceStopPatience{400};
  // Stops the stream, or cancels its start when one is under way.
  void stopStream(Platform::SCStream& stream) EXCLUDES(mutex_);
  void recordError(const Error& error) EXCLUDES(mutex_);
  // unknown, carrying the writer's error.
  static Error writerFailure(const Platform::AVAssetWriter& writer);
  static Error stoppedBeforeStart();
  void endResumeWait() REQUIRES(mutex_);

  // The session's life: one state, changed only by transition(), which
  // checks each change against this table (mayChange below).
  //
  //   idle -> starting               start begins
  //   idle -> abandoning             a stop came first: the start gives up
  //   starting -> startingStream     the stream's start is under way (it may
  //                                  wait on the user's pick): a stop cancels it
  //   startingStream -> starting     the stream's start returned
  //   starting, startingStream -> startFailed   a failure before the start
  //                                  waits for its first sample: kept in error_
  //   starting -> startingWriter     the first usable sample starts the writer
  //                                  (creates the file, writes its header);
  //                                  samples, stops and failures wait for it
  //   startingWriter -> recording    the writer runs
  //   startingWriter -> starting     the writer could not start: the start fails
  //   starting, startingStream, startFailed, abandoning -> abandoning
  //                                  a stop while starting, or the start's own
  //                                  failure: the start cleans up
  //   starting, startFailed, abandoning -> ended   nothing ran yet, or the
  //                                  failed start cleaned up
  //   recording, resuming -> paused  pause
  //   recording, paused, resuming -> resuming   resume: the next
  //                                  timeline-driving sample measures the pause
  //   resuming -> recording          ... and returns to recording
  //   recording, paused, resuming -> stopping   stop wins
  //   recording, paused, resuming -> failing    a failure wins: kept in error_
  //   stopping, failing -> finishing every source stopped; the file is finished
  //   stopping, failing, finishing -> ended
  //
  // stop() and a failure race for the one transition out of recording: the
  // loser of a stop sees the failure thrown, a late failure is ignored. One
  // clean-up runs per session, by the transition's winner (a failed start's
  // by start itself); others wait for `ended`.
  enum class State {
    idle,
    starting,
    startingStream,
    startFailed,
    startingWriter,
    recording,
    paused,
    resuming,
    stopping,
    failing,
    abandoning,
    finishing,
    ended,
  };
  static constexpr unsigned statesOf(std::initializer_list<State> states) {
    unsigned set = 0;
    for (const State state : states) {
      set |= 1U << static_cast<unsigned>(state);
    }
    return set;
  }
  static constexpr bool mayChange(State from, State to) {
    using enum State;
    unsigned allowed = 0;
    switch (from) {
    case idle:
      allowed = statesOf({starting, abandoning});
      break;
    case starting:
      allowed = statesOf({startingStream, startFailed, startingWriter, abandoning, ended});
      break;
    case startingWriter:
      allowed = statesOf({recording, starting});
      break;
    case startingStream:
      allowed = statesOf({starting, startFailed, abandoning});
      break;
    case startFailed:
      allowed = statesOf({abandoning, ended});
      break;
    case abandoning:
      allowed = statesOf({abandoning, ended});
      break;
    case recording:
      allowed = statesOf({paused, resuming, stopping, failing});
      break;
    case paused:
      allowed = statesOf({resuming, stopping, failing});
      break;
    case resuming:
      allowed = statesOf({paused, resuming, recording, stopping, failing});
      break;
    case stopping:
    case failing:
      allowed = statesOf({finishing, ended});
      break;
    case finishing:
      allowed = statesOf({ended});
      break;
    case ended:
      break;
    }
    return (allowed & statesOf({to})) != 0;
  }
  // The one way the state changes; a change the table does not allow is a
  // fault of this class, thrown as std::logic_error.
  void transition(State to) REQUIRES(mutex_);
  bool isStarting() const REQUIRES(mutex_) {
    return state_ == State::starting || state_ == State::startingStream ||
           state_ == State::startingWriter;
  }
  bool isRecording() const REQUIRES(mutex_) {
    return state_ == State::recording || state_ == State::paused || state_ == State::resuming;
  }
  // Samples reach the file while the writer runs and takes them.
  bool isWriting() const REQUIRES(mutex_) {
    return isRecording() || state_ == State::stopping || state_ == State::failing;
  }
  // Waits until the clean-up under way has ended the session, or at most
  // endPatience: the clean-up bounds what it waits on, so only a start held
  // by a server that does not answer takes longer, and a stop must not.
  void waitUntilEnded(Lock& lock) REQUIRES(mutex_);
  static constexpr std::chrono::seconds endPatience{3};
  // -> ended, keeping a failure to finish the file for later stops.
  void end(const std::optional<Error>& failure) EXCLUDES(mutex_);

  mutable Mutex mutex_;
  std::condition_variable ended_;
  std::condition_variable writerStarted_; // the state left startingWriter
  State state_ GUARDED_BY(mutex_) = State::idle;

  std::shared_ptr<Platform::SCStream> stream_ GUARDED_BY(mutex_);
  Platform::AssetWriterRef assetWriter_ GUARDED_BY(mutex_);
  Track video_ GUARDED_BY(mutex_){"picture"};
  Track systemAudio_ GUARDED_BY(mutex_){"system audio"};
  Track microphone_ GUARDED_BY(mutex_){"microphone"};
  // What noteArrival found, said once the lock is released.
  std::vector<std::string> gapWarnings_ GUARDED_BY(mutex_);
  Platform::CaptureOutputRef microphoneDataOutput_ GUARDED_BY(mutex_);
  Platform::CaptureOutputRef externalDeviceDataOutput_ GUARDED_BY(mutex_);
  std::shared_ptr<Platform::AVCaptureSession> microphoneCaptureSession_ GUARDED_BY(mutex_);
  std::shared_ptr<Platform::AVCaptureSession> externalDeviceCaptureSession_ GUARDED_BY(mutex_);
  std::unique_ptr<Activity> activity_ GUARDED_BY(mutex_);
  PauseTimeline timeline_ GUARDED_BY(mutex_);
  std::vector<HeldSample> held_ GUARDED_BY(mutex_);
  // The next frame begins the stretch after a resume.
  bool beginsStretch_ GUARDED_BY(mutex_) = false;
  // The sample that starts the writer, and its track, while it does.
  std::optional<HeldSample> writerStart_ GUARDED_BY(mutex_);
  std::shared_ptr<StartWait> continuation_ GUARDED_BY(mutex_);
  std::shared_ptr<ResumeWait> resumeContinuation_ GUARDED_BY(mutex_);
  // When the stop that won was asked for.
  std::optional<CMTime> stopInstant_ GUARDED_BY(mutex_);
  // The failure that ended the recording, kept for every later stop; or
  // what ends a start that has not begun its wait yet.
  std::optional<Error> error_ GUARDED_BY(mutex_);
  std::optional<RecordingOptions> options_ GUARDED_BY(mutex_);
  std::optional<Target> target_ GUARDED_BY(mutex_);
  ErrorCallback onError_ GUARDED_BY(mutex_);
};

} // namespace Vistrel

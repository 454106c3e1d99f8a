#pragma once

#include "Platform/Linux/AudioCapture.h"
#include "Platform/ScreenCapture.h"
#include "Platform/ThreadSafety.h"

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

// A capture stream of one source (an X11 window or display area, a
// desktop's screen cast, a camera), with the system audio when an audio
// output is added: everything the desktop plays, or, when the configuration
// asks for it, what the source's application plays (everything, with a
// warning, when the source names none). Frames are grabbed on a thread of the stream, paced on
// the host clock at the configured minimum interval, and delivered one at a
// time, in order, on each output's queue. A frame whose content did not
// change since the last one is delivered "idle" with the same pixels, at
// almost no cost.
//
// Thread contract: addStreamOutput, startCapture and stopCapture may be
// called from any thread (not concurrently with each other for the same
// output registration). No lock is held while a start makes its content, so a
// stopCapture during it returns at once and the start fails, cancelled; one
// before the first start has begun makes that start fail at once.
// Outputs are called on their queues; the delegate is
// told once, on a thread of its own, when the stream ends by itself. The
// stream may be released from any thread, also from inside an output.

namespace Platform::Linux::Capture {

class CaptureSource;

class CaptureStream final : public SCStream, public std::enable_shared_from_this<CaptureStream> {
public:
  // Makes the content of one start; throws Platform::Error. It may wait on
  // the user (a desktop's picker): a stop during the start asks it to give up
  // through the token.
  using SourceFactory = std::function<std::unique_ptr<CaptureSource>(std::stop_token)>;

  CaptureStream(SourceFactory makeSource, std::shared_ptr<AudioCaptureFactory> audio,
                SCStreamConfiguration configuration, std::weak_ptr<SCStreamDelegate> delegate,
                std::optional<SCRunningApplication> application = std::nullopt);
  ~CaptureStream() override;

  void addStreamOutput(std::weak_ptr<SCStreamOutput> output, SCStreamOutputType type,
                       DispatchQueue queue) override;
  void startCapture() override;
  void stopCapture() override;

private:
  struct Registration {
    std::weak_ptr<SCStreamOutput> output;
    DispatchQueue queue;
  };
  struct Run;

  // Makes the content of a run and settles its size.
  void prepare(Run& run, const std::stop_token& cancel);
  // Sets the run's audio capture and capture thread going.
  void startRun(Run& run) REQUIRES(mutex_);
  std::unique_ptr<AudioCapture> makeAudioCapture() const;
  void captureLoop(Run& run);
  void captureFrames(Run& run);
  void deliver(Run& run, SCStreamOutputType type, const SampleBufferRef& sample);
  void reportFailure(std::uint64_t runNumber, ErrorRef error);
  void stopRun(std::uint64_t runNumber, const ErrorRef& error);
  static void tearDown(std::unique_ptr<Run> run);

  const SourceFactory makeSource_;
  const std::shared_ptr<AudioCaptureFactory> audioFactory_;
  const SCStreamConfiguration configuration_;
  const std::weak_ptr<SCStreamDelegate> delegate_;
  const std::optional<SCRunningApplication> application_;

  Mutex mutex_;
  std::vector<Registration> screenOutputs_ GUARDED_BY(mutex_);
  std::vector<Registration> audioOutputs_ GUARDED_BY(mutex_);
  std::unique_ptr<Run> run_ GUARDED_BY(mutex_);                 // present while running
  std::optional<std::stop_source> starting_ GUARDED_BY(mutex_); // present while starting
  std::uint64_t runCount_ GUARDED_BY(mutex_) = 0;
  bool stoppedBeforeStart_ GUARDED_BY(mutex_) = false;
};

} // namespace Platform::Linux::Capture

#include "Platform/Linux/Capture/CaptureStream.h"

#include "Platform/DeliveryGate.h"
#include "Platform/Linux/Capture/CaptureErrors.h"
#include "Platform/Linux/Capture/CaptureSource.h"
#include "Platform/Linux/Capture/FrameConversion.h"
#include "Platform/Linux/Capture/FramePacer.h"
#include "Platform/Linux/Capture/PixelBufferPool.h"
#include "Platform/Linux/Capture/SkippedFrames.h"
#include "Platform/Linux/Capture/StreamFrames.h"
#include "Platform/Log.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <string>
#include <tuple>
#include <utility>

namespace Platform::Linux::Capture {

namespace {

using Clock = std::chrono::steady_clock;

// The X protocol's own limit on a drawable's side.
constexpr std::int64_t maximumFrameSide = 32767;

} // namespace

// Everything one start of the stream made, torn down by the stop.
struct CaptureStream::Run {
  std::uint64_t number = 0;
  std::unique_ptr<CaptureSource> source;
  std::unique_ptr<AudioCapture> audio;
  std::vector<Registration> screenOutputs;
  std::vector<Registration> audioOutputs;
  std::shared_ptr<DeliveryGate> screenGate = std::make_shared<DeliveryGate>();
  std::shared_ptr<DeliveryGate> audioGate = std::make_shared<DeliveryGate>();
  std::shared_ptr<PixelBufferPool> pool;
  std::uint32_t pixelFormat = kCVPixelFormatType_32BGRA;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::chrono::nanoseconds interval{};
  std::size_t queueDepth = 1;

  Mutex mutex;
  std::condition_variable wake;
  bool stopping GUARDED_BY(mutex) = false;
  std::thread thread;
};

CaptureStream::CaptureStream(SourceFactory makeSource, std::shared_ptr<AudioCaptureFactory> audio,
                             SCStreamConfiguration configuration,
                             std::weak_ptr<SCStreamDelegate> delegate,
                             std::optional<SCRunningApplication> application)
    : makeSource_(std::move(makeSource)), audioFactory_(std::move(audio)),
      configuration_(std::move(configuration)), delegate_(std::move(delegate)),
      application_(std::move(application)) {}

CaptureStream::~CaptureStream() {
  std::unique_ptr<Run> run;
  {
    Lock lock(mutex_);
    run = std::move(run_);
  }
  tearDown(std::move(run));
}

void CaptureStream::addStreamOutput(std::weak_ptr<SCStreamOutput> output, SCStreamOutputType type,
                                    DispatchQueue queue) {
  Lock lock(mutex_);
  if (run_ || starting_) {
    throwCaptureError(CaptureErrorCode::attemptToStartStreamState,
                      "Outputs cannot be added to a stream that is capturing");
  }
  switch (type) {
  case SCStreamOutputType::screen:
    screenOutputs_.push_back({std::move(output), queue.serialTarget("screenOutput")});
    return;
  case SCStreamOutputType::audio:
    audioOutputs_.push_back({std::move(output), queue.serialTarget("audioOutput")});
    return;
  case SCStreamOutputType::microphone:
    break;
  }
  throwCaptureError(CaptureErrorCode::invalidParameter,
                    "This stream cannot capture a microphone; use a capture session for it");
}

void CaptureStream::startCapture() {
  const std::uint32_t pixelFormat = configuration_.pixelFormat.value_or(kCVPixelFormatType_32BGRA);
  if (!isSupportedPixelFormat(pixelFormat)) {
    throwCaptureError(CaptureErrorCode::invalidParameter,
                      "Unsupported pixel format " + std::to_string(pixelFormat));
  }
  auto run = std::make_unique<Run>();
  std::stop_source cancel;
  {
    Lock lock(mutex_);
    if (run_ || starting_) {
      throwCaptureError(CaptureErrorCode::attemptToStartStreamState,
                        "The stream is already capturing");
    }
    if (stoppedBeforeStart_) {
      throwCaptureError(CaptureErrorCode::attemptToStartStreamState,
                        "The stream was stopped before it started");
    }
    starting_ = cancel;
    run->number = ++runCount_;
    run->screenOutputs = screenOutputs_;
    run->audioOutputs = audioOutputs_;
  }
  run->pixelFormat = pixelFormat;
  run->interval = frameInterval(configuration_.minimumFrameInterval);
  run->queueDepth = static_cast<std::size_t>(std::max(1, configuration_.queueDepth));
  run->pool = PixelBufferPool::make(run->queueDepth + 2);
  try {
    prepare(*run, cancel.get_token());
  } catch (...) {
    {
      Lock lock(mutex_);
      starting_.reset();
    }
    tearDown(std::move(run));
    throw;
  }
  // The run is in place before anything of it can report a failure.
  std::exception_ptr failure;
  {
    Lock lock(mutex_);
    starting_.reset();
    if (!cancel.stop_requested()) {
      try {
        startRun(*run);
        run_ = std::move(run);
        return;
      } catch (...) {
        failure = std::current_exception();
      }
    }
  }
  tearDown(std::move(run));
  if (failure) {
    std::rethrow_exception(failure);
  }
  throwCaptureError(CaptureErrorCode::attemptToStartStreamState,
                    "The stream was stopped while it started");
}

void CaptureStream::prepare(Run& run, const std::stop_token& cancel) {
  run.source = makeSource_(cancel);
  std::int64_t width = configuration_.width;
  std::int64_t height = configuration_.height;
  if (width <= 0 || height <= 0) {
    std::tie(width, height) = contentFrameSize(run.source->width(), run.source->height());
  }
  if (width > maximumFrameSide || height > maximumFrameSide) {
    throwCaptureError(CaptureErrorCode::invalidParameter, "Frame size " + std::to_string(width) +
                                                              "x" + std::to_string(height) +
                                                              " is too large");
  }
  run.width = static_cast<std::int32_t>(width);
  run.height = static_cast<std::int32_t>(height);
}

void CaptureStream::startRun(Run& run) {
  if (!run.audioOutputs.empty()) {
    if (!audioFactory_) {
      throwCaptureError(CaptureErrorCode::failedToStart, "System audio is not available");
    }
    auto audio = makeAudioCapture();
    audio->start([this, running = &run](SampleBufferRef sample) {
      deliver(*running, SCStreamOutputType::audio, sample);
    });
    run.audio = std::move(audio);
  }
  run.thread = std::thread([this, running = &run] { captureLoop(*running); });
}

std::unique_ptr<AudioCapture> CaptureStream::makeAudioCapture() const {
  if (!configuration_.capturesApplicationAudioOnly) {
    return audioFactory_->makeSystemAudioCapture();
  }
  if (application_ && (application_->processID > 0 || !application_->bundleIdentifier.empty())) {
    return audioFactory_->makeApplicationAudioCapture(*application_);
  }
  log(LogLevel::warning, "The recorded content names no application (a display, or a pick in the "
                         "desktop's dialog): the system audio is everything the desktop plays");
  return audioFactory_->makeSystemAudioCapture();
}

void CaptureStream::stopCapture() {
  std::unique_ptr<Run> run;
  {
    Lock lock(mutex_);
    if (starting_) {
      // The start gives up and takes down what it made.
      starting_->request_stop();
      return;
    }
    run = std::move(run_);
    if (!run && runCount_ == 0) {
      stoppedBeforeStart_ = true; // its start, perhaps called already, gives up
    }
  }
  if (!run) {
    throwCaptureError(CaptureErrorCode::attemptToStopStreamState, "The stream is not capturing");
  }
  tearDown(std::move(run));
}

void CaptureStream::tearDown(std::unique_ptr<Run> run) {
  if (!run) {
    return;
  }
  // Frames still queued are dropped, not delivered late. Sound captured
  // before the stop still arrives: the capture passes on what it holds, and
  // its deliveries run before the gate closes.
  run->screenGate->close();
  if (run->audio) {
    run->audio->stop();
    run->audioGate->drain(finalAudioPatience);
  }
  run->audioGate->close();
  {
    Lock lock(run->mutex);
    run->stopping = true;
  }
  run->wake.notify_all();
  if (run->thread.joinable()) {
    run->thread.join();
  }
}

void CaptureStream::deliver(Run& run, SCStreamOutputType type, const SampleBufferRef& sample) {
  const bool isScreen = type == SCStreamOutputType::screen;
  const std::vector<Registration>& outputs = isScreen ? run.screenOutputs : run.audioOutputs;
  DeliveryGate& gate = isScreen ? *run.screenGate : *run.audioGate;
  for (const Registration& registration : outputs) {
    registration.queue.async(gate.wrap([stream = weak_from_this(), output = registration.output,
                                        sample, type, number = run.number] {
      const auto self = stream.lock();
      const auto receiver = output.lock();
      if (!self || !receiver) {
        return;
      }
      // A receiver's fault ends this recording, not the process.
      try {
        receiver->streamDidOutputSampleBuffer(*self, sample, type);
      } catch (const std::exception& exception) {
        self->reportFailure(
            number, captureError(CaptureErrorCode::internalError,
                                 std::string("A stream output failed: ") + exception.what()));
      } catch (...) {
        self->reportFailure(
            number, captureError(CaptureErrorCode::internalError, "A stream output failed"));
      }
    }));
  }
}

void CaptureStream::reportFailure(std::uint64_t runNumber, ErrorRef error) {
  // Never on the capture or audio thread: stopping joins and stops those.
  startTask([stream = weak_from_this(), runNumber, error = std::move(error)] {
    if (const auto self = stream.lock()) {
      self->stopRun(runNumber, error);
    }
  });
}

void CaptureStream::stopRun(std::uint64_t runNumber, const ErrorRef& error) {
  std::unique_ptr<Run> run;
  {
    Lock lock(mutex_);
    if (!run_ || run_->number != runNumber) {
      return; // stopped meanwhile, or already reported
    }
    run = std::move(run_);
  }
  tearDown(std::move(run));
  if (const auto delegate = delegate_.lock()) {
    delegate->streamDidStopWithError(*this, error);
  }
}

void CaptureStream::captureLoop(Run& run) {
  try {
    captureFrames(run);
  } catch (const std::exception& exception) {
    reportFailure(run.number,
                  captureError(CaptureErrorCode::internalError,
                               std::string("Screen capture failed: ") + exception.what()));
  } catch (...) {
    reportFailure(run.number,
                  captureError(CaptureErrorCode::internalError, "Screen capture failed"));
  }
}

void CaptureStream::captureFrames(Run& run) {
  CaptureSource& source = *run.source;
  const auto format = FormatDescription::video(run.pixelFormat, run.width, run.height);
  std::shared_ptr<const PixelBuffer> lastPixels;
  std::optional<CursorImage> lastCursor;
  std::vector<std::uint8_t> scratch;
  const auto fail = [&](ErrorRef error) { reportFailure(run.number, std::move(error)); };

  FramePacer pacer(Clock::now(), run.interval);
  SkippedFrames skipped;
  for (;; skipped.add(pacer.advance(Clock::now()), SkippedFrames::Cause::late)) {
    {
      Lock lock(run.mutex);
      while (!run.stopping && Clock::now() < pacer.deadline()) {
        lock.waitUntil(run.wake, pacer.deadline());
      }
      if (run.stopping) {
        return;
      }
    }

    // Frames are stamped with their grid point, which they were taken a
    // moment after (the wake-up and the grab take a few milliseconds): a
    // steady rate that players and editors read as such, and frames never
    // closer together than the interval, even when one was taken late.
    // Content that tells when its picture was made (a camera) is stamped so.
    const CMTime timestamp = hostTimeAt(pacer.deadline());
    if (ErrorRef error = source.update(timestamp)) {
      return fail(std::move(error));
    }
    if (run.screenOutputs.empty()) {
      continue;
    }
    if (lastPixels && run.screenGate->outstanding() >= run.queueDepth * run.screenOutputs.size()) {
      // The receivers are behind: a frame now would only queue up.
      skipped.add(1, SkippedFrames::Cause::receiversBehind);
      continue;
    }

    std::optional<CursorImage> cursor = source.cursor();
    const bool damaged = source.takeChange();
    const bool changed = damaged || !lastPixels ||
                         cursorChangedInside(lastCursor, cursor, source.width(), source.height());
    SCFrameStatus status = SCFrameStatus::idle;
    CMTime stamp = timestamp;
    if (changed) {
      const Grab grabbed = source.grab();
      switch (grabbed.outcome) {
      case Grab::Outcome::grabbed: {
        if (cursor) {
          drawCursor(grabbed.image, *cursor);
        }
        lastPixels =
            framePixels(*run.pool, run.pixelFormat, run.width, run.height, grabbed, scratch);
        lastCursor = std::move(cursor);
        status = SCFrameStatus::complete;
        stamp = source.pictureTime().value_or(timestamp);
        break;
      }
      case Grab::Outcome::unavailable:
        // Hidden for now (minimized, on another workspace, unmapped): the
        // last frame again, or black until the first pixels can be read, so
        // a recording of a hidden window starts at once.
        if (!lastPixels) {
          lastPixels = blackFrame(*run.pool, run.pixelFormat, run.width, run.height, scratch);
          status = SCFrameStatus::complete;
        }
        break;
      case Grab::Outcome::gone:
        return fail(captureError(CaptureErrorCode::noCaptureSource,
                                 "The captured content no longer exists"));
      case Grab::Outcome::failed:
        return fail(captureError(CaptureErrorCode::internalError,
                                 "Could not read the pixels of the captured content"));
      }
    }
    deliver(run, SCStreamOutputType::screen, makeFrame(format, lastPixels, stamp, status));
  }
}

} // namespace Platform::Linux::Capture

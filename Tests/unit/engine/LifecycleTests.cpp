#include "EngineFixture.h"

#include "Platform/Log.h"

#include <atomic>
#include <cerrno>
#include <functional>
#include <future>
#include <tuple>

namespace {

using namespace EngineTesting;
using Vistrel::Error;
using Vistrel::RecordingOptions;
using Vistrel::Target;

class LifecycleTest : public EngineTest {
protected:
  void SetUp() override {
    EngineTest::SetUp();
    recorder.setOnStart([this] { note("start"); });
    recorder.setOnFinish([this] { note("finish"); });
    recorder.setOnPause([this] { note("pause"); });
    recorder.setOnResume([this] { note("resume"); });
    recorder.setOnError([this](const Error& error) { recordError(error); });
    Platform::setLogSink([this](Platform::LogLevel level, std::string_view message) {
      if (level == Platform::LogLevel::error) {
        std::lock_guard lock(errorsMutex);
        errorLines.emplace_back(message);
      }
    });
  }
  void TearDown() override { Platform::setLogSink({}); }

  // A resume waiting on another thread can fire its callback while the test
  // thread stops.
  void note(const char* event) {
    std::lock_guard lock(eventsMutex);
    events.push_back(event);
  }

  void recordError(const Error& error) {
    std::lock_guard lock(errorsMutex);
    errors.push_back(error.localizedDescription());
    causes.push_back(error.cause());
  }
  std::vector<std::string> reportedErrors() {
    std::lock_guard lock(errorsMutex);
    return errors;
  }
  std::vector<Error::Cause> reportedCauses() {
    std::lock_guard lock(errorsMutex);
    return causes;
  }

  std::string stopFailure() {
    try {
      recorder.stop();
    } catch (const Error& error) {
      stopCause = error.cause();
      return error.localizedDescription();
    }
    return "stopped";
  }
  std::optional<Error::Cause> stopCause;

  // Waits (bounded) until the clean-up started by a recorded error finished.
  bool waitForFinish() {
    for (int poll = 0; poll < 5000; ++poll) {
      if (writer()->finishWritingCount() > 0 && !platform.streams().front()->isCapturing() &&
          platform.activeActivityCount() == 0) {
        return true;
      }
      std::this_thread::sleep_for(1ms);
    }
    return false;
  }

  std::mutex eventsMutex;
  std::vector<std::string> events; // read once the callbacks have run
  std::vector<std::string> loggedErrors() {
    std::lock_guard lock(errorsMutex);
    return errorLines;
  }

  std::mutex errorsMutex;
  std::vector<std::string> errors;
  std::vector<Error::Cause> causes;
  std::vector<std::string> errorLines; // logged at error level
};

TEST_F(LifecycleTest, StateTableAndCallbacks) {
  for (const auto& operation : std::vector<std::function<void()>>{
           [&] { recorder.stop(); }, [&] { recorder.pause(); }, [&] { recorder.resume(); }}) {
    try {
      operation();
      ADD_FAILURE() << "an idle recorder accepted an operation";
    } catch (const Error& error) {
      EXPECT_EQ(error.localizedDescription(), "Recorder needs to be started first.");
    }
  }
  EXPECT_FALSE(recorder.isPaused());
  EXPECT_TRUE(events.empty());

  auto stream = startVideo(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")), ms(1000));
  EXPECT_EQ(events, std::vector<std::string>{"start"});
  try {
    recorder.start(Target::screen, RecordingOptions(fields("/tmp/b.mp4", "1")));
    ADD_FAILURE() << "second start accepted";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), Error::Kind::recorderAlreadyStarted);
  }
  EXPECT_EQ(platform.writers().size(), 1U);

  recorder.pause();
  recorder.pause();
  EXPECT_TRUE(recorder.isPaused());
  auto resumed = resumeAsync();
  stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(2000)));
  resumed.get();
  EXPECT_FALSE(recorder.isPaused());
  recorder.stop();
  EXPECT_EQ(events, (std::vector<std::string>{"start", "pause", "pause", "resume", "finish"}));
  EXPECT_EQ(platform.activeActivityCount(), 0U) << "the activity ends with the session";
  EXPECT_THROW(recorder.stop(), Error);

  startVideo(Target::screen, RecordingOptions(fields("/tmp/c.mp4", "1")), ms(5000));
  EXPECT_EQ(std::count(events.begin(), events.end(), "start"), 2);
  recorder.stop();
  EXPECT_TRUE(reportedErrors().empty());
}

TEST_F(LifecycleTest, StreamErrorWhileWaitingFailsTheStartOnce) {
  auto started = startAsync(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")));
  auto stream = platform.waitForStream();
  ASSERT_TRUE(stream && stream->waitUntilStarted());
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(stream->stopWithError(Platform::makeError("S", 3, "display unplugged")));
  try {
    started.get();
    FAIL() << "started";
  } catch (const Error& error) {
    EXPECT_EQ(error.localizedDescription(), "An unknown error has occurred: display unplugged");
  }
  EXPECT_TRUE(reportedErrors().empty()) << "the throw alone reports a start failure";
  EXPECT_THROW(recorder.stop(), Error);
}

// Each start failure reaches the caller once, by the throw, with the cause a
// program acts on; the recorder stays idle and starts again.
TEST_F(LifecycleTest, AStartFailureIsThrownOnceWithItsCause) {
  using Cause = Error::Cause;
  namespace Domain = Platform::ErrorDomain;
  const std::vector<std::tuple<std::function<void()>, Cause>> failures = {
      {[this] {
         platform.failStreamStart(Platform::makeError(
             Domain::screenCapture, Platform::userDeclinedScreenCaptureCode, "picker closed"));
       },
       Cause::pickCancelled},
      {[this] {
         platform.failAssetWriterCreation(
             Platform::makeError(Domain::mediaWriting, EEXIST, "taken"));
       },
       Cause::destinationExists},
      {[this] {
         platform.failAssetWriterCreation(Platform::makeError(Domain::mediaWriting, EACCES, "no"));
       },
       Cause::outputNotWritable},
  };
  for (const auto& [inject, expected] : failures) {
    inject();
    try {
      recorder.start(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")));
      ADD_FAILURE() << "started";
    } catch (const Error& error) {
      EXPECT_EQ(error.kind(), Error::Kind::couldNotStartStream) << error.what();
      EXPECT_EQ(error.cause(), expected) << error.what();
    }
    EXPECT_TRUE(reportedErrors().empty());
    EXPECT_THROW(recorder.pause(), Error) << "idle after a failed start";
    platform.failStreamStart(nullptr);
    platform.failAssetWriterCreation(nullptr);
  }
  startVideo(Target::screen, RecordingOptions(fields("/tmp/b.mp4", "1")), ms(1000));
  recorder.stop();
  EXPECT_TRUE(reportedErrors().empty());
}

TEST_F(LifecycleTest, StreamErrorWhileRecordingIsKeptForStop) {
  auto stream = startVideo(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")), ms(1000));
  recorder.pause();
  ASSERT_TRUE(stream->stopWithError(Platform::makeError(
      Platform::ErrorDomain::screenCapture, Platform::captureSourceGoneCode, "window closed")));
  // The file is finished without a stop, and the failure said at once.
  ASSERT_TRUE(waitForFinish());
  EXPECT_EQ(reportedErrors(),
            std::vector<std::string>{"An unknown error has occurred: window closed"});
  ASSERT_EQ(loggedErrors().size(), 1U);
  EXPECT_NE(loggedErrors().front().find("window closed"), std::string::npos);
  EXPECT_EQ(stopFailure(), "An unknown error has occurred: window closed");
  EXPECT_EQ(stopFailure(), "An unknown error has occurred: window closed");
  EXPECT_EQ(reportedCauses(), std::vector{Error::Cause::targetGone});
  EXPECT_EQ(stopCause, Error::Cause::targetGone);
  EXPECT_EQ(writer()->finishWritingCount(), 1);
  EXPECT_FALSE(recorder.isPaused()) << "a failed recording has ended, paused or not";
  EXPECT_THROW(recorder.start(Target::screen, RecordingOptions(fields("/tmp/b.mp4", "1"))), Error);
  EXPECT_EQ(std::count(events.begin(), events.end(), "finish"), 0);
}

TEST_F(LifecycleTest, LaterFailuresAndAThrowingCallbackKeepTheFirstFailure) {
  auto stream = startVideo(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")), ms(1000));
  recorder.setOnError([](const Error&) { throw std::runtime_error("callback broke"); });
  ASSERT_TRUE(stream->stopWithError(Platform::makeError(
      Platform::ErrorDomain::screenCapture, Platform::displayConnectionLostCode, "X server gone")));
  ASSERT_TRUE(waitForFinish());
  writer()->failWriting(Platform::makeError("W", 5, "Input/output error"));
  stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(1100)));
  EXPECT_EQ(stopFailure(), "An unknown error has occurred: X server gone");
  EXPECT_EQ(stopCause, Error::Cause::serverLost);
  const auto lines = loggedErrors();
  ASSERT_EQ(lines.size(), 2U) << "the failure, then the callback's";
  EXPECT_NE(lines[0].find("X server gone"), std::string::npos);
  EXPECT_NE(lines[1].find("callback broke"), std::string::npos);
}

TEST_F(LifecycleTest, SessionTransitionsAroundStartAndStop) {
  // Stop while starting: the start fails, the sources stop, no file stays.
  auto session = std::make_shared<Vistrel::RecordingSession>();
  auto started = std::async(std::launch::async, [&] {
    session->start(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")));
  });
  auto stream = platform.waitForStream();
  ASSERT_TRUE(stream && stream->waitUntilStarted());
  session->stop();
  ASSERT_EQ(started.wait_for(5s), std::future_status::ready);
  try {
    started.get();
    FAIL() << "started";
  } catch (const Error& error) {
    EXPECT_EQ(error.localizedDescription(),
              "Could not start recording: The recording was stopped before it started.");
  }
  EXPECT_FALSE(stream->isCapturing());
  EXPECT_EQ(writer()->status(), Platform::AVAssetWriterStatus::cancelled);
  EXPECT_THROW(session->start(Target::screen, RecordingOptions(fields("/tmp/b.mp4", "1"))), Error)
      << "a session records once";

  // The recorder's stop during its start cancels it: nothing finishes, and
  // the recorder is idle again.
  auto cancelled = std::async(std::launch::async, [&] {
    recorder.start(Target::screen, RecordingOptions(fields("/tmp/d.mp4", "1")));
  });
  stream = platform.waitForStream(1);
  ASSERT_TRUE(stream && stream->waitUntilStarted());
  recorder.stop();
  ASSERT_EQ(cancelled.wait_for(5s), std::future_status::ready);
  EXPECT_THROW(cancelled.get(), Error);
  EXPECT_FALSE(stream->isCapturing());
  EXPECT_EQ(std::count(events.begin(), events.end(), "finish"), 0);
  EXPECT_THROW(recorder.stop(), Error) << "idle again";

  // A failure once the stop has finished the file changes nothing.
  stream = startVideo(Target::screen, RecordingOptions(fields("/tmp/c.mp4", "1")), ms(1000));
  recorder.stop();
  EXPECT_EQ(writer()->status(), Platform::AVAssetWriterStatus::completed);
  stream->stopWithError(Platform::makeError("S", 3, "gone after the stop"));
  EXPECT_TRUE(reportedErrors().empty());
  EXPECT_TRUE(loggedErrors().empty());
  EXPECT_EQ(writer()->finishWritingCount(), 1);
  EXPECT_EQ(std::count(events.begin(), events.end(), "finish"), 1);

  // A stop after the stream's start was called and before it began finds
  // nothing to stop, and still cancels it: the start gives up when it
  // begins, and does not wait on the user's pick.
  platform.holdStreamStarts();
  auto picking = std::async(std::launch::async, [&] {
    recorder.start(Target::screen, RecordingOptions(fields("/tmp/e.mp4", "1")));
  });
  stream = platform.waitForStream(3);
  ASSERT_TRUE(stream);
  while (stream->startCount() == 0) {
    std::this_thread::sleep_for(1ms);
  }
  const std::size_t stopsBefore = platform.callLog().count("stream.stopCapture");
  auto stopped = std::async(std::launch::async, [&] { recorder.stop(); });
  while (platform.callLog().count("stream.stopCapture") == stopsBefore) {
    std::this_thread::sleep_for(1ms);
  }
  stream->beginHeldStart();
  const bool startEnded = picking.wait_for(5s) == std::future_status::ready;
  if (!startEnded) {
    stream->stopCapture(); // the start gives up, and the test can end
  }
  EXPECT_TRUE(startEnded) << "the start went on waiting on the pick after the stop";
  EXPECT_THROW(picking.get(), Error);
  stopped.get();
  EXPECT_EQ(std::count(events.begin(), events.end(), "finish"), 1);
}

TEST_F(LifecycleTest, OnErrorMayStopTheRecorder) {
  std::promise<std::string> stopped;
  recorder.setOnError([&](const Error&) { stopped.set_value(stopFailure()); });
  auto stream = startVideo(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")), ms(500));
  stream->stopWithError(Platform::makeError(Platform::ErrorDomain::screenCapture,
                                            Platform::captureSourceGoneCode, "window closed"));
  auto outcome = stopped.get_future();
  ASSERT_EQ(outcome.wait_for(10s), std::future_status::ready) << "stop() in onError returns";
  EXPECT_EQ(outcome.get(), "An unknown error has occurred: window closed");
  EXPECT_EQ(writer()->finishWritingCount(), 1);
}

TEST_F(LifecycleTest, OnErrorReplacedWhileRecordingReachesTheSession) {
  auto stream = startVideo(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")), ms(1000));
  std::atomic<int> replacementCalls = 0;
  recorder.setOnError([&](const Error&) { ++replacementCalls; });
  ASSERT_TRUE(stream->stopWithError(Platform::makeError("S", 3, "gone")));
  EXPECT_EQ(replacementCalls.load(), 1);
  EXPECT_TRUE(reportedErrors().empty());
  waitForFinish();
}

TEST_F(LifecycleTest, StopWhilePausedEndsWithTheLastSampleBeforeThePause) {
  auto stream = startVideo(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")), ms(1000));
  stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(1100)));
  // Unchanged, so never written, yet the picture stood until then.
  stream->deliverAndWait(SCStreamOutputType::screen,
                         frame(ms(1150), Platform::SCFrameStatus::idle));
  recorder.pause();
  stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(1200)));
  recorder.stop();
  EXPECT_EQ(appendedTimes(MediaType::video), (std::vector<CMTime>{ms(1000), ms(1100)}));
  EXPECT_EQ(writer()->sessionEndTime(), std::optional<CMTime>(ms(1150)));
  EXPECT_TRUE(writer()->input(MediaType::video)->isMarkedAsFinished());
  EXPECT_EQ(writer()->status(), Platform::AVAssetWriterStatus::completed);
  EXPECT_FALSE(stream->isCapturing());
}

TEST_F(LifecycleTest, WriterFailureWhileRecordingIsReported) {
  auto stream = startVideo(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")), ms(1000));
  writer()->failWriting(
      Platform::makeError(Platform::ErrorDomain::mediaWriting, ENOSPC, "No space left on device"));
  stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(1100)));
  stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(1200)));
  EXPECT_EQ(reportedErrors(),
            std::vector<std::string>{"An unknown error has occurred: No space left on device"});
  EXPECT_EQ(stopFailure(), "An unknown error has occurred: No space left on device");
  EXPECT_EQ(reportedCauses(), std::vector{Error::Cause::outputNotWritable});
  EXPECT_EQ(std::count(events.begin(), events.end(), "finish"), 0);
}

TEST_F(LifecycleTest, FailedFinishFailsStop) {
  startVideo(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")), ms(1000));
  platform.failFinishWriting(Platform::makeError("W", 5, "Input/output error"));
  EXPECT_EQ(stopFailure(), "An unknown error has occurred: Input/output error");
  EXPECT_EQ(stopFailure(), "An unknown error has occurred: Input/output error");
  EXPECT_EQ(writer()->finishWritingCount(), 1);
  EXPECT_EQ(std::count(events.begin(), events.end(), "finish"), 0);
  EXPECT_TRUE(reportedErrors().empty()) << "stop reports it itself";
}

TEST_F(LifecycleTest, ResumeWaitsAlwaysEnd) {
  auto stream = startVideo(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")), ms(1000));
  recorder.pause();
  auto first = resumeAsync();
  auto second = std::async(std::launch::async, [&] { recorder.resume(); });
  EXPECT_EQ(first.wait_for(5s), std::future_status::ready) << "a replaced resume returns";
  EXPECT_EQ(second.wait_for(30ms), std::future_status::timeout);
  stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(3000)));
  EXPECT_EQ(second.wait_for(5s), std::future_status::ready);

  recorder.pause();
  auto failed = resumeAsync();
  ASSERT_TRUE(stream->stopWithError(Platform::makeError("S", 1, "gone")));
  EXPECT_EQ(failed.wait_for(5s), std::future_status::ready) << "a failed recording ends the wait";
  auto afterFailure = std::async(std::launch::async, [&] { recorder.resume(); });
  EXPECT_EQ(afterFailure.wait_for(5s), std::future_status::ready);
  waitForFinish();
}

TEST_F(LifecycleTest, StopEndsAPendingResume) {
  startVideo(Target::screen, RecordingOptions(fields("/tmp/a.mp4", "1")), ms(1000));
  recorder.pause();
  auto resumed = resumeAsync();
  recorder.stop();
  EXPECT_EQ(resumed.wait_for(5s), std::future_status::ready);
}

TEST_F(LifecycleTest, OverlappingStopsFinishTheFileOnce) {
  auto options = fields("/tmp/a.mp4", "1");
  options.recordSystemAudio = true;
  auto stream = startVideo(Target::screen, RecordingOptions(options), ms(1000));
  // Whichever stop comes second finds no session (or the recorded error).
  const auto stopOnce = [&] {
    try {
      recorder.stop();
    } catch (const Error& error) {
      EXPECT_NE(error.kind(), Error::Kind::couldNotStartStream);
    }
  };
  auto first = std::async(std::launch::async, stopOnce);
  auto second = std::async(std::launch::async, stopOnce);
  stream->stopWithError(Platform::makeError("S", 1, "gone while stopping"));
  first.get();
  second.get();
  EXPECT_EQ(writer()->finishWritingCount(), 1);
  EXPECT_TRUE(writer()->misuses().empty()) << writer()->misuses().front();
  for (const auto& input : writer()->simulatedInputs()) {
    EXPECT_TRUE(input->isMarkedAsFinished());
  }
}

TEST_F(LifecycleTest, AStreamThatDoesNotStopNeitherHoldsUpTheStopNorStretchesTheFile) {
  auto options = fields("/tmp/a.mp4", "1");
  options.recordSystemAudio = true;
  auto stream = startVideo(Target::screen, RecordingOptions(options), ms(10000));
  ASSERT_TRUE(stream->deliverAndWait(SCStreamOutputType::audio, audioChunk(ms(10000))));
  ASSERT_TRUE(stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(10015))));
  // Kept by the sink: a stop left behind may still log after the test.
  const auto warnings = std::make_shared<std::vector<std::string>>();
  const auto warningsMutex = std::make_shared<std::mutex>();
  Platform::setLogSink(
      [warnings, warningsMutex](Platform::LogLevel level, std::string_view message) {
        if (level == Platform::LogLevel::warning) {
          std::lock_guard lock(*warningsMutex);
          warnings->emplace_back(message);
        }
      });
  stream->holdStops(); // its server does not answer
  auto stopped = std::async(std::launch::async, [&] { recorder.stop(); });
  while (platform.callLog().count("stream.stopCapture") == 0) {
    std::this_thread::sleep_for(1ms);
  }
  // Sound still on its way from before the stop, at 10.015 s, and made up
  // after it.
  ASSERT_TRUE(stream->deliverAndWait(SCStreamOutputType::audio, audioChunk(ms(10010))));
  ASSERT_TRUE(stream->deliverAndWait(SCStreamOutputType::audio, audioChunk(ms(10020))));
  ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready) << "the stop waits for the stream";
  stopped.get();
  EXPECT_EQ(writer()->finishWritingCount(), 1);
  std::vector<std::pair<CMTime, CMTime>> sound;
  for (const AppendRecord& record : writer()->appends(*writer()->input(MediaType::audio))) {
    sound.emplace_back(record.presentationTime, record.duration);
  }
  ASSERT_EQ(sound.size(), 2U) << "nothing after the stop";
  EXPECT_EQ(CMTimeCompare(sound[1].first, ms(10010)), 0);
  EXPECT_EQ(CMTimeCompare(CMTimeAdd(sound[1].first, sound[1].second), ms(10015)), 0)
      << "the sound ends at the stop";
  stream->releaseStops();
  ASSERT_TRUE(stream->waitUntilStopped());
  std::lock_guard lock(*warningsMutex);
  ASSERT_EQ(warnings->size(), 1U);
  EXPECT_NE(warnings->front().find("The screen capture did not stop in time"), std::string::npos)
      << warnings->front();
}

TEST_F(LifecycleTest, ASourceThatSentNothingForSecondsIsSaidOnceAndItsTrackGoesOn) {
  auto options = fields("/tmp/a.mp4", "1");
  options.recordSystemAudio = true;
  auto stream = startVideo(Target::screen, RecordingOptions(options), ms(10000));
  const auto warnings = std::make_shared<std::vector<std::string>>();
  const auto warningsMutex = std::make_shared<std::mutex>();
  Platform::setLogSink(
      [warnings, warningsMutex](Platform::LogLevel level, std::string_view message) {
        if (level == Platform::LogLevel::warning) {
          std::lock_guard lock(*warningsMutex);
          warnings->emplace_back(message);
        }
      });
  for (const CMTimeValue at : {10000, 10010, 12510, 12520}) {
    ASSERT_TRUE(stream->deliverAndWait(SCStreamOutputType::audio, audioChunk(ms(at))));
    ASSERT_TRUE(stream->deliverAndWait(SCStreamOutputType::screen, frame(ms(at))));
  }
  recorder.stop();
  EXPECT_EQ(appendedTimes(MediaType::audio).size(), 4U) << "the sound goes on after the gap";
  std::lock_guard lock(*warningsMutex);
  ASSERT_EQ(warnings->size(), 2U) << "once for each source";
  EXPECT_NE(warnings->at(0).find("for the system audio for 2.5 s"), std::string::npos)
      << warnings->at(0);
  EXPECT_NE(warnings->at(1).find("for the picture for 2.5 s"), std::string::npos)
      << warnings->at(1);
}

TEST_F(LifecycleTest, MicrophoneThatDisappearsIsReported) {
  platform.setCapabilities({.streamCapturesMicrophone = false, .streamHighlightsClicks = false});
  auto options = fields("/tmp/a.mp4", "1");
  options.microphoneDeviceID = monoMicrophone;
  startVideo(Target::screen, RecordingOptions(options), ms(1000));
  ASSERT_TRUE(platform.captureSessions()[0]->failAtRuntime(
      Platform::makeError("MediaCapture", 2, "microphone unplugged")));
  ASSERT_TRUE(waitForFinish());
  EXPECT_EQ(reportedErrors(),
            std::vector<std::string>{"An unknown error has occurred: microphone unplugged"});
  EXPECT_EQ(stopFailure(), "An unknown error has occurred: microphone unplugged");
  EXPECT_EQ(stopCause, Error::Cause::deviceUnplugged) << "a capture session ends with its device";
}

TEST_F(LifecycleTest, MicrophoneThatCannotStartFailsTheStart) {
  platform.setCapabilities({.streamCapturesMicrophone = false, .streamHighlightsClicks = false});
  platform.failCaptureSessionStart(Platform::makeError("MediaCapture", 2, "device busy"));
  auto options = fields("/tmp/a.mp4", "1");
  options.microphoneDeviceID = monoMicrophone;
  try {
    recorder.start(Target::screen, RecordingOptions(options));
    FAIL() << "started";
  } catch (const Error& error) {
    EXPECT_EQ(error.localizedDescription(), "An unknown error has occurred: device busy");
  }
  EXPECT_TRUE(reportedErrors().empty());
  EXPECT_FALSE(platform.streams().front()->isCapturing());
}

} // namespace

namespace {

// Work that throws on a queue or task thread must not end the process that
// may still be finishing a file.
TEST(QueuedWork, ExceptionsAreLoggedAndTheQueuesGoOn) {
  std::mutex mutex;
  std::vector<std::string> lines;
  Platform::setLogSink([&](Platform::LogLevel level, std::string_view message) {
    std::lock_guard lock(mutex);
    if (level == Platform::LogLevel::error) {
      lines.emplace_back(message);
    }
  });
  Platform::OneShot<int> after;
  const auto queue = Platform::DispatchQueue::serial("throwingQueue");
  queue.async([] { throw std::runtime_error("handler broke"); });
  queue.async([&after] { after.complete(1); });
  EXPECT_EQ(after.waitFor(5s), std::optional<int>(1));
  Platform::OneShot<int> taskRan;
  Platform::startTask([] { throw 42; });
  Platform::startTask([&taskRan] { taskRan.complete(2); });
  EXPECT_EQ(taskRan.waitFor(5s), std::optional<int>(2));
  const auto logged = [&] {
    std::lock_guard lock(mutex);
    return lines.size();
  };
  for (int poll = 0; poll < 500 && logged() < 2; ++poll) {
    std::this_thread::sleep_for(1ms);
  }
  Platform::setLogSink({});
  std::lock_guard lock(mutex);
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                         [](const std::string& line) {
                           return line.find("handler broke") != std::string::npos;
                         }),
            lines.end());
  EXPECT_EQ(Platform::OneShot<int>().waitFor(1ms), std::nullopt) << "a wait with a bound ends";
}

} // namespace

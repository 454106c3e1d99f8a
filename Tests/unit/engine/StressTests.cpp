#include "EngineFixture.h"

#include "Platform/Log.h"

#include <atomic>
#include <iostream>
#include <optional>

namespace {

using namespace EngineTesting;
using Vistrel::RecordingOptions;
using Vistrel::Target;

bool isNonDecreasing(const std::vector<CMTime>& times) {
  return std::adjacent_find(times.begin(), times.end(), [](CMTime earlier, CMTime later) {
           return CMTimeCompare(earlier, later) > 0;
         }) == times.end();
}

// Screen, system audio and a microphone capture session deliver on their own
// threads while another thread pauses and resumes and a third replaces the
// error callback; built with ThreadSanitizer it must report no race.
TEST(EngineStress, ConcurrentSourcesPausesResumesAndStop) {
  SimulatedPlatform platform(SampleGeneration::automatic);
  platform.setKeepsAppendedSamples(false);
  platform.setCapabilities({.streamCapturesMicrophone = false, .streamHighlightsClicks = false});
  platform.addDisplay({.displayID = 1, .width = 320, .height = 200, .frame = {0, 0, 320, 200}});
  platform.addAudioDevice({"mic", "Mic", {audioDeviceFormat(1)}});
  Platform::install(platform.services());

  Vistrel::Recorder recorder;
  auto options = fields("/tmp/stress.mov", "1");
  options.framesPerSecond = 120;
  options.recordSystemAudio = true;
  options.microphoneDeviceID = "mic";
  recorder.start(Target::screen, RecordingOptions(options));

  std::atomic<bool> running = true;
  std::thread callbacks([&] {
    while (running) {
      recorder.setOnError([](const Vistrel::Error&) {});
      static_cast<void>(recorder.isPaused());
      std::this_thread::sleep_for(1ms);
    }
  });
  for (int round = 0; round < 15; ++round) {
    recorder.pause();
    std::this_thread::sleep_for(10ms);
    recorder.resume();
    std::this_thread::sleep_for(15ms);
  }
  recorder.stop();
  running = false;
  callbacks.join();

  const auto writer = platform.writers().front();
  EXPECT_TRUE(writer->misuses().empty());
  EXPECT_EQ(writer->status(), Platform::AVAssetWriterStatus::completed);
  for (const auto& input : writer->simulatedInputs()) {
    std::vector<CMTime> times;
    for (const AppendRecord& record : writer->appends(*input)) {
      times.push_back(record.presentationTime);
    }
    EXPECT_FALSE(times.empty());
    EXPECT_TRUE(isNonDecreasing(times));
  }
}

// stop() and a failure of the stream race for the end of a recording a
// thousand times: exactly one wins. A stop that loses throws the failure and
// no onFinish follows; a failure that loses is never reported. Either way
// the stream is stopped at most once and the sleep inhibitor is released.
TEST(EngineStress, StopAndAFailureRaceToOneOutcome) {
  SimulatedPlatform platform(SampleGeneration::automatic);
  platform.setKeepsAppendedSamples(false);
  platform.addDisplay({.displayID = 1, .width = 320, .height = 200, .frame = {0, 0, 320, 200}});
  Platform::install(platform.services());
  Platform::setLogSink([](Platform::LogLevel, std::string_view) {}); // a thousand failures
  auto options = fields("/tmp/race.mov", "1");
  options.framesPerSecond = 1000;
  const Vistrel::Error::Cause failureCause = Vistrel::Error::Cause::targetGone;

  int stopsWon = 0;
  int failuresWon = 0;
  for (int round = 0; round < 1000; ++round) {
    Vistrel::Recorder recorder;
    std::atomic<int> errors = 0;
    std::atomic<int> finishes = 0;
    recorder.setOnError([&](const Vistrel::Error& error) {
      EXPECT_EQ(error.cause(), failureCause);
      ++errors;
    });
    recorder.setOnFinish([&] { ++finishes; });
    recorder.start(Target::screen, RecordingOptions(options));
    const auto stream = platform.streams().back();

    std::thread failure([&, round] {
      std::this_thread::sleep_for(std::chrono::microseconds(round % 7 * 20));
      stream->stopWithError(Platform::makeError(Platform::ErrorDomain::screenCapture,
                                                Platform::captureSourceGoneCode, "window closed"));
    });
    std::this_thread::sleep_for(std::chrono::microseconds(round % 5 * 30));
    std::optional<Vistrel::Error> thrown;
    try {
      recorder.stop();
    } catch (const Vistrel::Error& error) {
      thrown = error;
    }
    failure.join(); // returns once a failure's report, if any, is done

    if (thrown) {
      ++failuresWon;
      EXPECT_EQ(thrown->cause(), failureCause);
      EXPECT_EQ(errors, 1) << "round " << round;
      EXPECT_EQ(finishes, 0) << "round " << round;
      EXPECT_THROW(recorder.stop(), Vistrel::Error) << "the failure is kept";
    } else {
      ++stopsWon;
      EXPECT_EQ(errors, 0) << "round " << round << ": a failure after the stop is not one";
      EXPECT_EQ(finishes, 1) << "round " << round;
    }
    EXPECT_LE(stream->stopCount(), 1) << "round " << round;
    EXPECT_FALSE(stream->isCapturing()) << "round " << round;
    EXPECT_EQ(platform.activeActivityCount(), 0U) << "round " << round;
    if (testing::Test::HasFailure()) {
      break;
    }
  }
  Platform::setLogSink({});
  std::cout << "stops won " << stopsWon << ", failures won " << failuresWon << "\n";
}

} // namespace

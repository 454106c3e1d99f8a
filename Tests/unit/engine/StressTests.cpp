#include "EngineFixture.h"

#include <atomic>

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

} // namespace

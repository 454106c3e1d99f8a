#include "RecordingChecks.h"

#include "support/DemoWindow.h"
#include "support/MediaProbe.h"
#include "support/VirtualDesktop.h"

#include "Platform/Linux/LinuxPlatform.h"
#include "Vistrel/Recorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

// Sound and picture of a real recording stay together, also across a pause:
// the demo window flashes and beeps at the same instants, and every flash in
// the file must have its beep within 45 ms.

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Sleeps until the middle of the gap between two flashes, which come every
// second from `flashesStart` and last 100 ms.
void sleepUntilBetweenFlashes(Clock::time_point flashesStart, Clock::duration atLeast) {
  const auto earliest = Clock::now() + atLeast;
  auto target = flashesStart + 550ms;
  while (target < earliest) {
    target += 1s;
  }
  std::this_thread::sleep_until(target);
}

TEST(AudioVideoSync, EveryFlashHasItsBeepAfterAPauseAndResume) {
  TestSupport::VirtualDesktop desktop;
  desktop.useInThisProcess();
  Platform::install(Platform::Linux::makeLinuxServices());
  TestSupport::TemporaryDirectory directory;

  TestSupport::DemoWindow window({"--size", "320x240", "--flash-every", "1", "--beep"},
                                 desktop.environment());
  const auto flashesStart = Clock::now();
  // The window's sound reaches the speakers a moment after the window
  // appears; a flash before that has no beep to match.
  std::this_thread::sleep_for(3s);

  const std::string file = directory.path() + "/sync.mov";
  const Vistrel::RecordingOptions options({.destination = file,
                                           .targetID = window.idText(),
                                           .framesPerSecond = 30,
                                           .cropRect = std::nullopt,
                                           .losslessAudio = true,
                                           .recordSystemAudio = true,
                                           .microphoneDeviceID = std::nullopt});
  Vistrel::Recorder recorder;
  recorder.start(Vistrel::Target::window, options);
  const auto started = Clock::now();
  sleepUntilBetweenFlashes(flashesStart, 3s);
  recorder.pause();
  const double pausedAt = std::chrono::duration<double>(Clock::now() - started).count();
  sleepUntilBetweenFlashes(flashesStart, 1500ms);
  recorder.resume();
  std::this_thread::sleep_for(3500ms);
  recorder.stop();

  const auto info = TestSupport::probeFile(file);
  const int video = RecordingChecks::trackIndex(info, AVMEDIA_TYPE_VIDEO);
  const int audio = RecordingChecks::trackIndex(info, AVMEDIA_TYPE_AUDIO);
  ASSERT_GE(video, 0);
  ASSERT_GE(audio, 0);
  const auto pictures = TestSupport::decodeTrack(file, video).pictures;
  const auto sound = TestSupport::decodeTrack(file, audio).firstChannel;
  const auto flashes = RecordingChecks::flashOnsets(pictures);
  const auto tones =
      RecordingChecks::toneOnsets(sound, info.tracks[static_cast<std::size_t>(audio)].sampleRate);

  const auto list = [](const std::vector<double>& times) {
    std::string text;
    for (const double time : times) {
      text += std::to_string(time) + " ";
    }
    return text;
  };
  SCOPED_TRACE("flashes at " + list(flashes) + "; beeps at " + list(tones));
  ASSERT_GE(flashes.size(), 5U);
  EXPECT_NEAR(static_cast<double>(tones.size()), static_cast<double>(flashes.size()), 1.0);
  int afterResume = 0;
  const auto distances = RecordingChecks::flashToToneDistances(flashes, tones);
  for (std::size_t i = 0; i < flashes.size(); ++i) {
    EXPECT_LE(std::fabs(distances[i]), 0.045)
        << "flash at " << flashes[i] << " s, nearest beep " << distances[i] * 1000 << " ms away";
    afterResume += flashes[i] > pausedAt + 0.2 ? 1 : 0;
  }
  EXPECT_GE(afterResume, 2) << "flashes after the resume are checked too";
}

} // namespace

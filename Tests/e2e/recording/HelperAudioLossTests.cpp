#include "HelperFixture.h"

#include "support/DemoWindow.h"
#include "support/MediaProbe.h"

#include <thread>

// A microphone unplugged in the middle of a meeting (its PulseAudio module
// unloaded) and plugged in again: the helper records on, and the
// microphone's track runs through the whole recording, silent while the
// microphone was away.

namespace {

using namespace HelperTesting;
using TestSupport::DemoWindow;

class HelperAudioLoss : public HelperTest {
protected:
  // Runs pactl against the desktop's audio server; its exit status.
  static int pactl(const std::vector<std::string>& arguments) {
    std::vector<std::string> command{"/usr/bin/env", "pactl"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return TestSupport::run(command, environment(), 10s).status;
  }
};

TEST_F(HelperAudioLoss, UnpluggedMicrophoneLeavesTheRecordingGoingWithEveryTrackToTheEnd) {
  const DemoWindow window({"--size", "320x240"}, environment());
  const std::string file = directory.path() + "/unplugged.mp4";
  auto helper = start(window.idText(), "virtual_mic", file);
  expectStarted(*helper, file);
  std::this_thread::sleep_for(1500ms);

  ASSERT_EQ(pactl({"unload-module", "module-remap-source"}), 0);
  std::this_thread::sleep_for(2s);
  ASSERT_EQ(pactl({"load-module", "module-remap-source", "source_name=virtual_mic",
                   "master=virtmic_sink.monitor"}),
            0);
  std::this_thread::sleep_for(1500ms);
  expectFinishedAfterInterrupt(*helper);

  const auto info = TestSupport::probeFile(file);
  ASSERT_EQ(info.tracks.size(), 3U) << "the window, system audio and the microphone";
  double videoEnd = 0;
  for (const auto& track : info.tracks) {
    if (track.type == AVMEDIA_TYPE_VIDEO) {
      videoEnd = track.end;
    }
  }
  EXPECT_GT(videoEnd, 4.0) << "the picture went on through the loss";
  for (const auto& track : info.tracks) {
    if (track.type == AVMEDIA_TYPE_AUDIO) {
      EXPECT_GT(track.end, videoEnd - 0.3) << "an audio track stopped early";
    }
  }
}

} // namespace

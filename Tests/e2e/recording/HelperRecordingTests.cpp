#include "HelperFixture.h"
#include "RecordingChecks.h"

#include "support/DemoWindow.h"
#include "support/MediaProbe.h"
#include "support/Subprocess.h"
#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

// The helper as the parent application runs it, on a private virtual
// desktop with the Linux platform.

namespace {

using namespace std::chrono_literals;
using TestSupport::DemoWindow;

// Each test suite gets its own desktop.
class HelperRecording : public HelperTesting::HelperTest {};

TEST_F(HelperRecording, ListedWindowIsRecordedWithSystemAudioAndMicrophoneUntilInterrupted) {
  DemoWindow meeting({"--title", "Weekly sync", "--class", "Meetings", "--size", "640x360"},
                     environment());

  const auto listing = TestSupport::run({TARSEL_HELPER, "meetings"}, environment());
  ASSERT_EQ(listing.status, 0) << listing.output;
  std::string windowID;
  for (const auto& entry : nlohmann::json::parse(listing.output)) {
    if (entry.at("title") == "Meetings | Weekly sync") {
      windowID = entry.at("id");
    }
  }
  ASSERT_EQ(windowID, meeting.idText()) << listing.output;
  const auto devices = TestSupport::run({TARSEL_HELPER, "audio-devices"}, environment());
  ASSERT_EQ(nlohmann::json::parse(devices.output).at(0).at("id"), "virtual_mic");

  // A blank in the path: percent-encoded in the URL, kept in the file name.
  const std::string file = directory.path() + "/weekly sync.mp4";
  auto helper = start(windowID, "virtual_mic", file);
  EXPECT_EQ(line(*helper), "File path: file://" + directory.path() + "/weekly%20sync.mp4");
  ASSERT_EQ(line(*helper), "Recording started! Press Ctrl+C to stop.");
  const auto started = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(4s);
  const double recorded =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  expectFinishedAfterInterrupt(*helper);

  const TestSupport::FileInfo info = TestSupport::probeFile(file);
  int video = 0;
  int lossless = 0;
  for (const auto& track : info.tracks) {
    if (track.type == AVMEDIA_TYPE_VIDEO) {
      ++video;
      EXPECT_EQ(track.codec, AV_CODEC_ID_H264);
      EXPECT_EQ(track.width, 640);
      EXPECT_EQ(track.height, 360);
    } else if (track.type == AVMEDIA_TYPE_AUDIO) {
      ++lossless;
      EXPECT_EQ(track.codec, AV_CODEC_ID_ALAC);
      EXPECT_EQ(track.sampleRate, 48000);
    }
    EXPECT_NEAR(track.end, recorded, 0.5) << "track ends with the recording";
  }
  EXPECT_EQ(video, 1);
  EXPECT_EQ(lossless, 2);
  // In the order the parent relies on, named, and all played together.
  ASSERT_EQ(info.tracks.size(), 3U);
  EXPECT_EQ(info.tracks[0].name, "System audio");
  EXPECT_EQ(info.tracks[1].name, "Microphone");
  for (const auto& track : info.tracks) {
    EXPECT_TRUE(track.isDefault) << track.name;
  }
  const auto decoded =
      TestSupport::decodeTrack(file, RecordingChecks::trackIndex(info, AVMEDIA_TYPE_VIDEO));
  EXPECT_EQ(decoded.errors, 0);
  EXPECT_GT(decoded.frames, 24 * 3) << "a moving window gives most of its 24 frames a second";
}

TEST_F(HelperRecording, CoveredWindowIsStillRecordedWithItsOwnContent) {
  DemoWindow recorded({"--solid", "E01010", "--position", "0,0", "--size", "320x240"},
                      environment());
  const std::string file = directory.path() + "/covered.mov";
  auto helper = start(recorded.idText(), "virtual_mic", file);
  expectStarted(*helper, file);
  std::this_thread::sleep_for(1s);
  {
    DemoWindow cover({"--solid", "10E010", "--position", "0,0", "--size", "400x300"},
                     environment());
    std::this_thread::sleep_for(2s);
  }
  std::this_thread::sleep_for(500ms);
  expectFinishedAfterInterrupt(*helper);

  const auto info = TestSupport::probeFile(file);
  const auto decoded =
      TestSupport::decodeTrack(file, RecordingChecks::trackIndex(info, AVMEDIA_TYPE_VIDEO));
  ASSERT_FALSE(decoded.pictures.empty());
  for (const auto& picture : decoded.pictures) {
    EXPECT_GT(picture.centreRGB[0], 180) << "at " << picture.time << " s";
    EXPECT_LT(picture.centreRGB[1], 70) << "at " << picture.time << " s";
  }
}

TEST_F(HelperRecording, RefusedRequestsPrintTheirErrorAndLeaveFilesAlone) {
  DemoWindow window({"--size", "200x100"}, environment());
  const std::string existing = directory.path() + "/existing.mp4";
  std::ofstream(existing) << "an earlier recording";

  struct Case {
    std::string window, microphone, file, message;
  };
  const std::vector<Case> cases = {
      {"4242", "virtual_mic", directory.path() + "/a.mp4",
       "Vistrel Error: Target with id 4242 not found."},
      {window.idText(), "no_such_source", directory.path() + "/b.mp4",
       "Vistrel Error: Microphone with id no_such_source not found"},
      {window.idText(), "virtual_mic", directory.path() + "/c.MP4",
       "Vistrel Error: Invalid file extension. Only .mp4, .mov and .m4v are supported for video "
       "recordings. Got MP4."},
      {window.idText(), "virtual_mic", existing,
       "Vistrel Error: Could not start recording: The file \u201C" + existing +
           "\u201D already exists."},
  };
  for (const Case& refused : cases) {
    auto helper = start(refused.window, refused.microphone, refused.file);
    EXPECT_EQ(line(*helper), "File path: file://" + refused.file);
    EXPECT_EQ(line(*helper), refused.message);
    EXPECT_EQ(helper->readAll(5s), "");
    EXPECT_EQ(helper->wait(10s), 1);
    if (refused.file != existing) {
      EXPECT_FALSE(std::filesystem::exists(refused.file)) << refused.file;
    }
  }
  std::ifstream kept(existing);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "an earlier recording");
}

TEST_F(HelperRecording, KilledHelperLeavesAFileThatDecodes) {
  DemoWindow window({"--size", "320x240"}, environment());
  const std::string file = directory.path() + "/killed.mp4";
  auto helper = start(window.idText(), "virtual_mic", file);
  expectStarted(*helper, file);
  std::this_thread::sleep_for(4s);
  helper->signal(SIGKILL);
  EXPECT_EQ(helper->wait(10s), -SIGKILL);

  const auto info = TestSupport::probeFile(file);
  const int video = RecordingChecks::trackIndex(info, AVMEDIA_TYPE_VIDEO);
  ASSERT_GE(video, 0);
  EXPECT_GE(info.tracks[static_cast<std::size_t>(video)].end, 2.0)
      << "all but the last two seconds survive";
  const auto decoded = TestSupport::decodeTrack(file, video);
  EXPECT_EQ(decoded.errors, 0);
  EXPECT_GT(decoded.frames, 24);
}

} // namespace

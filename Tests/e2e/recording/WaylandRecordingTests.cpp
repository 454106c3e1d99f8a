#include "RecordingChecks.h"
#include "WaylandDesktopTest.h"

#include "support/DemoWindow.h"
#include "support/MediaProbe.h"
#include "support/ServerHang.h"
#include "support/Subprocess.h"
#include "support/VirtualDesktop.h"

#include "Platform/Linux/LinuxPlatform.h"
#include "Vistrel/Devices.h"
#include "Vistrel/Recorder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <utility>

#include <sys/stat.h>

// Recording on a private Wayland desktop (headless GNOME Shell or KWin,
// PipeWire and its PulseAudio server, the desktop portal with a scripted
// picker): the helper as the parent application runs it, and the library
// in-process for a display. The tests of windows run on both desktops,
// whose compositors cast each their own way. The picked window is the Wayland twin of the demo
// window, which flashes and beeps at the same instants; a display shows weston's animated client.

namespace {

using namespace std::chrono_literals;
using TestSupport::Subprocess;

constexpr const char* pickerID = "4294967294";
constexpr const char* animatedClient = "/usr/bin/weston-simple-shm";

class WaylandRecording : public WaylandDesktopTest {
protected:
  void SetUp() override {
    WaylandDesktopTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    // Each test starts with nothing picked before: the picks the desktop
    // remembered are forgotten by deleting them.
    std::filesystem::remove_all(rememberedPicks());
    desktop_->takeScreenCastEvents();
  }

  static std::string rememberedPicks() {
    return desktop_->environment().at("XDG_STATE_HOME") + "/tarsel-helper";
  }

  // Records through the picker entry for `length`, then interrupts; the
  // helper's standard error goes to `errorPath` when given.
  void recordPicked(const std::string& file, std::chrono::milliseconds length,
                    const std::optional<std::string>& errorPath = std::nullopt) {
    Subprocess helper({TARSEL_HELPER, "start", pickerID, "virtual_mic", file},
                      desktop_->environment(), errorPath);
    ASSERT_EQ(line(helper), "File path: file://" + file);
    ASSERT_EQ(line(helper), "Recording started! Press Ctrl+C to stop.");
    std::this_thread::sleep_for(length);
    helper.signal(SIGINT);
    EXPECT_EQ(helper.readAll(20s),
              "\nReceived interrupt. Stopping recording...\nFinished recording:\n");
    EXPECT_EQ(helper.wait(20s), 0);
  }

  static std::pair<int, int> videoSize(const std::string& file) {
    const auto info = TestSupport::probeFile(file);
    const int video = RecordingChecks::trackIndex(info, AVMEDIA_TYPE_VIDEO);
    if (video < 0) {
      return {0, 0};
    }
    const auto& track = info.tracks[static_cast<std::size_t>(video)];
    return {track.width, track.height};
  }

  static std::string line(Subprocess& helper) { return helper.readLine(20s).value_or("<no line>"); }

  struct Recording {
    TestSupport::FileInfo info;
    TestSupport::DecodedTrack video;
  };

  // Checks the tracks of a recording of `width` x `height` pixels (the
  // monitor's 1280x720 unless given) that lasted `recorded` seconds: moving
  // pictures and `audioTracks` lossless audio tracks that last as long.
  // Returns what it read, for further checks.
  static Recording expectRecording(const std::string& file, double recorded, int audioTracks,
                                   int width = 1280, int height = 720) {
    TestSupport::FileInfo info = TestSupport::probeFile(file);
    int video = 0;
    int audio = 0;
    for (const auto& track : info.tracks) {
      if (track.type == AVMEDIA_TYPE_VIDEO) {
        ++video;
        EXPECT_EQ(track.codec, AV_CODEC_ID_H264);
        EXPECT_EQ(track.width, width);
        EXPECT_EQ(track.height, height);
      } else if (track.type == AVMEDIA_TYPE_AUDIO) {
        ++audio;
        EXPECT_EQ(track.codec, AV_CODEC_ID_ALAC);
      }
      EXPECT_NEAR(track.end, recorded, 0.5) << "track ends with the recording";
    }
    EXPECT_EQ(video, 1);
    EXPECT_EQ(audio, audioTracks);
    auto decoded =
        TestSupport::decodeTrack(file, RecordingChecks::trackIndex(info, AVMEDIA_TYPE_VIDEO));
    EXPECT_EQ(decoded.errors, 0);
    // Only changed pictures are written, and the compositor renders in
    // software here: a still picture would give one frame, a moving one
    // gives many a second (measured 16 to 24 a second on this machine).
    EXPECT_GT(decoded.frames, 4 * 6) << "the client's animation shows as new pictures";
    return {std::move(info), std::move(decoded)};
  }

  TestSupport::TemporaryDirectory directory_;
};

TEST_P(WaylandRecording, ThePickerEntryRecordsTheWaylandWindowPickedWithSoundInStep) {
  // Recorded at its own pixels, not fitted into the monitor. Still but for
  // its flashes: the software compositor then paints each flash when it is
  // due, where a moving window keeps it busy enough to show some a frame
  // late.
  const TestSupport::DemoWindow window(TestSupport::DemoWindow::Wayland{},
                                       {"--title", "Weekly sync", "--size", "560x360", "--still",
                                        "--flash-every", "1.013", "--beep"},
                                       desktop_->environment());
  Subprocess other({animatedClient}, desktop_->environment());
  desktop_->pickScreenCast("window Weekly sync");
  // The window's sound reaches the speakers a moment after the window
  // appears; a flash before that has no beep to match.
  std::this_thread::sleep_for(2s);

  const auto listing = TestSupport::run({TARSEL_HELPER, "meetings"}, desktop_->environment());
  ASSERT_EQ(listing.status, 0) << listing.output;
  bool listed = false;
  for (const auto& entry : nlohmann::json::parse(listing.output)) {
    listed = listed || entry.at("id") == pickerID;
  }
  ASSERT_TRUE(listed) << listing.output;

  const std::string file = directory_.path() + "/picked.mp4";
  Subprocess helper({TARSEL_HELPER, "start", pickerID, "virtual_mic", file},
                    desktop_->environment());
  ASSERT_EQ(line(helper), "File path: file://" + file);
  ASSERT_EQ(line(helper), "Recording started! Press Ctrl+C to stop.");
  const auto started = std::chrono::steady_clock::now();
  // Long enough for a score of flashes: each is seen only to within a frame
  // period, so only the median of many is steady to a few milliseconds.
  std::this_thread::sleep_for(24s);
  const double recorded =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  helper.signal(SIGINT);
  EXPECT_EQ(line(helper), "");
  EXPECT_EQ(line(helper), "Received interrupt. Stopping recording...");
  EXPECT_EQ(line(helper), "Finished recording:");
  EXPECT_EQ(helper.wait(20s), 0);

  const auto video = expectRecording(file, recorded, 2, 560, 360).video;
  const auto& pictures = video.pictures;
  // A white flash fills the whole picture (video-range luma 235): the
  // window alone, and not the screen it is on.
  double brightest = 0;
  for (const auto& picture : pictures) {
    brightest = std::max(brightest, picture.meanLuma);
  }
  EXPECT_NEAR(brightest, 235, 8.0) << "the flash of the picked window alone";

  if (const auto reason = RecordingChecks::whyTimingIsUnreliable(); !reason.empty()) {
    GTEST_SKIP() << "sync is not measurable: " << reason;
  }
  const auto found = RecordingChecks::flashesAndBeeps(file, 1.0 / 24);
  ASSERT_GE(found.flashes.size(), 18U);
  // As on X11: each flash is seen only to within a frame period, so the
  // median is held to 15 ms.
  const double median = found.medianDistance();
  RecordProperty("median_offset_ms", std::to_string(median * 1000));
  EXPECT_LE(std::fabs(median), 0.015) << "median offset " << median * 1000 << " ms";
}

TEST_P(WaylandRecording, XWaylandWindowsAreListedBeforeThePickerAndRecordedWithoutADialog) {
  const TestSupport::DemoWindow window({"--title", "Stand-up", "--size", "400x300"},
                                       desktop_->environment());
  desktop_->pickScreenCast("cancel"); // no dialog may be asked

  // KWin lists an X11 window a moment after it is shown, mutter at once.
  TestSupport::RunResult listing;
  std::vector<std::string> ids;
  for (int attempt = 0; attempt < 30 && ids.size() < 2; ++attempt) {
    std::this_thread::sleep_for(attempt == 0 ? 0ms : 100ms);
    listing = TestSupport::run({TARSEL_HELPER, "meetings"}, desktop_->environment());
    ASSERT_EQ(listing.status, 0) << listing.output;
    ids.clear();
    for (const auto& entry : nlohmann::json::parse(listing.output)) {
      ids.push_back(entry.at("id"));
      if (entry.at("id") == window.idText()) {
        EXPECT_EQ(entry.at("title"), "demo-window | Stand-up");
      }
    }
  }
  ASSERT_EQ(ids, (std::vector<std::string>{window.idText(), pickerID})) << listing.output;

  const std::string file = directory_.path() + "/xwayland.mp4";
  Subprocess helper({TARSEL_HELPER, "start", window.idText(), "virtual_mic", file},
                    desktop_->environment());
  ASSERT_EQ(line(helper), "File path: file://" + file);
  ASSERT_EQ(line(helper), "Recording started! Press Ctrl+C to stop.");
  std::this_thread::sleep_for(2s);
  helper.signal(SIGINT);
  EXPECT_EQ(helper.wait(20s), 0);

  const auto info = TestSupport::probeFile(file);
  const int video = RecordingChecks::trackIndex(info, AVMEDIA_TYPE_VIDEO);
  ASSERT_GE(video, 0);
  EXPECT_EQ(info.tracks[static_cast<std::size_t>(video)].width, 400) << "the window's own size";
  EXPECT_EQ(info.tracks[static_cast<std::size_t>(video)].height, 300);
  EXPECT_EQ(info.tracks.size(), 3U) << "system audio and microphone beside the picture";
  EXPECT_GT(TestSupport::decodeTrack(file, video).frames, 12) << "the bar moves";
}

TEST_P(WaylandRecording, APickedWindowThatClosesEndsTheCastAndTheFileKeepsWhatWasRecorded) {
  auto window = std::make_unique<TestSupport::DemoWindow>(
      TestSupport::DemoWindow::Wayland{}, std::vector<std::string>{"--title", "Closing"},
      desktop_->environment());
  desktop_->pickScreenCast("window Closing");
  const std::string file = directory_.path() + "/closed.mp4";
  Subprocess helper({TARSEL_HELPER, "start", pickerID, "virtual_mic", file},
                    desktop_->environment());
  ASSERT_EQ(line(helper), "File path: file://" + file);
  ASSERT_EQ(line(helper), "Recording started! Press Ctrl+C to stop.");
  std::this_thread::sleep_for(2s);
  window.reset();
  // Finished at once: whole and readable before the parent says stop.
  std::this_thread::sleep_for(2s);
  const auto info = TestSupport::probeFile(file);
  const int video = RecordingChecks::trackIndex(info, AVMEDIA_TYPE_VIDEO);
  ASSERT_GE(video, 0);
  EXPECT_GT(info.tracks[static_cast<std::size_t>(video)].end, 1.5);
  EXPECT_EQ(TestSupport::decodeTrack(file, video).errors, 0);

  helper.signal(SIGINT);
  EXPECT_EQ(line(helper), "");
  EXPECT_EQ(line(helper), "Received interrupt. Stopping recording...");
  EXPECT_EQ(line(helper).rfind("Error stopping recorder: ", 0), 0U);
  EXPECT_EQ(helper.wait(20s), 1);
}

TEST_P(WaylandRecording, ACancelledPickerIsAnErrorAndLeavesNoFile) {
  desktop_->pickScreenCast("cancel");
  const std::string file = directory_.path() + "/cancelled.mp4";
  Subprocess helper({TARSEL_HELPER, "start", pickerID, "virtual_mic", file},
                    desktop_->environment());
  ASSERT_EQ(line(helper), "File path: file://" + file);
  const std::string error = line(helper);
  EXPECT_EQ(error.rfind("Vistrel Error: ", 0), 0U) << error;
  EXPECT_NE(error.find("cancelled"), std::string::npos) << error;
  EXPECT_EQ(helper.wait(20s), 1);
  EXPECT_FALSE(std::filesystem::exists(file));
}

// A meeting app starts recording by itself: only the first start may ask
// the user. A token the desktop no longer honours brings the dialog back.
TEST_P(WaylandRecording, ASecondStartRecordsTheRememberedPickWithoutADialog) {
  const TestSupport::DemoWindow window(TestSupport::DemoWindow::Wayland{},
                                       {"--title", "Retro", "--size", "400x240"},
                                       desktop_->environment());
  desktop_->pickScreenCast("window Retro");
  recordPicked(directory_.path() + "/first.mp4", 1500ms);
  EXPECT_EQ(desktop_->takeScreenCastEvents().front(), "dialog window Retro");
  const std::string token = rememberedPicks() + "/screencast-picker.token";
  struct stat kept {};
  ASSERT_EQ(::stat(token.c_str(), &kept), 0) << "the pick is remembered";
  EXPECT_EQ(kept.st_mode & 0777, 0600U) << "for the user's eyes only";

  // The user would cancel a dialog now: none may come.
  desktop_->pickScreenCast("cancel");
  const std::string second = directory_.path() + "/second.mp4";
  recordPicked(second, 1500ms);
  const auto events = desktop_->takeScreenCastEvents();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), "restored window");
  EXPECT_EQ(videoSize(second), std::make_pair(400, 240)) << "the same window";

  // A desktop that no longer remembers asks again: here the user cancels.
  desktop_->pickScreenCast("cancel\nrestore off");
  Subprocess helper(
      {TARSEL_HELPER, "start", pickerID, "virtual_mic", directory_.path() + "/third.mp4"},
      desktop_->environment());
  EXPECT_EQ(line(helper).rfind("File path: ", 0), 0U);
  EXPECT_EQ(line(helper).rfind("Vistrel Error: ", 0), 0U);
  EXPECT_EQ(helper.wait(20s), 1);
  EXPECT_EQ(desktop_->takeScreenCastEvents().front(), "dialog cancel");

  // Where the desktop will not remember, the user learns once that the next
  // recording asks again.
  desktop_->pickScreenCast("window Retro\nrestore off");
  const std::string errors = directory_.path() + "/forgotten.log";
  recordPicked(directory_.path() + "/forgotten.mp4", 1500ms, errors);
  std::ifstream log(errors);
  int warnings = 0;
  for (std::string text; std::getline(log, text);) {
    warnings += text.find("it will ask again") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(warnings, 1);
}

// A meeting that ends while the dialog is open must not leave the helper
// waiting on a user who has gone, nor a file behind.
TEST_P(WaylandRecording, ASignalWhileThePickerIsOpenClosesItAndLeavesNoFile) {
  desktop_->pickScreenCast("hold");
  for (const int signalNumber : {SIGINT, SIGTERM}) {
    const std::string file = directory_.path() + "/held" + std::to_string(signalNumber) + ".mp4";
    Subprocess helper({TARSEL_HELPER, "start", pickerID, "virtual_mic", file},
                      desktop_->environment());
    ASSERT_EQ(line(helper), "File path: file://" + file);
    std::vector<std::string> events;
    for (int poll = 0; poll < 200 && events.empty(); ++poll) {
      std::this_thread::sleep_for(50ms);
      events = desktop_->takeScreenCastEvents();
    }
    ASSERT_EQ(events, std::vector<std::string>{"dialog hold"});
    EXPECT_FALSE(std::filesystem::exists(file)) << "no file while the user chooses";

    const auto signalled = std::chrono::steady_clock::now();
    helper.signal(signalNumber);
    const std::string error = line(helper);
    EXPECT_EQ(error.rfind("Vistrel Error: ", 0), 0U) << error;
    EXPECT_EQ(helper.wait(5s), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 1s) << strsignal(signalNumber);
    EXPECT_FALSE(std::filesystem::exists(file));
    std::this_thread::sleep_for(200ms);
    events = desktop_->takeScreenCastEvents();
    EXPECT_NE(std::find(events.begin(), events.end(), "request closed"), events.end())
        << "the dialog was closed";
  }
}

INSTANTIATE_TEST_SUITE_P(GnomeShell, WaylandRecording,
                         testing::Values(TestSupport::VirtualDesktop::Compositor::gnomeShell));
INSTANTIATE_TEST_SUITE_P(KWin, WaylandRecording,
                         testing::Values(TestSupport::VirtualDesktop::Compositor::kwin));

// Screens, on GNOME's desktop only: KWin 5.27 sends the cast of a virtual
// output no frame (the stream runs, no buffer comes), so a screen cannot be
// recorded on the KDE test desktop.
class WaylandScreenRecording : public WaylandRecording {};

// wlroots' portal offers screens only: the entry records a screen there.
TEST_P(WaylandScreenRecording, APortalOfScreensOnlyRecordsAScreen) {
  desktop_->pickScreenCast("window Weekly sync\ntypes monitor");
  desktop_->restartPortal();
  struct OfferBoth {
    ~OfferBoth() {
      desktop_->pickScreenCast("monitor");
      desktop_->restartPortal();
    }
  } offerBothAfterwards;
  const std::string file = directory_.path() + "/monitor-only.mp4";
  recordPicked(file, 1500ms);
  EXPECT_EQ(videoSize(file), std::make_pair(1280, 720));
}

// When PipeWire restarts the cast is asked for again, without a dialog; the
// gap shows the last picture and the file plays throughout.
TEST_P(WaylandScreenRecording, ARestartedPipeWireCostsOnlyTheGap) {
  Subprocess client({animatedClient}, desktop_->environment());
  desktop_->pickScreenCast("monitor");
  const std::string file = directory_.path() + "/restarted.mp4";
  Subprocess helper({TARSEL_HELPER, "start", pickerID, "virtual_mic", file},
                    desktop_->environment());
  ASSERT_EQ(line(helper), "File path: file://" + file);
  ASSERT_EQ(line(helper), "Recording started! Press Ctrl+C to stop.");
  const auto started = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(2s);
  desktop_->pickScreenCast("cancel"); // a dialog now would cancel
  desktop_->restartPipeWire();
  std::this_thread::sleep_for(4s);
  helper.signal(SIGINT);
  EXPECT_EQ(helper.readAll(20s),
            "\nReceived interrupt. Stopping recording...\nFinished recording:\n");
  EXPECT_EQ(helper.wait(20s), 0);
  const double recorded =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const auto events = desktop_->takeScreenCastEvents();
  EXPECT_NE(std::find(events.begin(), events.end(), "restored monitor"), events.end());

  const auto [info, video] = expectRecording(file, recorded, 2);
  // New pictures after the restart: the client's animation shows again.
  const double restartedAt = 2.0 + 1.0;
  const auto after = std::count_if(video.pictures.begin(), video.pictures.end(),
                                   [&](const auto& picture) { return picture.time > restartedAt; });
  // A few are enough: the software compositor on a loaded machine draws
  // the client slowly.
  EXPECT_GE(after, 4) << "the cast came back";
}

// A server of the desktop that hangs without dying (the compositor stalled
// on its GPU, PipeWire blocked in a device switch) never holds up a stop:
// each one the desktop runs, in turn.
TEST_P(WaylandRecording, AnInterruptWhileAServerHangsFinishesAtOnceWithEveryTrackToTheStop) {
  const TestSupport::DemoWindow window(TestSupport::DemoWindow::Wayland{},
                                       {"--title", "Weekly sync", "--size", "320x240"},
                                       desktop_->environment());
  int hung = 0;
  for (const char* server :
       {"gnome-shell", "kwin", "pipewire", "wireplumber", "pipewire-pulse", "portal"}) {
    const int pid = desktop_->serverProcess(server);
    if (pid == 0) {
      continue; // not on this desktop
    }
    SCOPED_TRACE(server);
    ++hung;
    desktop_->pickScreenCast("window Weekly sync");
    const std::string file = directory_.path() + "/hung-" + server + ".mp4";
    Subprocess helper({TARSEL_HELPER, "start", pickerID, "virtual_mic", file},
                      desktop_->environment());
    ASSERT_EQ(line(helper), "File path: file://" + file);
    ASSERT_EQ(line(helper), "Recording started! Press Ctrl+C to stop.");
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(2s);
    TestSupport::ServerHang hang(pid);
    std::this_thread::sleep_for(1s);
    const double recorded =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    helper.signal(SIGINT);
    // Far more than a stop may take, far less than one that waits on the
    // server for good.
    EXPECT_EQ(helper.readAll(5s),
              "\nReceived interrupt. Stopping recording...\nFinished recording:\n");
    EXPECT_EQ(helper.wait(5s), 0);
    hang.resume();

    const auto info = TestSupport::probeFile(file);
    EXPECT_EQ(info.tracks.size(), 3U) << "picture, system audio and microphone";
    for (const auto& track : info.tracks) {
      EXPECT_NEAR(std::max(track.end, track.duration), recorded, 0.3) << track.name;
    }
    EXPECT_EQ(TestSupport::decodeTrack(file, RecordingChecks::trackIndex(info, AVMEDIA_TYPE_VIDEO))
                  .errors,
              0);
  }
  EXPECT_GE(hung, 5) << "the compositor, PipeWire, WirePlumber, its audio server, the portal";
}

TEST_P(WaylandScreenRecording, ADisplayIsRecordedWithSystemAudioAndMicrophoneThroughTheLibrary) {
  Subprocess client({animatedClient}, desktop_->environment());
  desktop_->pickScreenCast("monitor");
  desktop_->useInThisProcess();
  Platform::install(Platform::Linux::makeLinuxServices());

  const auto displays = Vistrel::Devices::screen();
  ASSERT_EQ(displays.size(), 1U) << "the one virtual monitor";
  const std::string file = directory_.path() + "/display.mov";
  const Vistrel::RecordingOptions options({.destination = file,
                                           .targetID = displays.front().id,
                                           .framesPerSecond = 24,
                                           .cropRect = std::nullopt,
                                           .losslessAudio = true,
                                           .recordSystemAudio = true,
                                           .microphoneDeviceID = "virtual_mic"});
  Vistrel::Recorder recorder;
  recorder.start(Vistrel::Target::screen, options);
  const auto started = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(4s);
  recorder.stop();
  const double recorded =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  expectRecording(file, recorded, 2);
}

INSTANTIATE_TEST_SUITE_P(GnomeShell, WaylandScreenRecording,
                         testing::Values(TestSupport::VirtualDesktop::Compositor::gnomeShell));

// A HiDPI output has twice as many pixels each way as points: the picker's
// screen is recorded at its pixels, so that slides and code stay sharp.
class WaylandHiDPIRecording : public WaylandDesktopTest {
protected:
  // A desktop of its own: the shared one is stopped first.
  void SetUp() override { releaseDesktop(); }
};

TEST_P(WaylandHiDPIRecording, AScaledScreenIsRecordedAtItsPixels) {
  std::string whyNot;
  const auto desktop = TestSupport::VirtualDesktop::waylandIfPossible(
      whyNot, {"--screen", "2560x1440", "--scale", "2"}, {GetParam()});
  if (!desktop) {
    GTEST_SKIP() << "No HiDPI Wayland test desktop here: " << whyNot;
  }
  desktop->pickScreenCast("monitor");
  TestSupport::TemporaryDirectory directory;
  const std::string file = directory.path() + "/hidpi.mp4";
  Subprocess helper({TARSEL_HELPER, "start", pickerID, "virtual_mic", file},
                    desktop->environment());
  ASSERT_EQ(helper.readLine(20s), "File path: file://" + file);
  ASSERT_EQ(helper.readLine(20s), "Recording started! Press Ctrl+C to stop.");
  std::this_thread::sleep_for(1500ms);
  helper.signal(SIGINT);
  EXPECT_EQ(helper.wait(20s), 0);
  const auto info = TestSupport::probeFile(file);
  const int video = RecordingChecks::trackIndex(info, AVMEDIA_TYPE_VIDEO);
  ASSERT_GE(video, 0);
  EXPECT_EQ(info.tracks[static_cast<std::size_t>(video)].width, 2560);
  EXPECT_EQ(info.tracks[static_cast<std::size_t>(video)].height, 1440);
  EXPECT_EQ(TestSupport::decodeTrack(file, video).errors, 0);
}

INSTANTIATE_TEST_SUITE_P(GnomeShell, WaylandHiDPIRecording,
                         testing::Values(TestSupport::VirtualDesktop::Compositor::gnomeShell));

} // namespace

#include "HelperFixture.h"

#include "support/DemoWindow.h"
#include "support/MediaProbe.h"
#include "support/WindowActions.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

// Every way a recording can end, as the parent application and the desktop
// bring them about: signals at any moment, a dead parent, a closed pipe, a
// vanished window or X server, a full disk, a kill.

namespace {

using namespace HelperTesting;
using TestSupport::DemoWindow;

class HelperFaults : public HelperTest {
protected:
  // Runs the helper with its standard error kept in a file of its own.
  std::unique_ptr<Subprocess>
  startKeepingErrors(const std::map<std::string, std::string>& desktopEnvironment,
                     const std::string& window, const std::string& file) {
    auto variables = desktopEnvironment;
    variables["HELPER_ERRORS"] = errorsFile();
    return std::make_unique<Subprocess>(
        std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>\"$HELPER_ERRORS\"",
                                 TARSEL_HELPER, "start", window, "virtual_mic", file},
        variables);
  }

  std::string errorsFile() const { return directory.path() + "/errors.txt"; }

  // The lines the library wrote at error level.
  std::vector<std::string> errorLines() const {
    std::vector<std::string> lines;
    std::ifstream input(errorsFile());
    for (std::string text; std::getline(input, text);) {
      if (text.rfind("Vistrel error:", 0) == 0) {
        lines.push_back(text);
      }
    }
    return lines;
  }

  bool waitForErrorLine(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (errorLines().empty()) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(50ms);
    }
    return true;
  }

  static double recordedSeconds(const std::string& file) {
    double end = 0;
    for (const auto& track : TestSupport::probeFile(file).tracks) {
      end = std::max({end, track.end, track.duration});
    }
    return end;
  }

  // A recording that ended on a fault: said at once on standard error in one
  // line, the file finished before anyone asks (a parent that never
  // interrupts loses nothing), and the fault reported on the next SIGINT.
  void expectFaultHandled(Subprocess& helper, const std::string& file,
                          std::chrono::milliseconds sayWithin, double minimumSeconds) const {
    ASSERT_TRUE(waitForErrorLine(sayWithin)) << "the failure is said at once";
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(TestSupport::decodingErrors(file), "");
    EXPECT_GT(recordedSeconds(file), minimumSeconds);
    helper.signal(SIGINT);
    expectInterruptLines(helper);
    EXPECT_EQ(line(helper).rfind("Error stopping recorder: ", 0), 0U);
    EXPECT_EQ(helper.wait(20s), 1);
    const auto errors = errorLines();
    ASSERT_EQ(errors.size(), 1U);
    EXPECT_NE(errors.front().find(". The file keeps what was recorded."), std::string::npos)
        << "the cause reads as a sentence of its own: " << errors.front();
  }
};

TEST_F(HelperFaults, TerminationAndHangUpFinishTheFileLikeAnInterrupt) {
  DemoWindow window({"--size", "320x240"}, environment());
  for (const int signalNumber : {SIGTERM, SIGHUP}) {
    const std::string file = directory.path() + "/signal" + std::to_string(signalNumber) + ".mp4";
    auto helper = start(window.idText(), "virtual_mic", file);
    expectStarted(*helper, file);
    std::this_thread::sleep_for(2s);
    expectFinishedAfter(*helper, signalNumber);
    EXPECT_EQ(TestSupport::decodingErrors(file), "") << strsignal(signalNumber);
    EXPECT_GT(recordedSeconds(file), 1.8) << "the last second is kept";
  }
}

TEST_F(HelperFaults, LaterSignalsDuringTheStopNeitherCutItShortNorStopTwice) {
  DemoWindow window({"--size", "320x240"}, environment());
  const std::string file = directory.path() + "/burst.mp4";
  auto helper = start(window.idText(), "virtual_mic", file);
  expectStarted(*helper, file);
  std::this_thread::sleep_for(2s);
  for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
    helper->signal(signalNumber);
  }
  for (int signal = 0; signal < 3; ++signal) {
    expectInterruptLines(*helper);
  }
  EXPECT_EQ(line(*helper), "Finished recording:");
  EXPECT_EQ(helper->readAll(10s), "");
  EXPECT_EQ(helper->wait(20s), 0);
  EXPECT_EQ(TestSupport::decodingErrors(file), "");
}

// Whether the process holds SIGINT off, blocked or handled. No program can
// before its first instruction: the kernel finishes an exec after the spawn
// has returned, and a signal that comes meanwhile ends the process.
bool holdsInterruptOff(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  const unsigned long interruptBit = 1UL << (SIGINT - 1);
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigBlk:", 0) == 0 || line.rfind("SigCgt:", 0) == 0) {
      if (std::stoul(line.substr(7), nullptr, 16) & interruptBit) {
        return true;
      }
    }
  }
  return false;
}

// From the launcher's first instruction, a few microseconds after the spawn
// returns on an idle machine, and all through the loading of the helper proper
// (tens of milliseconds) and the start, an interrupt stops the recording once
// it has started.
TEST_F(HelperFaults, InterruptFromTheFirstMomentNeverKillsAndLeavesNoEmptyFile) {
  DemoWindow window({"--size", "320x240"}, environment());
  for (const int delay : {0, 1, 5, 10, 20, 35, 50, 100}) {
    const std::string file = directory.path() + "/early" + std::to_string(delay) + ".mp4";
    auto helper = start(window.idText(), "virtual_mic", file);
    // On a loaded machine the child may wait milliseconds for a core inside
    // its exec; the delays count from the moment it can hold the signal off.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!holdsInterruptOff(helper->pid()) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(50us);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    helper->signal(SIGINT);
    const std::string output = helper->readAll(30s);
    const auto status = helper->wait(30s);
    ASSERT_TRUE(status.has_value()) << delay << " ms";
    EXPECT_EQ(*status, 0) << delay << " ms: " << output;
    EXPECT_NE(output.find("Recording started! Press Ctrl+C to stop.\n\nReceived interrupt. "
                          "Stopping recording...\nFinished recording:\n"),
              std::string::npos)
        << delay << " ms: " << output;
    EXPECT_EQ(TestSupport::decodingErrors(file), "") << delay << " ms";
  }
}

TEST_F(HelperFaults, DeathOfTheParentFinishesTheFile) {
  DemoWindow window({"--size", "320x240"}, environment());
  const std::string file = directory.path() + "/orphan.mp4";
  // A parent of its own that dies without a word; the helper inherits our pipe.
  Subprocess parent({"/bin/sh", "-c", "\"$0\" \"$@\" & wait", TARSEL_HELPER, "start",
                     window.idText(), "virtual_mic", file},
                    environment());
  expectStarted(parent, file);
  std::this_thread::sleep_for(2s);
  parent.signal(SIGKILL);
  EXPECT_EQ(parent.wait(10s), -SIGKILL);
  expectInterruptLines(parent);
  EXPECT_EQ(line(parent), "Finished recording:");
  EXPECT_EQ(parent.readAll(20s), "") << "the helper has ended";
  EXPECT_EQ(TestSupport::decodingErrors(file), "");
  EXPECT_GT(recordedSeconds(file), 1.8);
}

TEST_F(HelperFaults, ClosedStandardOutputDoesNotEndTheRecording) {
  DemoWindow window({"--size", "320x240"}, environment());
  const std::string file = directory.path() + "/unread.mp4";
  auto helper = start(window.idText(), "virtual_mic", file);
  expectStarted(*helper, file);
  helper->closeOutput();
  std::this_thread::sleep_for(2s);
  helper->signal(SIGINT); // its lines now go nowhere
  EXPECT_EQ(helper->wait(20s), 0);
  EXPECT_EQ(TestSupport::decodingErrors(file), "");
  EXPECT_GT(recordedSeconds(file), 1.8);
}

TEST_F(HelperFaults, LostWindowFinishesTheFileAtOnceAndSaysSo) {
  auto window =
      std::make_unique<DemoWindow>(std::vector<std::string>{"--size", "320x240"}, environment());
  const std::string file = directory.path() + "/closed.mp4";
  auto helper = startKeepingErrors(environment(), window->idText(), file);
  expectStarted(*helper, file);
  std::this_thread::sleep_for(2s);
  window->close();
  expectFaultHandled(*helper, file, 5s, 1.5);
}

TEST_F(HelperFaults, LostXServerFinishesTheFileAtOnceAndSaysSo) {
  // A desktop of its own, since its X server goes away.
  TestSupport::VirtualDesktop doomed;
  DemoWindow window({"--size", "320x240"}, doomed.environment());
  const std::string file = directory.path() + "/xgone.mp4";
  auto helper = startKeepingErrors(doomed.environment(), window.idText(), file);
  expectStarted(*helper, file);
  std::this_thread::sleep_for(2s);
  const int server = doomed.xServerProcess();
  ASSERT_GT(server, 0);
  ASSERT_EQ(kill(server, SIGKILL), 0);
  expectFaultHandled(*helper, file, 5s, 1.5);
}

TEST_F(HelperFaults, FullDiskKeepsEverythingWrittenAndSaysSo) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "mounting a small disk needs root";
  }
  const std::string disk = directory.path() + "/disk";
  std::filesystem::create_directory(disk);
  ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=160k"), 0) << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk};

  DemoWindow window({"--size", "640x360"}, environment());
  const std::string file = disk + "/full.mp4";
  auto helper = startKeepingErrors(environment(), window.idText(), file);
  expectStarted(*helper, file);
  // Cut back to its last whole part: every byte left decodes.
  expectFaultHandled(*helper, file, 60s, 0.5);
}

// The first fragment reaches the disk as soon as there is something to play.
TEST_F(HelperFaults, KillSoonAfterStartKeepsAFileThatDecodes) {
  DemoWindow window({"--size", "320x240"}, environment());
  for (const int delay : {300, 1100}) {
    const std::string file = directory.path() + "/killed" + std::to_string(delay) + ".mp4";
    auto helper = start(window.idText(), "virtual_mic", file);
    expectStarted(*helper, file);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    helper->signal(SIGKILL);
    EXPECT_EQ(helper->wait(10s), -SIGKILL);
    EXPECT_EQ(TestSupport::decodingErrors(file), "") << delay << " ms";
    EXPECT_GT(recordedSeconds(file), 0.0) << delay << " ms: the first second is kept";
  }
}

// The same helper on a desktop whose window manager can minimize windows.
class HelperUnderWindowManager : public HelperFaults {
protected:
  static void SetUpTestSuite() {
    desktop = std::make_unique<TestSupport::VirtualDesktop>(
        TestSupport::VirtualDesktop::WindowManager::reparenting);
    desktop->useInThisProcess(); // for the window manager requests below
  }
};

TEST_F(HelperUnderWindowManager, MinimizedWindowStartsAtOnceBlackThenShowsItself) {
  DemoWindow window({"--solid", "3080F0", "--size", "320x240"}, environment());
  TestSupport::minimizeWindow(window.id());
  ASSERT_TRUE(TestSupport::waitUntilViewable(window.id(), false))
      << "the window manager did not minimize it";

  const std::string file = directory.path() + "/minimized.mp4";
  const auto startedAt = std::chrono::steady_clock::now();
  auto helper = start(window.idText(), "virtual_mic", file);
  expectStarted(*helper, file);
  // Well under the engine's own limit on waiting for a first picture.
  EXPECT_LT(std::chrono::steady_clock::now() - startedAt, 5s);
  std::this_thread::sleep_for(1s);
  TestSupport::restoreWindow(window.id());
  ASSERT_TRUE(TestSupport::waitUntilViewable(window.id(), true));
  std::this_thread::sleep_for(1500ms);
  expectFinishedAfterInterrupt(*helper);

  EXPECT_EQ(TestSupport::decodingErrors(file), "");
  const auto info = TestSupport::probeFile(file);
  ASSERT_EQ(info.tracks.size(), 3U) << "system audio, microphone and the window";
  const auto& video = info.tracks[2];
  EXPECT_EQ(video.width, 320);
  EXPECT_EQ(video.height, 240);
  EXPECT_GT(video.end, 2.0);
  for (int index = 0; index < 2; ++index) {
    EXPECT_GT(info.tracks[static_cast<std::size_t>(index)].end, 2.0) << "audio from the start";
  }
  const auto pictures = TestSupport::decodeTrack(file, 2).pictures;
  ASSERT_FALSE(pictures.empty());
  EXPECT_LT(pictures.front().meanLuma, 20) << "black while minimized";
  const auto& last = pictures.back().centreRGB;
  EXPECT_NEAR(last[0], 0x30, 12) << "the window itself once restored";
  EXPECT_NEAR(last[1], 0x80, 12);
  EXPECT_NEAR(last[2], 0xF0, 12);
}

} // namespace

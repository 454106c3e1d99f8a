#include "support/Subprocess.h"
#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

// The "start" command as the parent application sees it, on the simulated
// platform with the real writer.

namespace {

using namespace std::chrono_literals;
using TestSupport::Subprocess;

constexpr const char* scenario = R"({
  "capabilities": {"streamCapturesMicrophone": false},
  "displays": [{"id": 1, "width": 1280, "height": 720}],
  "windows": [{"id": 42, "title": "Standup", "frame": [0, 0, 320, 180], "onScreen": true,
               "application": {"name": "Meet", "bundleIdentifier": "com.meet", "pid": 7}}],
  "audioDevices": [{"id": "mic-1", "name": "Desk Microphone", "channels": 1}],
  "writer": "ffmpeg"
})";

class StartCommand : public ::testing::Test {
protected:
  StartCommand() { std::ofstream(scenarioPath()) << scenario; }

  std::string scenarioPath() const { return directory.path() + "/scenario.json"; }

  std::unique_ptr<Subprocess> start(const std::string& window, const std::string& microphone,
                                    const std::string& file) {
    return std::make_unique<Subprocess>(
        std::vector<std::string>{TARSEL_HELPER_SIMULATED, "start", window, microphone, file},
        std::map<std::string, std::string>{{"TARSEL_SIMULATION", scenarioPath()}});
  }

  std::string line(Subprocess& process) { return process.readLine(10s).value_or("<no line>"); }

  TestSupport::TemporaryDirectory directory;
};

TEST_F(StartCommand, RecordsUntilInterruptedAndReportsEachStepAsItHappens) {
  const std::string file = directory.path() + "/weekly sync.mp4";
  auto helper = start("42", "mic-1", file);

  // Each line arrives while the helper still runs: output is not held back.
  EXPECT_EQ(line(*helper), "File path: file://" + std::filesystem::path(directory.path()).string() +
                               "/weekly%20sync.mp4");
  EXPECT_EQ(line(*helper), "Recording started! Press Ctrl+C to stop.");
  EXPECT_FALSE(helper->wait(0ms).has_value());

  std::this_thread::sleep_for(1s);
  helper->signal(SIGINT);
  EXPECT_EQ(line(*helper), "");
  EXPECT_EQ(line(*helper), "Received interrupt. Stopping recording...");
  EXPECT_EQ(line(*helper), "Finished recording:");
  EXPECT_EQ(helper->readAll(5s), "");
  EXPECT_EQ(helper->wait(10s), 0);
  EXPECT_GT(std::filesystem::file_size(file), 0U) << "written at the path with the blank";
}

TEST_F(StartCommand, RepeatedInterruptsStopOnceAndFinishTheFile) {
  const std::string file = directory.path() + "/meeting.mov";
  auto helper = start("42", "mic-1", file);
  ASSERT_EQ(line(*helper).rfind("File path: ", 0), 0U);
  ASSERT_EQ(line(*helper), "Recording started! Press Ctrl+C to stop.");

  helper->signal(SIGINT);
  helper->signal(SIGINT);
  helper->signal(SIGINT);
  const std::string rest = helper->readAll(10s);
  EXPECT_EQ(helper->wait(10s), 0) << rest;
  // Every interrupt that arrived before the exit printed its line; one stop ran.
  EXPECT_NE(rest.find("Received interrupt. Stopping recording...\n"), std::string::npos);
  EXPECT_EQ(rest.find("Finished recording:"), rest.rfind("Finished recording:"));
  EXPECT_EQ(rest.substr(rest.size() - std::string("Finished recording:\n").size()),
            "Finished recording:\n");
  EXPECT_GT(std::filesystem::file_size(file), 0U);
}

TEST_F(StartCommand, RefusedRequestsPrintTheLibraryMessage) {
  struct Case {
    std::string window, microphone, fileName, message;
  };
  const std::vector<Case> cases = {
      {"43", "mic-1", "a.mp4", "Vistrel Error: Target with id 43 not found."},
      {"042", "mic-1", "b.mp4", "Vistrel Error: Target with id 042 not found."},
      {"42", "no-such-mic", "c.mp4", "Vistrel Error: Microphone with id no-such-mic not found"},
      {"42", "mic-1", "d.MP4",
       "Vistrel Error: Invalid file extension. Only .mp4, .mov and .m4v are supported for video "
       "recordings. Got MP4."},
  };
  for (const Case& refused : cases) {
    const std::string file = directory.path() + "/" + refused.fileName;
    auto helper = start(refused.window, refused.microphone, file);
    EXPECT_EQ(line(*helper), "File path: file://" + file);
    EXPECT_EQ(line(*helper), refused.message);
    EXPECT_EQ(helper->readAll(5s), "");
    EXPECT_EQ(helper->wait(10s), 1);
    EXPECT_FALSE(std::filesystem::exists(file)) << file;
  }
}

TEST_F(StartCommand, AnExistingFileIsNeverReplaced) {
  const std::string file = directory.path() + "/keep.mp4";
  std::ofstream(file) << "precious";
  auto helper = start("42", "mic-1", file);
  EXPECT_EQ(line(*helper), "File path: file://" + file);
  const std::string failure = line(*helper);
  EXPECT_EQ(failure.rfind("Vistrel Error: Could not start recording: ", 0), 0U) << failure;
  EXPECT_NE(failure.find(file), std::string::npos) << "the error names the path";
  EXPECT_EQ(helper->wait(10s), 1);
  std::ifstream kept(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "precious");
}

} // namespace

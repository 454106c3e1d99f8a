#include "support/DemoWindow.h"
#include "support/Subprocess.h"
#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

// What each command maps into its process, as the dynamic loader itself
// reports it (an audit module hears of every object it maps, at start-up and
// through dlopen): the parent application asks the helper often, and the
// commands that list and ask must not pay for what a recording loads.

namespace {

using TestSupport::RunResult;

struct Loaded {
  RunResult result;
  std::vector<std::string> objects; // file names
};

Loaded runAudited(const std::vector<std::string>& arguments,
                  std::map<std::string, std::string> environment) {
  TestSupport::TemporaryDirectory directory;
  const std::string list = directory.path() + "/loaded";
  environment["LD_AUDIT"] = TARSEL_LOADED_OBJECTS_AUDIT;
  environment["LOADED_OBJECTS_FILE"] = list;
  std::vector<std::string> command{TARSEL_HELPER};
  command.insert(command.end(), arguments.begin(), arguments.end());
  Loaded loaded{TestSupport::run(command, environment), {}};
  std::ifstream lines(list);
  for (std::string line; std::getline(lines, line);) {
    loaded.objects.push_back(std::filesystem::path(line).filename().string());
  }
  return loaded;
}

bool loads(const Loaded& loaded, const std::string& prefix) {
  for (const std::string& object : loaded.objects) {
    if (object.rfind(prefix, 0) == 0) {
      return true;
    }
  }
  return false;
}

// The libraries of encoding, screen casts and pixel conversion.
const std::vector<std::string> recordingLibraries = {"libavcodec", "libavformat",   "libavutil",
                                                     "libswscale", "libswresample", "libpipewire",
                                                     "libspa",     "libyuv"};

void expectNoRecordingLibrary(const std::map<std::string, std::string>& environment,
                              const std::vector<std::vector<std::string>>& commands) {
  for (const auto& arguments : commands) {
    const std::string name = arguments.empty() ? "(no command)" : arguments.front();
    const Loaded loaded = runAudited(arguments, environment);
    EXPECT_FALSE(loaded.result.output.empty()) << name << " answered nothing";
    ASSERT_FALSE(loaded.objects.empty()) << name << ": the loader reported nothing";
    for (const std::string& library : recordingLibraries) {
      EXPECT_FALSE(loads(loaded, library)) << name << " loads " << library;
    }
  }
}

TEST(LoadedLibraries, CommandsThatListAndAskLoadNoneOfTheRecordingsLibraries) {
  TestSupport::VirtualDesktop desktop;
  TestSupport::DemoWindow window({"--title", "Standup"}, desktop.environment());

  // What they use is loaded: the audit hears of it.
  const Loaded meetings = runAudited({"meetings"}, desktop.environment());
  EXPECT_NE(meetings.result.output.find(window.idText()), std::string::npos);
  EXPECT_TRUE(loads(meetings, "libxcb.so"));
  const Loaded devices = runAudited({"audio-devices"}, desktop.environment());
  EXPECT_NE(devices.result.output.find("virtual_mic"), std::string::npos);
  EXPECT_TRUE(loads(devices, "libpulse.so"));

  expectNoRecordingLibrary(desktop.environment(), {{"meetings"},
                                                   {"audio-devices"},
                                                   {"is-microphone-allowed"},
                                                   {"request-microphone-access"},
                                                   {"is-recording-allowed"},
                                                   {"request-recording-access"},
                                                   {"bundle-id"},
                                                   {},
                                                   {"screens"}});
  // These print nothing: only the loader's list is checked.
  for (const std::string command : {"open-microphone-settings", "open-recording-settings"}) {
    const Loaded loaded = runAudited({command}, desktop.environment());
    EXPECT_EQ(loaded.result.status, 0) << command;
    for (const std::string& library : recordingLibraries) {
      EXPECT_FALSE(loads(loaded, library)) << command << " loads " << library;
    }
  }

  // A start loads the writer's encoders even when it goes no further.
  const Loaded start = runAudited({"start"}, desktop.environment());
  EXPECT_EQ(start.result.output, "Missing screenId or file path for start\n");
  EXPECT_TRUE(loads(start, "libx264"));
#ifdef TARSEL_HELPER_LEAN_FFMPEG
  // Its own FFmpeg is inside it: none of Debian's FFmpeg libraries, nor the
  // hundred-odd they would bring.
  EXPECT_FALSE(loads(start, "libavcodec"));
  EXPECT_FALSE(loads(start, "libavformat"));
  EXPECT_LT(start.objects.size(), 60U);
#else
  EXPECT_TRUE(loads(start, "libavcodec"));
#endif
}

TEST(LoadedLibraries, OnAWaylandDesktopListingLoadsNoPipeWire) {
  std::string whyNot;
  const auto desktop = TestSupport::VirtualDesktop::waylandIfPossible(whyNot);
  if (!desktop) {
    GTEST_SKIP() << "No Wayland test desktop here: " << whyNot;
  }
  expectNoRecordingLibrary(desktop->environment(), {{"meetings"}, {"is-recording-allowed"}});
}

} // namespace

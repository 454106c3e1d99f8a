#include "Helper/platform_installation.h"

#include "Platform/Platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

using namespace Platform;

// installPlatform is process-wide, so one scenario covers the whole format.
TEST(ScenarioInstallation, EverySectionReachesTheInstalledServices) {
  const auto path = std::filesystem::temp_directory_path() / "simulated-scenario-test.json";
  std::ofstream(path) << R"({
    "capabilities": {"streamCapturesMicrophone": false},
    "displays": [{"id": 7, "width": 1440, "height": 900, "pixelWidth": 2880, "name": "Built-in"},
                 {"id": 8, "width": 800, "height": 600, "frame": [1440, 0, 800, 600]}],
    "mainDisplay": 8,
    "windows": [{"id": 42, "title": "Standup", "frame": [10, 20, 640, 480],
                 "application": {"name": "Meet", "bundleIdentifier": "com.meet", "pid": 9}},
                {"id": 43, "onScreen": false}],
    "audioDevices": [{"id": "mono", "channels": 1}, {"id": "bare", "channels": 0},
                     {"id": "none"}],
    "permissions": {"microphoneStatus": 2, "screenCapture": false},
    "mainBundle": {"path": "/opt/App.app", "identifier": "com.example.app"},
    "failures": {"deviceInputs": {"mono": {"domain": "MediaCapture", "code": -11852,
                                           "description": "in use"}},
                 "streamOutputs": {"audio": {"code": 1}}}
  })";
  setenv("TARSEL_SIMULATION", path.c_str(), 1);

  installPlatform();

  auto& screen = screenCapture();
  const auto content = screen.shareableContent(true, true);
  ASSERT_EQ(content.displays.size(), 2U);
  EXPECT_EQ(content.displays[0].frame, (CGRect{0, 0, 1440, 900}));
  EXPECT_EQ(content.displays[1].frame, (CGRect{1440, 0, 800, 600}));
  EXPECT_EQ(screen.displayMode(7)->pixelWidth, 2880);
  EXPECT_FALSE(screen.displayMode(8));
  EXPECT_EQ(screen.mainDisplayID(), 8U);
  ASSERT_EQ(screen.screens().size(), 1U);
  EXPECT_EQ(screen.screens()[0].localizedName, "Built-in");
  ASSERT_EQ(content.windows.size(), 1U) << "the off-screen window is filtered";
  EXPECT_EQ(content.windows[0].frame, (CGRect{10, 20, 640, 480}));
  EXPECT_EQ(content.windows[0].owningApplication->bundleIdentifier, "com.meet");

  const auto devices = mediaCapture().discoverDevices(
      {AVCaptureDeviceType::microphone}, MediaType::audio, AVCaptureDevicePosition::unspecified);
  ASSERT_EQ(devices.size(), 3U);
  EXPECT_EQ(devices[0]->formats().at(0).formatDescription->audioChannelLayoutChannelCount, 1);
  EXPECT_FALSE(devices[1]->formats().at(0).formatDescription->audioChannelLayoutChannelCount);
  EXPECT_TRUE(devices[2]->formats().empty());
  EXPECT_THROW(mediaCapture().makeDeviceInput(devices[0]), SystemError);

  EXPECT_FALSE(system().capabilities().streamCapturesMicrophone);
  EXPECT_TRUE(system().capabilities().streamHighlightsClicks);
  EXPECT_EQ(system().microphoneAuthorizationStatus(), 2);
  EXPECT_FALSE(system().preflightScreenCaptureAccess());
  EXPECT_EQ(system().mainBundle()->bundleIdentifier, "com.example.app");

  std::filesystem::remove(path);
}

} // namespace

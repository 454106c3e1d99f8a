#include "EngineFixture.h"

#include "Vistrel/DevicesJSON.h"
#include "Vistrel/Displays.h"

#include <nlohmann/json.hpp>

#include <unordered_set>

namespace {

using namespace EngineTesting;
namespace Devices = Vistrel::Devices;

class DevicesTest : public ::testing::Test {
protected:
  void SetUp() override { Platform::install(platform.services()); }
  SimulatedPlatform platform;
};

TEST_F(DevicesTest, ScreensInPlatformOrderWithNames) {
  platform.addDisplay({.displayID = 1, .width = 1440, .height = 900, .frame = {0, 0, 1440, 900}});
  platform.addDisplay(
      {.displayID = 4000000000U, .width = 800, .height = 600, .frame = {1440, 0, 800, 600}});
  platform.addScreen(screen(1, "Built-in"));
  platform.addScreen(screen(std::nullopt, "No number"));

  const auto screens = Devices::screen();
  ASSERT_EQ(screens.size(), 2U);
  EXPECT_EQ(screens[0], (Devices::Screen{"1", "Built-in", 1440, 900, {0, 0, 1440, 900}}));
  EXPECT_EQ(screens[1].id, "4000000000");
  EXPECT_EQ(screens[1].name, "Unknown Display");
}

TEST_F(DevicesTest, PlatformErrorsPassUnchanged) {
  platform.failShareableContent(Platform::makeError("ScreenCapture", -3801, "declined"));
  try {
    Devices::window();
    FAIL() << "no error";
  } catch (const Platform::SystemError& error) {
    EXPECT_EQ(error.code(), -3801);
    EXPECT_EQ(error.localizedDescription(), "declined");
  }
  EXPECT_THROW(Devices::screen(), Platform::SystemError);
}

TEST_F(DevicesTest, WindowsCarryOptionalFieldsAndTheActiveGate) {
  auto untitled = window(9, std::nullopt, {1, 2, 3, 4});
  untitled.windowLayer = 3;
  untitled.isActive = true;
  platform.addWindow(untitled);
  auto owned = window(10, "Doc");
  owned.isActive = true;
  owned.owningApplication = Platform::SCRunningApplication{"Editor", "org.editor", 5};
  platform.addWindow(owned);

  auto windows = Devices::window();
  EXPECT_TRUE(platform.callLog().indexOf("shareableContent(true, true)"));
  ASSERT_EQ(windows.size(), 2U);
  EXPECT_EQ(windows[0],
            (Devices::Window{
                "9", std::nullopt, std::nullopt, std::nullopt, true, true, 3, {1, 2, 3, 4}}));
  EXPECT_EQ(windows[1].appName, std::optional<std::string>("Editor"));
  EXPECT_EQ(windows[1].appBundleIdentifier, std::optional<std::string>("org.editor"));

  Devices::window(false, true);
  EXPECT_TRUE(platform.callLog().indexOf("shareableContent(false, true)"));
}

TEST_F(DevicesTest, AudioAndExternalDevices) {
  platform.addAudioDevice({"mic-1", "Microphone", {audioDeviceFormat(1)}});
  platform.addExternalDevice({"phone-1", "Phone", {videoDeviceFormat(1170, 2532)}});
  EXPECT_EQ(Devices::audio(), (std::vector<Devices::Audio>{{"mic-1", "Microphone"}}));
  EXPECT_EQ(Devices::iOS(), (std::vector<Devices::IOS>{{"phone-1", "Phone"}}));
  EXPECT_EQ(platform.allowScreenCaptureDevicesCount(), 1);
}

TEST_F(DevicesTest, DisplayAccessors) {
  platform.addDisplay(display(1, 1440, 900), Platform::CGDisplayMode{2880, 1800, 1440, 900});
  platform.addDisplay(display(2), Platform::CGDisplayMode{1800, 1125, 1440, 900});
  platform.addDisplay(display(3), Platform::CGDisplayMode{2880, 1800, 0, 0});
  platform.addDisplay(display(4));
  EXPECT_EQ(Vistrel::scaleFactor(display(1)), 2);
  EXPECT_EQ(Vistrel::scaleFactor(display(2)), 1);
  EXPECT_EQ(Vistrel::scaleFactor(display(3)), 1);
  EXPECT_EQ(Vistrel::scaleFactor(display(4)), 1);

  EXPECT_EQ(Vistrel::displayID(screen(7, "")), std::optional<std::uint32_t>(7));
  EXPECT_EQ(Vistrel::displayID(screen(4294967295LL, "")),
            std::optional<std::uint32_t>(4294967295U));
  EXPECT_FALSE(Vistrel::displayID(screen(4294967296LL, "")));
  EXPECT_FALSE(Vistrel::displayID(screen(-1, "")));
  EXPECT_FALSE(Vistrel::displayID(screen(std::nullopt, "")));

  platform.addScreen(screen(2, "first"));
  platform.addScreen(screen(2, "second"));
  EXPECT_EQ(Vistrel::nsScreen(display(2))->localizedName, "first");
  EXPECT_FALSE(Vistrel::nsScreen(display(1)));
}

TEST(DeviceRecordsJSON, ScreenHasFiveKeysInOrder) {
  const nlohmann::ordered_json json =
      Devices::Screen{"1", "Built-in", 1440, 900, {0, 0, 1440, 900.5}};
  EXPECT_EQ(json.dump(), R"({"id":"1","name":"Built-in","width":1440,"height":900,)"
                         R"("frame":[[0.0,0.0],[1440.0,900.5]]})");
  EXPECT_EQ(json.get<Devices::Screen>(),
            (Devices::Screen{"1", "Built-in", 1440, 900, {0, 0, 1440, 900.5}}));
}

TEST(DeviceRecordsJSON, AbsentOptionalsAreLeftOutAndReadBack) {
  const Devices::Window bare{"9",   std::nullopt, std::nullopt, std::nullopt,
                             false, true,         -2,           {1, 2, 3, 4}};
  const nlohmann::ordered_json json = bare;
  EXPECT_EQ(json.dump(), R"({"id":"9","isActive":false,"isOnScreen":true,"layer":-2,)"
                         R"("frame":[[1.0,2.0],[3.0,4.0]]})");
  EXPECT_EQ(json.get<Devices::Window>(), bare);

  const Devices::Window full{"10", "Doc", "Editor", "org.editor", true, false, 0, {}};
  const nlohmann::ordered_json fullJSON = full;
  std::vector<std::string> keys;
  for (const auto& item : fullJSON.items()) {
    keys.push_back(item.key());
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"id", "title", "appName", "appBundleIdentifier",
                                            "isActive", "isOnScreen", "layer", "frame"}));
  EXPECT_EQ(fullJSON.get<Devices::Window>(), full);
}

TEST(DeviceRecordsJSON, DevicesAndMalformedInput) {
  const nlohmann::ordered_json audio = Devices::Audio{"a", "Mic \"1\""};
  EXPECT_EQ(audio.dump(), R"({"id":"a","name":"Mic \"1\""})");
  EXPECT_EQ(audio.get<Devices::Audio>(), (Devices::Audio{"a", "Mic \"1\""}));
  const nlohmann::ordered_json device = Devices::IOS{"p", "Phone"};
  EXPECT_EQ(device.get<Devices::IOS>(), (Devices::IOS{"p", "Phone"}));

  EXPECT_THROW(nlohmann::ordered_json::parse(R"({"id":"1"})").get<Devices::Audio>(),
               nlohmann::json::exception);
  EXPECT_THROW(nlohmann::ordered_json::parse(R"({"id":"1","name":"n","width":1,"height":1,)"
                                             R"("frame":[[0,0]]})")
                   .get<Devices::Screen>(),
               nlohmann::json::exception);
}

TEST(DeviceRecords, EqualityAndHashCoverEveryField) {
  const Devices::Window window{"9", "t", std::nullopt, std::nullopt, false, true, 0, {1, 2, 3, 4}};
  Devices::Window otherFrame = window;
  otherFrame.frame.height = 5;
  Devices::Window otherTitle = window;
  otherTitle.title = std::nullopt;
  EXPECT_NE(window, otherFrame);
  EXPECT_NE(window, otherTitle);
  const std::unordered_set<Devices::Window> set = {window, otherFrame, otherTitle, window};
  EXPECT_EQ(set.size(), 3U);
  const std::unordered_set<Devices::Screen> screens = {
      {"1", "a", 1, 1, {}}, {"1", "b", 1, 1, {}}, {"1", "a", 1, 1, {}}};
  EXPECT_EQ(screens.size(), 2U);
}

} // namespace

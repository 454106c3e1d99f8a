#include "Platform/Linux/X11/WindowDescription.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace Platform::Linux::X11 {
namespace {

WindowFacts visibleWindow(std::uint32_t id) {
  WindowFacts window;
  window.id = id;
  window.viewable = true;
  window.frame = CGRect{10, 20, 300, 200};
  return window;
}

std::optional<std::string> noProcess(std::int32_t) {
  return std::nullopt;
}

struct LayerCase {
  const char* name;
  std::vector<WindowType> types;
  bool above;
  bool below;
  std::int64_t layer;
};

class Layers : public testing::TestWithParam<LayerCase> {};

TEST_P(Layers, FollowTheWindowTypeThenTheState) {
  WindowFacts window = visibleWindow(1);
  window.types = GetParam().types;
  window.stateAbove = GetParam().above;
  window.stateBelow = GetParam().below;
  EXPECT_EQ(windowLayer(window), GetParam().layer);
}

INSTANTIATE_TEST_SUITE_P(
    Mapping, Layers,
    testing::Values(LayerCase{"plain", {}, false, false, WindowLayer::normal},
                    LayerCase{"normal", {WindowType::normal}, false, false, WindowLayer::normal},
                    LayerCase{"dialog", {WindowType::dialog}, false, false, WindowLayer::normal},
                    LayerCase{"above", {WindowType::normal}, true, false, WindowLayer::above},
                    LayerCase{"below", {}, false, true, WindowLayer::below},
                    LayerCase{"desktop", {WindowType::desktop}, false, false, WindowLayer::desktop},
                    LayerCase{"dockAbove", {WindowType::dock}, true, false, WindowLayer::dock},
                    LayerCase{"tooltip", {WindowType::tooltip}, false, false, WindowLayer::popUp},
                    LayerCase{"notificationOverNormal",
                              {WindowType::notification, WindowType::normal},
                              false,
                              false,
                              WindowLayer::popUp}),
    [](const auto& info) { return info.param.name; });

TEST(OnScreen, NeedsViewableNotHiddenAndTheCurrentDesktop) {
  const DesktopFacts desktop{2, std::nullopt};
  WindowFacts window = visibleWindow(1);
  EXPECT_TRUE(isOnScreen(window, desktop)); // no desktop property: everywhere

  window.desktop = 2;
  EXPECT_TRUE(isOnScreen(window, desktop));
  window.desktop = 3;
  EXPECT_FALSE(isOnScreen(window, desktop));
  window.desktop = 0xFFFFFFFF; // sticky
  EXPECT_TRUE(isOnScreen(window, desktop));

  window.stateHidden = true; // minimised
  EXPECT_FALSE(isOnScreen(window, desktop));
  window.stateHidden = false;
  window.viewable = false;
  EXPECT_FALSE(isOnScreen(window, desktop));

  WindowFacts withoutDesktopSupport = visibleWindow(2);
  withoutDesktopSupport.desktop = 5;
  EXPECT_TRUE(isOnScreen(withoutDesktopSupport, DesktopFacts{}));
}

TEST(OwningApplication, ComesFromTheClassThenTheProcess) {
  const ProcessNameLookup lookup = [](std::int32_t pid) -> std::optional<std::string> {
    return pid == 42 ? std::optional<std::string>("firefox-bin") : std::nullopt;
  };

  WindowFacts classed = visibleWindow(1);
  classed.wmClass = WindowClass{"Navigator", "firefox"};
  classed.pid = 42;
  const auto fromClass = owningApplication(classed, lookup);
  ASSERT_TRUE(fromClass.has_value());
  EXPECT_EQ(fromClass->applicationName, "firefox");
  EXPECT_EQ(fromClass->bundleIdentifier, "Navigator");
  EXPECT_EQ(fromClass->processID, 42);

  WindowFacts emptyInstance = classed;
  emptyInstance.wmClass = WindowClass{"", "Firefox"};
  EXPECT_EQ(owningApplication(emptyInstance, lookup)->bundleIdentifier, "firefox-bin");

  WindowFacts pidOnly = visibleWindow(2);
  pidOnly.pid = 42;
  const auto fromProcess = owningApplication(pidOnly, lookup);
  ASSERT_TRUE(fromProcess.has_value());
  EXPECT_EQ(fromProcess->applicationName, "firefox-bin");
  EXPECT_EQ(fromProcess->bundleIdentifier, "firefox-bin");

  EXPECT_FALSE(owningApplication(visibleWindow(3), lookup).has_value());
}

TEST(OwningApplication, InvalidClassBytesAreRepaired) {
  WindowFacts window = visibleWindow(1);
  window.wmClass = WindowClass{"inst\xFF", "Cl\xE9"};
  const auto application = owningApplication(window, noProcess);
  EXPECT_EQ(application->applicationName, "Cl\xEF\xBF\xBD");
  EXPECT_EQ(application->bundleIdentifier, "inst\xEF\xBF\xBD");
}

std::vector<std::uint32_t> ids(const std::vector<SCWindow>& windows) {
  std::vector<std::uint32_t> result;
  for (const SCWindow& window : windows) {
    result.push_back(window.windowID);
  }
  return result;
}

TEST(DescribeWindows, FlagsFilterAndOrderIsKept) {
  WindowFacts normal = visibleWindow(1);
  WindowFacts desktopWindow = visibleWindow(2);
  desktopWindow.types = {WindowType::desktop};
  WindowFacts dock = visibleWindow(3);
  dock.types = {WindowType::dock};
  WindowFacts minimised = visibleWindow(4);
  minimised.stateHidden = true;
  WindowFacts last = visibleWindow(5);
  const std::vector<WindowFacts> all{normal, desktopWindow, dock, minimised, last};

  using testing::ElementsAre;
  EXPECT_THAT(ids(describeWindows(all, {}, false, false, noProcess)),
              ElementsAre(1U, 2U, 3U, 4U, 5U));
  EXPECT_THAT(ids(describeWindows(all, {}, true, false, noProcess)), ElementsAre(1U, 4U, 5U));
  EXPECT_THAT(ids(describeWindows(all, {}, false, true, noProcess)), ElementsAre(1U, 2U, 3U, 5U));
  EXPECT_THAT(ids(describeWindows(all, {}, true, true, noProcess)), ElementsAre(1U, 5U));
}

TEST(DescribeWindows, RecordCarriesTitleFrameAndActiveState) {
  WindowFacts window = visibleWindow(7);
  window.wmName = TextProperty{TextEncoding::latin1, "R\xE9union"};
  const auto records =
      describeWindows({window, visibleWindow(8)}, DesktopFacts{0, 7U}, true, true, noProcess);

  ASSERT_EQ(records.size(), 2U);
  EXPECT_EQ(records[0].title, "R\xC3\xA9union");
  EXPECT_EQ(records[0].frame, (CGRect{10, 20, 300, 200}));
  EXPECT_TRUE(records[0].isActive);
  EXPECT_TRUE(records[0].isOnScreen);
  EXPECT_FALSE(records[1].isActive);
  EXPECT_FALSE(records[1].title.has_value());
  EXPECT_FALSE(records[1].owningApplication.has_value());
}

} // namespace
} // namespace Platform::Linux::X11

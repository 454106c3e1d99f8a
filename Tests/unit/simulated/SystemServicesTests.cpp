#include "Simulated/SimulatedPlatform.h"

#include <gtest/gtest.h>

#include <thread>

namespace Platform::Simulated {
namespace {

TEST(SimulatedSystem, ActivitiesEndWhenTheirTokenIsDestroyed) {
  SimulatedPlatform platform;
  auto& system = *platform.services().system;

  auto first = system.beginActivity(NSActivityIdleSystemSleepDisabled, "Recording screen");
  auto second = system.beginActivity(0, "Other");
  EXPECT_EQ(platform.activeActivityCount(), 2U);
  first.reset();

  const auto activities = platform.activities();
  ASSERT_EQ(activities.size(), 2U);
  EXPECT_EQ(activities[0].options, NSActivityIdleSystemSleepDisabled);
  EXPECT_EQ(activities[0].reason, "Recording screen");
  EXPECT_TRUE(activities[0].isEnded);
  EXPECT_FALSE(activities[1].isEnded);
  EXPECT_EQ(platform.activeActivityCount(), 1U);
  EXPECT_TRUE(platform.callLog().isBefore("beginActivity(Other)", "endActivity(Recording screen)"));
}

TEST(SimulatedSystem, MicrophoneRequestCompletesOnceOnAnotherThread) {
  SimulatedPlatform platform;
  platform.setMicrophoneAccessAnswer(false);
  OneShot<std::pair<bool, std::thread::id>> answer;

  platform.services().system->requestMicrophoneAccess([&answer](bool granted) {
    answer.complete({granted, std::this_thread::get_id()});
  });

  const auto [granted, thread] = answer.wait();
  EXPECT_FALSE(granted);
  EXPECT_NE(thread, std::this_thread::get_id());
  EXPECT_EQ(platform.microphoneAccessRequestCount(), 1);
}

TEST(SimulatedSystem, AnswersFromTheScript) {
  SimulatedPlatform platform;
  auto& system = *platform.services().system;
  EXPECT_FALSE(system.mainBundle());
  EXPECT_TRUE(system.capabilities().streamCapturesMicrophone);

  platform.setCapabilities({.streamCapturesMicrophone = false, .streamHighlightsClicks = true});
  platform.setMainBundle(Bundle{"/opt/App.app", "com.example.app"});
  platform.addBundle(Bundle{"/opt/App.app/Resources.bundle", std::nullopt});
  platform.setOpenURLAnswer(false);
  platform.setMicrophoneAuthorizationStatus(7);

  EXPECT_FALSE(system.capabilities().streamCapturesMicrophone);
  EXPECT_EQ(system.mainBundle()->bundleIdentifier, "com.example.app");
  EXPECT_TRUE(system.bundleAtPath("/opt/App.app/Resources.bundle"));
  EXPECT_FALSE(system.bundleAtPath("/opt/App.app/Missing.bundle"));
  EXPECT_FALSE(system.openURL("x-settings:privacy"));
  EXPECT_EQ(platform.openedURLs(), std::vector<std::string>{"x-settings:privacy"});
  EXPECT_EQ(system.microphoneAuthorizationStatus(), 7);
}

} // namespace
} // namespace Platform::Simulated

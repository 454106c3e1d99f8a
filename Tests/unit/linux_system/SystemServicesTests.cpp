#include "Platform/Linux/System/LinuxSystemServices.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

namespace {

using namespace Platform;

TEST(LinuxSystemServices, StreamsCarryNeitherMicrophoneNorClicks) {
  auto services = Linux::makeLinuxSystemServices([] { return true; }, [] { return true; });
  EXPECT_EQ(services->capabilities(),
            (Capabilities{.streamCapturesMicrophone = false, .streamHighlightsClicks = false}));
}

TEST(LinuxSystemServices, PermissionsFollowTheProbes) {
  std::atomic<bool> audio{true};
  std::atomic<bool> screen{false};
  auto services =
      Linux::makeLinuxSystemServices([&] { return screen.load(); }, [&] { return audio.load(); });
  EXPECT_EQ(services->microphoneAuthorizationStatus(),
            static_cast<std::int64_t>(AVAuthorizationStatus::authorized));
  EXPECT_FALSE(services->preflightScreenCaptureAccess());
  EXPECT_FALSE(services->requestScreenCaptureAccess());

  audio = false;
  screen = true;
  EXPECT_EQ(services->microphoneAuthorizationStatus(),
            static_cast<std::int64_t>(AVAuthorizationStatus::denied));
  EXPECT_TRUE(services->preflightScreenCaptureAccess());
  EXPECT_TRUE(services->requestScreenCaptureAccess());
}

TEST(LinuxSystemServices, MicrophoneRequestCompletesOnceOnAnotherThread) {
  auto services = Linux::makeLinuxSystemServices([] { return true; }, [] { return false; });
  auto calls = std::make_shared<std::atomic<int>>(0);
  auto answer = std::make_shared<std::promise<std::pair<bool, std::thread::id>>>();
  auto result = answer->get_future();
  services->requestMicrophoneAccess([calls, answer](bool granted) {
    if (++*calls == 1) {
      answer->set_value({granted, std::this_thread::get_id()});
    }
  });
  ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  const auto [granted, thread] = result.get();
  EXPECT_FALSE(granted);
  EXPECT_NE(thread, std::this_thread::get_id());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(calls->load(), 1);
}

TEST(LinuxSystemServices, UnknownLinksOpenNothing) {
  auto services = Linux::makeLinuxSystemServices([] { return true; }, [] { return true; });
  EXPECT_FALSE(services->openURL("x-apple.systempreferences:com.apple.other?Privacy_Camera"));
  EXPECT_FALSE(services->openURL("not a url"));
}

TEST(LinuxSystemServices, MainBundleIsTheRunningExecutablesDirectory) {
  auto services = Linux::makeLinuxSystemServices([] { return true; }, [] { return true; });
  const auto bundle = services->mainBundle();
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->bundlePath,
            std::filesystem::read_symlink("/proc/self/exe").parent_path().string());
  EXPECT_TRUE(services->bundleAtPath(bundle->bundlePath));
}

TEST(LinuxSystemServices, ActivityTokensCanBeTakenAndDroppedWithOrWithoutABus) {
  auto services = Linux::makeLinuxSystemServices([] { return true; }, [] { return true; });
  auto idle = services->beginActivity(NSActivityIdleSystemSleepDisabled, "Recording");
  auto other = services->beginActivity(0, "Recording");
  EXPECT_NE(idle, nullptr);
  EXPECT_NE(other, nullptr);
}

} // namespace

#include "Simulated/SimulatedPlatform.h"

#include <gtest/gtest.h>

namespace Platform::Simulated {
namespace {

std::vector<std::string> idsOf(const std::vector<CaptureDeviceRef>& devices) {
  std::vector<std::string> ids;
  for (const auto& device : devices) {
    ids.push_back(device->uniqueID());
  }
  return ids;
}

TEST(Discovery, DevicesAnswerToTheirTypesAndMediaType) {
  SimulatedPlatform platform;
  platform.addAudioDevice({"mic-1", "Microphone", {audioDeviceFormat(1)}});
  platform.addExternalDevice({"phone-1", "Phone", {videoDeviceFormat(1170, 2532)}});
  auto& capture = *platform.services().mediaCapture;
  const auto discover = [&capture](std::vector<AVCaptureDeviceType> types,
                                   std::optional<MediaType> mediaType) {
    return idsOf(capture.discoverDevices(types, mediaType, AVCaptureDevicePosition::unspecified));
  };
  using Ids = std::vector<std::string>;

  EXPECT_EQ(discover({AVCaptureDeviceType::microphone}, MediaType::video), Ids{});
  EXPECT_EQ(discover({AVCaptureDeviceType::external}, std::nullopt), Ids{})
      << "external devices are hidden until allowed";

  capture.allowScreenCaptureDevices();
  EXPECT_EQ(
      discover({AVCaptureDeviceType::microphone, AVCaptureDeviceType::external}, MediaType::audio),
      Ids{"mic-1"});
  EXPECT_EQ(discover({AVCaptureDeviceType::external}, std::nullopt), Ids{"phone-1"});
  EXPECT_EQ(platform.callLog().count("discoverDevices(microphone, external; audio)"), 1U);
}

TEST(Discovery, ShareableContentAppliesItsFlagsAndInjectedError) {
  SimulatedPlatform platform;
  const auto window = [](std::uint32_t id, std::int64_t layer, bool isOnScreen) {
    SCWindow made;
    made.windowID = id;
    made.windowLayer = layer;
    made.isOnScreen = isOnScreen;
    return made;
  };
  platform.addWindow(window(1, -2147483623, true)); // the desktop
  platform.addWindow(window(2, 0, true));
  platform.addWindow(window(3, 0, false));
  auto& screen = *platform.services().screenCapture;

  EXPECT_EQ(screen.shareableContent(true, true).windows.size(), 1U);
  EXPECT_EQ(screen.shareableContent(false, true).windows.size(), 2U);
  EXPECT_EQ(screen.shareableContent(false, false).windows.size(), 3U);

  platform.failShareableContent(
      makeError(ErrorDomain::screenCapture, userDeclinedScreenCaptureCode, "declined"));
  try {
    screen.shareableContent(true, true);
    FAIL() << "no error";
  } catch (const SystemError& error) {
    EXPECT_EQ(error.code(), userDeclinedScreenCaptureCode);
  }
}

} // namespace
} // namespace Platform::Simulated

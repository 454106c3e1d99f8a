#include "Platform/Platform.h"
#include "Simulated/SimulatedPlatform.h"
#include "Vistrel/Devices.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {
std::atomic<int> defaultsMade = 0;
} // namespace

// A default that must never be needed here.
Platform::Services Platform::makeDefaultServices() {
  ++defaultsMade;
  return {};
}

namespace {

TEST(InstalledPlatform, InstalledBeforeFirstUseKeepsTheDefaultUnmade) {
  Platform::Simulated::SimulatedPlatform platform;
  platform.addAudioDevice({.uniqueID = "usb-7", .localizedName = "Headset", .formats = {}});
  Platform::install(platform.services());
  const auto devices = Vistrel::Devices::audio();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].id, "usb-7");
  EXPECT_EQ(defaultsMade, 0);
}

} // namespace

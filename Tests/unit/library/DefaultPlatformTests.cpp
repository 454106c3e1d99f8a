#include "Platform/Platform.h"
#include "Simulated/SimulatedPlatform.h"
#include "Vistrel/Devices.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

// This program's default platform, as a packaged library defines it: a
// simulated one with one microphone. The first attempt fails, as a default
// platform may when the system is not ready.
namespace {
std::atomic<int> defaultsMade = 0;
std::unique_ptr<Platform::Simulated::SimulatedPlatform> defaultPlatform;
} // namespace

Platform::Services Platform::makeDefaultServices() {
  if (defaultsMade++ == 0)
    throw std::runtime_error("audio server not ready");
  defaultPlatform = std::make_unique<Simulated::SimulatedPlatform>();
  defaultPlatform->addAudioDevice(
      {.uniqueID = "mic-1", .localizedName = "Desk microphone", .formats = {}});
  return defaultPlatform->services();
}

namespace {

// One sequence, since the choice is made once per process.
TEST(DefaultPlatform, IsMadeOnFirstUseOnceThenReplaceable) {
  // A failing default reaches the caller and leaves the choice open.
  EXPECT_THROW(Vistrel::Devices::audio(), std::runtime_error);
  EXPECT_EQ(defaultsMade, 1);

  // Threads racing to the first use share one default.
  std::vector<std::thread> threads;
  std::atomic<int> found = 0;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      const auto devices = Vistrel::Devices::audio();
      if (devices.size() == 1 && devices[0].id == "mic-1")
        ++found;
    });
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(found, 4);
  EXPECT_EQ(defaultsMade, 2);

  // Installing later replaces the default and never makes it again.
  Platform::Simulated::SimulatedPlatform replacement;
  Platform::install(replacement.services());
  EXPECT_TRUE(Vistrel::Devices::audio().empty());
  EXPECT_EQ(defaultsMade, 2);
}

} // namespace

#include "Platform/Platform.h"
#include "Vistrel/Devices.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// The engine alone bundles no platform: a program that forgets to install
// one gets an exception it can report, on every use, never an abort.
TEST(NoDefaultPlatform, UseWithoutInstallingThrows) {
  EXPECT_THROW(Vistrel::Devices::audio(), std::logic_error);
  EXPECT_THROW(Platform::system(), std::logic_error);
  EXPECT_THROW(Vistrel::Devices::screen(), std::logic_error);
}

} // namespace

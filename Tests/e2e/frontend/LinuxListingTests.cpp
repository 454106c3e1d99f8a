#include "support/DemoWindow.h"
#include "support/Subprocess.h"
#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

// "meetings" and "audio-devices" on a private desktop, as the parent
// application reads them.

namespace {

TEST(LinuxListing, WindowsAndMicrophonesOfTheDesktopAreListedAsJSON) {
  TestSupport::VirtualDesktop desktop;
  const std::string quotedTitle = "Retro \"Q4\" — Überblick";
  TestSupport::DemoWindow titled({"--title", quotedTitle, "--class", "Meetings"},
                                 desktop.environment());
  TestSupport::DemoWindow untitled({"--no-title", "--class", "Notes", "--position", "300,200"},
                                   desktop.environment());

  const auto meetings = TestSupport::run({TARSEL_HELPER, "meetings"}, desktop.environment());
  ASSERT_EQ(meetings.status, 0) << meetings.output;
  ASSERT_EQ(meetings.output.back(), '\n');
  std::map<std::string, std::string> titles;
  for (const auto& window : nlohmann::json::parse(meetings.output)) {
    ASSERT_EQ(window.size(), 2U);
    titles[window.at("id")] = window.at("title");
  }
  EXPECT_EQ(titles[titled.idText()], "Meetings | " + quotedTitle);
  EXPECT_EQ(titles[untitled.idText()], "Notes | ");

  const auto devices = TestSupport::run({TARSEL_HELPER, "audio-devices"}, desktop.environment());
  ASSERT_EQ(devices.status, 0) << devices.output;
  const auto listed = nlohmann::json::parse(devices.output);
  ASSERT_EQ(listed.size(), 1U) << "the microphone, and no monitor of a sink";
  EXPECT_EQ(listed[0].at("id"), "virtual_mic");
  EXPECT_EQ(listed[0].at("name"), "Virtual Microphone");
}

} // namespace

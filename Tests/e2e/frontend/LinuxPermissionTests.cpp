#include "support/Subprocess.h"
#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using TestSupport::run;
using TestSupport::RunResult;

struct Expected {
  std::string command;
  std::string output;
};

void expectAnswers(const std::map<std::string, std::string>& environment,
                   const std::vector<Expected>& expectations) {
  for (const Expected& expected : expectations) {
    const RunResult result = run({TARSEL_HELPER, expected.command}, environment);
    EXPECT_EQ(result.output, expected.output) << expected.command;
    EXPECT_EQ(result.status, 0) << expected.command;
  }
}

TEST(LinuxPermissions, GrantedWhenTheDesktopAndAudioServerAcceptUs) {
  TestSupport::VirtualDesktop desktop;
  expectAnswers(desktop.environment(), {{"is-recording-allowed", "true\n"},
                                        {"request-recording-access", "true\n"},
                                        {"is-microphone-allowed", "authorized\n"},
                                        {"request-microphone-access", "true\n"},
                                        {"open-microphone-settings", ""},
                                        {"open-recording-settings", ""}});
}

TEST(LinuxPermissions, RefusedWithoutDisplayOrAudioServer) {
  TestSupport::TemporaryDirectory nowhere;
  expectAnswers({{"DISPLAY", ":" + std::to_string(9000 + getpid() % 500)},
                 {"PULSE_SERVER", "unix:" + nowhere.path() + "/native"}},
                {{"is-recording-allowed", "false\n"},
                 {"request-recording-access", "false\n"},
                 {"is-microphone-allowed", "denied\n"},
                 {"request-microphone-access", "false\n"},
                 {"open-recording-settings", ""}});
}

TEST(LinuxPermissions, OnAWaylandDesktopRecordingIsAllowedWhileItsScreenCastPortalAnswers) {
  std::string whyNot;
  const auto desktop = TestSupport::VirtualDesktop::waylandIfPossible(whyNot);
  if (!desktop) {
    GTEST_SKIP() << "No Wayland test desktop here: " << whyNot;
  }
  auto environment = desktop->environment();
  expectAnswers(environment,
                {{"is-recording-allowed", "true\n"}, {"request-recording-access", "true\n"}});

  // The session is Wayland, so no X display stands in for a missing portal.
  TestSupport::TemporaryDirectory nowhere;
  environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + nowhere.path() + "/bus";
  expectAnswers(environment,
                {{"is-recording-allowed", "false\n"}, {"request-recording-access", "false\n"}});
}

} // namespace

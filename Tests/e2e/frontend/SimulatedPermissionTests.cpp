#include "support/Subprocess.h"
#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>

#include <fstream>

// The permission commands against scripted platform answers.

namespace {

struct Answer {
  std::string command;
  std::string output;
};

void expectAnswers(const std::string& scenario, const std::vector<Answer>& answers) {
  TestSupport::TemporaryDirectory directory;
  const std::string path = directory.path() + "/scenario.json";
  std::ofstream(path) << scenario;
  for (const Answer& answer : answers) {
    const auto result =
        TestSupport::run({TARSEL_HELPER_SIMULATED, answer.command}, {{"TARSEL_SIMULATION", path}});
    EXPECT_EQ(result.output, answer.output) << answer.command << " with " << scenario;
    EXPECT_EQ(result.status, 0) << answer.command;
  }
}

TEST(SimulatedPermissions, MicrophoneStatesPrintTheirCaseNames) {
  const std::vector<std::pair<int, std::string>> states = {
      {0, "notDetermined"}, {1, "restricted"}, {2, "denied"}, {3, "authorized"}, {7, "restricted"}};
  for (const auto& [number, name] : states) {
    expectAnswers(R"({"permissions": {"microphoneStatus": )" + std::to_string(number) + "}}",
                  {{"is-microphone-allowed", name + "\n"}});
  }
}

TEST(SimulatedPermissions, RequestsPrintThePlatformsAnswer) {
  expectAnswers(R"({"permissions": {"microphoneRequest": false, "screenCapture": false,
                                    "screenCaptureRequest": true}})",
                {{"request-microphone-access", "false\n"},
                 {"is-recording-allowed", "false\n"},
                 {"request-recording-access", "true\n"}});
  expectAnswers(R"({"permissions": {"microphoneRequest": true, "screenCapture": true,
                                    "screenCaptureRequest": false}})",
                {{"request-microphone-access", "true\n"},
                 {"is-recording-allowed", "true\n"},
                 {"request-recording-access", "false\n"}});
}

TEST(SimulatedPermissions, SettingsPagesPrintNothingWhetherOrNotTheyOpen) {
  for (const std::string opens : {"true", "false"}) {
    expectAnswers(R"({"openURL": )" + opens + "}",
                  {{"open-microphone-settings", ""}, {"open-recording-settings", ""}});
  }
}

TEST(SimulatedPermissions, BundleIdentifierOfTheMainBundle) {
  expectAnswers(
      R"({"mainBundle": {"path": "/opt/Tarsel.app", "identifier": "com.example.tarsel"}})",
      {{"bundle-id", "Bundle ID: com.example.tarsel\n"}});
  expectAnswers(R"({"mainBundle": {"path": "/opt/tools"}})",
                {{"bundle-id", "No bundle ID found\n"}});
}

} // namespace

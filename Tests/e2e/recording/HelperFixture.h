#pragma once

#include "support/Subprocess.h"
#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>

// The helper as the parent application runs it, on one private virtual
// desktop shared by the tests of a suite.

namespace HelperTesting {

using namespace std::chrono_literals;
using TestSupport::Subprocess;

class HelperTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { desktop = std::make_unique<TestSupport::VirtualDesktop>(); }
  static void TearDownTestSuite() { desktop.reset(); }

  static const std::map<std::string, std::string>& environment() { return desktop->environment(); }

  static std::unique_ptr<Subprocess> start(const std::string& window, const std::string& microphone,
                                           const std::string& file) {
    return std::make_unique<Subprocess>(
        std::vector<std::string>{TARSEL_HELPER, "start", window, microphone, file}, environment());
  }

  static std::string line(Subprocess& helper) { return helper.readLine(20s).value_or("<no line>"); }

  // Waits for the two lines of a started recording.
  static void expectStarted(Subprocess& helper, const std::string& file) {
    ASSERT_EQ(line(helper).rfind("File path: file://", 0), 0U) << file;
    ASSERT_EQ(line(helper), "Recording started! Press Ctrl+C to stop.");
  }

  static void expectInterruptLines(Subprocess& helper) {
    EXPECT_EQ(line(helper), "");
    EXPECT_EQ(line(helper), "Received interrupt. Stopping recording...");
  }

  static void expectFinishedAfter(Subprocess& helper, int signalNumber) {
    helper.signal(signalNumber);
    expectInterruptLines(helper);
    EXPECT_EQ(line(helper), "Finished recording:");
    EXPECT_EQ(helper.wait(20s), 0);
  }

  static void expectFinishedAfterInterrupt(Subprocess& helper) {
    expectFinishedAfter(helper, SIGINT);
  }

  static std::unique_ptr<TestSupport::VirtualDesktop> desktop;
  TestSupport::TemporaryDirectory directory;
};

inline std::unique_ptr<TestSupport::VirtualDesktop> HelperTest::desktop;

} // namespace HelperTesting

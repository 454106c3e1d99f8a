#pragma once

#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// Tests that share one private Wayland desktop for their suite, and skip
// where none can start here (a machine without a compositor is no fault).
class WaylandDesktopTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    desktop_ = TestSupport::VirtualDesktop::waylandIfPossible(skipReason_);
  }
  static void TearDownTestSuite() { desktop_.reset(); }

  void SetUp() override {
    if (!desktop_) {
      GTEST_SKIP() << "No Wayland test desktop here: " << skipReason_;
    }
  }

  static inline std::unique_ptr<TestSupport::VirtualDesktop> desktop_;
  static inline std::string skipReason_;
};

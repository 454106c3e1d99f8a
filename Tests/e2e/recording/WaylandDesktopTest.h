#pragma once

#include "support/VirtualDesktop.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

// Tests that share one private Wayland desktop of the compositor they are
// instantiated with, and skip where it cannot start here (a machine without
// a compositor is no fault). The desktop is kept for the next test of the
// same compositor, and stopped before another one starts: one desktop at a
// time keeps the machine free for the timing the tests measure.
class WaylandDesktopTest : public testing::TestWithParam<TestSupport::VirtualDesktop::Compositor> {
protected:
  void SetUp() override {
    const auto compositor = GetParam();
    if (compositor != started_) {
      desktop_.reset();
      skipReason_.clear();
      desktop_ = TestSupport::VirtualDesktop::waylandIfPossible(skipReason_, {}, {compositor});
      started_ = compositor;
    }
    if (!desktop_) {
      GTEST_SKIP() << "No Wayland test desktop here: " << skipReason_;
    }
  }

  // Stops the shared desktop, for a test that starts one of its own.
  static void releaseDesktop() {
    desktop_.reset();
    started_.reset();
  }

  static inline std::unique_ptr<TestSupport::VirtualDesktop> desktop_;
  static inline std::string skipReason_;

private:
  static inline std::optional<TestSupport::VirtualDesktop::Compositor> started_;
};

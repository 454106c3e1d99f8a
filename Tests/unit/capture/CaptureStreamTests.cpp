#include "Platform/Linux/Capture/CaptureErrors.h"
#include "Platform/Linux/Capture/CaptureSource.h"
#include "Platform/Linux/Capture/CaptureStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Platform::Linux::Capture::CaptureSource;
using Platform::Linux::Capture::CaptureStream;

// A stop is never lost to a start, whenever it comes: during the start (one
// waiting on the user's pick in the desktop's dialog), or before the start
// has begun, which is what a stop that races the start's call finds.
TEST(CaptureStreamStart, AStopDuringOrBeforeTheStartMakesItGiveUp) {
  std::atomic<int> picks{0};
  std::promise<void> picking;
  const auto waitForThePick = [&](std::stop_token cancel) -> std::unique_ptr<CaptureSource> {
    ++picks;
    picking.set_value();
    while (!cancel.stop_requested()) {
      std::this_thread::sleep_for(1ms);
    }
    Platform::Linux::Capture::throwCaptureError(
        Platform::Linux::Capture::CaptureErrorCode::failedToStart, "The pick was cancelled");
  };

  auto during =
      std::make_shared<CaptureStream>(waitForThePick, nullptr, Platform::SCStreamConfiguration{},
                                      std::weak_ptr<Platform::SCStreamDelegate>{});
  auto started = std::async(std::launch::async, [&] { during->startCapture(); });
  picking.get_future().wait();
  during->stopCapture();
  ASSERT_EQ(started.wait_for(5s), std::future_status::ready);
  EXPECT_THROW(started.get(), Platform::Error);

  const auto pickAtOnce = [&](std::stop_token) -> std::unique_ptr<CaptureSource> {
    ++picks;
    Platform::Linux::Capture::throwCaptureError(
        Platform::Linux::Capture::CaptureErrorCode::failedToStart, "Nothing was picked");
  };
  auto before =
      std::make_shared<CaptureStream>(pickAtOnce, nullptr, Platform::SCStreamConfiguration{},
                                      std::weak_ptr<Platform::SCStreamDelegate>{});
  EXPECT_THROW(before->stopCapture(), Platform::Error) << "nothing to stop yet";
  EXPECT_THROW(before->startCapture(), Platform::Error);
  EXPECT_EQ(picks, 1) << "the start gave up before asking for a pick";
}

} // namespace

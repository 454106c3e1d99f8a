#include "stop_signals.h"

#include "Platform/Dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace {

// Each stop signal, the parent's death and a closed pipe, in this process:
// the signals must reach the main queue instead of ending the process.
TEST(StopSignals, EverySignalReachesTheMainQueueOnceAndNoneEndsTheProcess) {
  App::catchStopSignals();
  // Caught before anyone delivers them, as when the parent signals at once.
  ASSERT_EQ(raise(SIGINT), 0);
  int delivered = 0;
  std::atomic<int> seenAtOnce{0};
  App::deliverStopSignals([&delivered] { ++delivered; }, [&seenAtOnce] { ++seenAtOnce; });
  ASSERT_EQ(raise(SIGTERM), 0);
  ASSERT_EQ(raise(SIGHUP), 0);
  // What cannot wait is told while the main queue is busy (here: not run).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (seenAtOnce < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(seenAtOnce, 3);
  EXPECT_EQ(delivered, 0);
  Platform::runMainQueueUntil([&delivered] { return delivered == 3; });
  EXPECT_EQ(delivered, 3);

  int parentDeathSignal = 0;
  ASSERT_EQ(prctl(PR_GET_PDEATHSIG, &parentDeathSignal), 0);
  EXPECT_EQ(parentDeathSignal, SIGTERM);

  int unread[2];
  ASSERT_EQ(pipe(unread), 0);
  close(unread[0]);
  const char byte = 0;
  EXPECT_EQ(write(unread[1], &byte, 1), -1);
  EXPECT_EQ(errno, EPIPE) << "a closed reader is an error to handle, not a death";
  close(unread[1]);
}

} // namespace

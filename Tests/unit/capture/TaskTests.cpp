#include "Platform/Dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>

// Tasks whose work may wait on another process for good: a bounded wait
// reports which pieces ended, and what did not end goes on to its end.

namespace {

using namespace std::chrono_literals;

TEST(Tasks, ABoundedWaitTellsWhichPiecesEndedAndLetsTheOthersFinishLater) {
  const auto release = std::make_shared<Platform::OneShot<Platform::Done>>();
  const auto lateEnded = std::make_shared<Platform::OneShot<Platform::Done>>();
  std::atomic<int> quickRuns = 0;
  std::vector<std::function<void()>> work;
  work.emplace_back([&quickRuns] { ++quickRuns; });
  work.emplace_back([release, lateEnded] {
    release->wait(); // a server that does not answer
    lateEnded->complete({});
  });
  work.emplace_back([] { throw std::runtime_error("failed at once"); });

  const std::vector<bool> ended = Platform::runTasksWithin(std::move(work), 200ms);
  EXPECT_EQ(ended, (std::vector<bool>{true, false, true})) << "a failure ends its piece too";
  EXPECT_EQ(quickRuns, 1);
  EXPECT_FALSE(lateEnded->isCompleted());
  release->complete({});
  EXPECT_TRUE(lateEnded->waitFor(5s).has_value()) << "the piece left behind still runs";
}

} // namespace

#include "Platform/Linux/Pulse/SourceReconnection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using Platform::Linux::Pulse::SourceReconnection;
using namespace std::chrono_literals;

namespace {

// A capture whose source comes and goes as the test says; it notes what the
// watcher asked of it.
class ScriptedCapture final : public SourceReconnection::Capture {
public:
  std::atomic<bool> recording{true};
  std::atomic<bool> lost{false};
  std::atomic<bool> sourceIsBack{true};
  std::atomic<bool> defaultMoves{false};

  bool isRecording() const override { return recording; }
  bool isLost() const override { return lost; }
  void closeLostStream() override {
    note("closeLost");
    recording = false;
    lost = false;
  }
  void closeStream() override {
    note("close");
    recording = false;
  }
  void recordAgain() override {
    note("recordAgain");
    recording = sourceIsBack.load();
  }
  void fillSilence() override { note("silence"); }
  void fillStall() override { note("stall"); }
  void reportClock() override {}
  bool defaultSinkMoved() override {
    note("defaultCheck");
    return defaultMoves.exchange(false);
  }
  void refreshMonitorLead() override { note("lead"); }

  // What was asked since the last call.
  std::vector<std::string> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(calls_, {});
  }
  bool waitFor(const std::string& call) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(
        lock, 10s, [&] { return std::find(calls_.begin(), calls_.end(), call) != calls_.end(); });
  }

private:
  void note(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> calls_;
};

using Calls = std::vector<std::string>;
const SourceReconnection::Clock::time_point t0{1000s};

TEST(SourceReconnection, AwaySourceIsSilenceAtEveryRoundAndIsTriedAgainEveryQuarterSecond) {
  ScriptedCapture capture;
  SourceReconnection reconnection(capture, false);
  capture.recording = false;
  capture.sourceIsBack = false;
  reconnection.tend(t0);
  EXPECT_EQ(capture.take(), (Calls{"silence", "recordAgain"}));
  reconnection.tend(t0 + 20ms);
  reconnection.tend(t0 + 240ms);
  EXPECT_EQ(capture.take(), (Calls{"silence", "silence"}));
  capture.sourceIsBack = true;
  reconnection.tend(t0 + 260ms);
  EXPECT_EQ(capture.take(), (Calls{"silence", "recordAgain"}));
  // Back: a stream that delivers nothing is filled, a microphone never
  // looks at the default sink.
  reconnection.tend(t0 + 360ms);
  reconnection.tend(t0 + 2s);
  EXPECT_EQ(capture.take(), (Calls{"stall", "stall"}));
}

TEST(SourceReconnection, LostStreamIsClosedAndItsSourceTriedAgainInTheSameRound) {
  ScriptedCapture capture;
  SourceReconnection reconnection(capture, false);
  reconnection.tend(t0);
  capture.take();
  capture.lost = true;
  capture.sourceIsBack = false;
  reconnection.tend(t0 + 100ms);
  EXPECT_EQ(capture.take(), (Calls{"closeLost", "silence", "recordAgain"}));
}

TEST(SourceReconnection, SystemAudioLooksForANewDefaultSinkTwiceASecondAndMovesToIt) {
  ScriptedCapture capture;
  SourceReconnection reconnection(capture, true);
  reconnection.tend(t0);
  EXPECT_EQ(capture.take(), (Calls{"stall", "defaultCheck", "lead"}));
  reconnection.tend(t0 + 400ms);
  EXPECT_EQ(capture.take(), (Calls{"stall"}));
  capture.defaultMoves = true;
  reconnection.tend(t0 + 500ms);
  EXPECT_EQ(capture.take(), (Calls{"stall", "defaultCheck", "close", "recordAgain"}));
  // Recording the new sink straight away; the next attempt, had it failed,
  // would wait its quarter second.
  reconnection.tend(t0 + 600ms);
  EXPECT_EQ(capture.take(), (Calls{"stall"}));
}

TEST(SourceReconnection, WatcherSeesALossAndNothingIsAskedAfterTheStop) {
  ScriptedCapture capture;
  SourceReconnection reconnection(capture, false);
  capture.sourceIsBack = false;
  reconnection.start();
  capture.lost = true;
  reconnection.wake();
  EXPECT_TRUE(capture.waitFor("closeLost"));
  EXPECT_TRUE(capture.waitFor("recordAgain"));
  reconnection.stop();
  capture.take();
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(capture.take().empty());
}

} // namespace

#include "Platform/Linux/Pulse/SourceReconnection.h"

namespace Platform::Linux::Pulse {

namespace {
// How often the watcher looks for a stalled source and a moved default sink
// while recording, and how often it fills silence and tries to record again
// while the source is away.
constexpr std::chrono::milliseconds recordingWatchPeriod{100};
constexpr std::chrono::milliseconds awayWatchPeriod{20};
// Between attempts to record again; together with connecting, well within
// the 2 s in which a restarted server should be heard again.
constexpr std::chrono::milliseconds retryPeriod{250};
// How often system audio checks which sink is the default one.
constexpr std::chrono::milliseconds defaultSinkCheckPeriod{500};
} // namespace

SourceReconnection::SourceReconnection(Capture& capture, bool followsDefaultSink)
    : capture_(capture), followsDefaultSink_(followsDefaultSink) {}

void SourceReconnection::start() {
  watcher_ = std::thread([this] { watch(); });
}

void SourceReconnection::stop() {
  {
    Lock lock(mutex_);
    stopping_ = true;
  }
  woken_.notify_all();
  if (watcher_.joinable()) {
    watcher_.join();
  }
}

void SourceReconnection::wake() {
  // Taken so that the watcher is either before its check of the loss or
  // already waiting: the notification cannot fall between the two.
  { Lock lock(mutex_); }
  woken_.notify_all();
}

void SourceReconnection::watch() {
  Lock lock(mutex_);
  while (!stopping_) {
    const bool recording = capture_.isRecording();
    const auto deadline = Clock::now() + (recording ? recordingWatchPeriod : awayWatchPeriod);
    while (!stopping_ && !(recording && capture_.isLost()) && Clock::now() < deadline) {
      lock.waitUntil(woken_, deadline);
    }
    if (stopping_) {
      return;
    }
    lock.unlock();
    const auto now = Clock::now();
    // Woken a whole period past its deadline, the watcher was not run, nor
    // were the stream's reads (the process was stopped or starved): its
    // sound waits in the server's queue and is read next, not a stall.
    tend(now, now - deadline < recordingWatchPeriod);
    lock.lock();
  }
}

void SourceReconnection::tend(Clock::time_point now, bool onTime) {
  if (capture_.isRecording() && capture_.isLost()) {
    capture_.closeLostStream();
  }
  if (!capture_.isRecording()) {
    capture_.fillSilence();
    if (now >= nextAttempt_) {
      nextAttempt_ = now + retryPeriod;
      capture_.recordAgain();
    }
    return;
  }
  if (onTime) {
    capture_.fillStall();
  }
  capture_.reportClock();
  if (followsDefaultSink_ && now >= nextDefaultCheck_) {
    nextDefaultCheck_ = now + defaultSinkCheckPeriod;
    if (capture_.defaultSinkMoved()) {
      capture_.closeStream();
      nextAttempt_ = now + retryPeriod;
      capture_.recordAgain();
    } else {
      capture_.refreshMonitorLead();
    }
  }
}

} // namespace Platform::Linux::Pulse

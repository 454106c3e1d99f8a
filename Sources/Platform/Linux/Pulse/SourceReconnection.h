#pragma once

#include "Platform/ThreadSafety.h"

#include <chrono>
#include <condition_variable>
#include <thread>

// The watcher of an audio capture: it keeps the capture's source recorded
// while the source comes and goes. A lost stream is closed and silence
// stands in while the source is away, with an attempt to record again every
// so often; a stream that delivers nothing is filled with silence, and one
// that does has its clock told; system audio follows the default sink to whichever sink is the
// default now.
//
// Thread contract: start() and stop() from the capture's owner; wake() from
// any thread (a stream's state callback). Every call into the Capture comes
// from the watcher's own thread, one at a time, until stop() returns.

namespace Platform::Linux::Pulse {

class SourceReconnection {
public:
  using Clock = std::chrono::steady_clock;

  // What the watcher asks of the capture it keeps recording.
  class Capture {
  public:
    virtual bool isRecording() const = 0; // a stream is open
    virtual bool isLost() const = 0;      // the open stream failed
    // Says what was lost and closes the stream.
    virtual void closeLostStream() = 0;
    virtual void closeStream() = 0;
    // Opens a stream of the source again, if it is back; stays away if not.
    virtual void recordAgain() = 0;
    // Silence up to about now while no stream is open.
    virtual void fillSilence() = 0;
    // Silence while the open stream has delivered nothing for too long.
    virtual void fillStall() = 0;
    // Says how the open stream's clock runs, when there is news of it.
    virtual void reportClock() = 0;
    // Whether the default sink is another one than the one recorded.
    virtual bool defaultSinkMoved() = 0;
    // Streams joining or leaving a sink change its latency.
    virtual void refreshMonitorLead() = 0;

  protected:
    ~Capture() = default;
  };

  SourceReconnection(Capture& capture, bool followsDefaultSink);
  ~SourceReconnection() { stop(); }
  SourceReconnection(const SourceReconnection&) = delete;
  SourceReconnection& operator=(const SourceReconnection&) = delete;

  void start();
  // Returns once the watcher has ended; no call into the Capture follows.
  void stop() EXCLUDES(mutex_);
  // A stream was lost: the watcher sees to it now rather than at its next
  // round.
  void wake() EXCLUDES(mutex_);

  // One round of the watcher at `now`; the watcher runs one every period.
  // A round that is not `onTime` (the watcher ran a period late) leaves
  // stalls for the next one to judge.
  void tend(Clock::time_point now, bool onTime = true);

private:
  void watch() EXCLUDES(mutex_);

  Capture& capture_;
  const bool followsDefaultSink_;
  Clock::time_point nextAttempt_{};
  Clock::time_point nextDefaultCheck_{};
  std::thread watcher_;
  Mutex mutex_;
  std::condition_variable woken_;
  bool stopping_ GUARDED_BY(mutex_) = false;
};

} // namespace Platform::Linux::Pulse

#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Platform {

// A queue that runs submitted work: the main queue (drained by the main
// thread), the global concurrent queue (a small thread pool) or a serial queue
// made by label that runs on the global pool one item at a time.
// A DispatchQueue is a cheap, copyable handle; the queue lives while a handle
// does. Every member may be called from any thread.
class DispatchQueue {
public:
  static DispatchQueue main();
  static DispatchQueue global();
  static DispatchQueue serial(std::string label);

  // Runs `work` on the queue later; never blocks and never runs it inline.
  void async(std::function<void()> work) const;

  const std::string& label() const;
  bool isSerial() const;

  // A serial queue whose work runs on this queue's threads: for a producer
  // that must deliver its items in order onto a concurrent queue.
  DispatchQueue serialTarget(std::string label) const;

  struct Impl;

private:
  explicit DispatchQueue(std::shared_ptr<Impl> impl);
  std::shared_ptr<Impl> impl_;
};

// Hands the calling (main) thread to the main queue for good.
[[noreturn]] void dispatch_main();

// Runs the main queue on the calling thread until `done` returns true after a
// work item. For a process entry that awaits on the main queue before it
// either exits or parks in dispatch_main.
void runMainQueueUntil(const std::function<bool()>& done);

// A pending wait completed exactly once, from any thread. A second completion
// is a no-op that reports false. Waiting blocks the calling thread.
template <typename T> class OneShot {
public:
  bool complete(T value) {
    // Notified under the lock: a waiter that sees the value may destroy this
    // handle at once, so nothing may touch it after the lock is released.
    std::lock_guard lock(mutex_);
    if (value_) {
      return false;
    }
    value_.emplace(std::move(value));
    completed_.notify_all();
    return true;
  }

  bool isCompleted() const {
    std::lock_guard lock(mutex_);
    return value_.has_value();
  }

  // Blocks until completed, then returns a copy of the value.
  T wait() const {
    std::unique_lock lock(mutex_);
    completed_.wait(lock, [this] { return value_.has_value(); });
    return *value_;
  }

  // Blocks until completed or until `timeout` has passed; the value, or
  // nothing on timeout.
  template <typename Rep, typename Period>
  std::optional<T> waitFor(std::chrono::duration<Rep, Period> timeout) const {
    std::unique_lock lock(mutex_);
    if (!completed_.wait_for(lock, timeout, [this] { return value_.has_value(); })) {
      return std::nullopt;
    }
    return *value_;
  }

private:
  mutable std::mutex mutex_;
  mutable std::condition_variable completed_;
  std::optional<T> value_;
};

// A completion without a value.
struct Done {};

} // namespace Platform

namespace Platform {

// Starts an asynchronous task on a thread of its own: for work that awaits
// (blocks) and so must not hold a queue's thread. The process owns the
// thread: finished tasks are joined as later ones start, the rest when the
// process ends normally (an exit that skips that leaves them be).
void startTask(std::function<void()> work);

// Runs each piece of `work` as a task of its own, side by side, and waits
// for them at most `patience` in all: which of them ended in time. Work that
// did not goes on, owned like any task, so it must keep alive what it uses:
// for calls that may wait on another process.
std::vector<bool> runTasksWithin(std::vector<std::function<void()>> work,
                                 std::chrono::milliseconds patience);

} // namespace Platform

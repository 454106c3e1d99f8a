#pragma once

#include "Platform/ThreadSafety.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>

// Lets a capture promise that, once it is closed, no further sample reaches
// an output: work queued before the close finds the gate closed and skips its
// delivery, and closing waits for deliveries already running. A capture that
// ends can first drain it, so that what it captured before the end still
// arrives. It also counts the deliveries still queued, so a producer can hold
// back when its consumer falls behind.
//
// Thread contract: every member may be called from any thread. close() and
// drain() may be called from inside a delivery of the same gate (an output
// that stops its capture); close() then waits for the other deliveries only,
// and drain() returns at once, since what is queued behind the caller cannot
// run before it returns.

namespace Platform {

// Made with std::make_shared: queued work holds the gate.
class DeliveryGate : public std::enable_shared_from_this<DeliveryGate> {
public:
  // Marks one delivery as queued and returns the work that performs it:
  // `deliver` runs unless the gate was closed before the work ran.
  std::function<void()> wrap(std::function<void()> deliver);

  // Deliveries queued or running.
  std::size_t outstanding() const;

  // Waits until every delivery queued so far has run, for at most
  // `patience`.
  void drain(std::chrono::milliseconds patience);

  // No delivery starts after this returns, and none is running.
  void close();

  bool isOpen() const;

private:
  mutable Mutex mutex_;
  std::condition_variable idle_;
  bool open_ GUARDED_BY(mutex_) = true;
  std::size_t queued_ GUARDED_BY(mutex_) = 0;
  std::size_t running_ GUARDED_BY(mutex_) = 0;
};

} // namespace Platform

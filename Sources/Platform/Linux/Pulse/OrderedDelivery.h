#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// A thread of its own that runs posted work one item at a time, in order.
// It keeps the audio server's main loop free of the receivers' work, and lets
// a receiver stop its capture from inside a callback.
//
// Thread contract: post and close may be called from any thread, close also
// from inside a posted item.

namespace Platform::Linux::Pulse {

class OrderedDelivery {
public:
  OrderedDelivery();
  ~OrderedDelivery();
  OrderedDelivery(const OrderedDelivery&) = delete;
  OrderedDelivery& operator=(const OrderedDelivery&) = delete;

  // Queues `work`; ignored once closed.
  void post(std::function<void()> work);

  // Runs what is queued, then ends the thread; returns once the last item has
  // run. From inside an item, drops what is still queued and returns at once:
  // no further item runs after the current one.
  void close();

private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> queue;
    bool closed = false;
  };
  static void run(const std::shared_ptr<State>& state);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

} // namespace Platform::Linux::Pulse

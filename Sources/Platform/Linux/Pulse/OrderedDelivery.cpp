#include "Platform/Linux/Pulse/OrderedDelivery.h"

namespace Platform::Linux::Pulse {

OrderedDelivery::OrderedDelivery()
    : state_(std::make_shared<State>()), thread_([state = state_] { run(state); }) {}

OrderedDelivery::~OrderedDelivery() {
  close();
}

void OrderedDelivery::post(std::function<void()> work) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->closed) {
      return;
    }
    state_->queue.push_back(std::move(work));
  }
  state_->changed.notify_one();
}

void OrderedDelivery::close() {
  const bool onOwnThread = std::this_thread::get_id() == thread_.get_id();
  {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    if (onOwnThread) {
      state_->queue.clear();
    }
  }
  state_->changed.notify_one();
  if (!thread_.joinable()) {
    return;
  }
  if (onOwnThread) {
    // The thread owns its state and ends after the current item.
    thread_.detach();
  } else {
    thread_.join();
  }
}

void OrderedDelivery::run(const std::shared_ptr<State>& state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    state->changed.wait(lock, [&state] { return state->closed || !state->queue.empty(); });
    if (state->queue.empty()) {
      return;
    }
    auto work = std::move(state->queue.front());
    state->queue.pop_front();
    lock.unlock();
    work();
    lock.lock();
  }
}

} // namespace Platform::Linux::Pulse

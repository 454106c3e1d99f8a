#include "Platform/DeliveryGate.h"

namespace Platform {

namespace {

// The gate whose delivery the current thread is inside, if any.
thread_local const DeliveryGate* deliveringGate = nullptr;

} // namespace

std::function<void()> DeliveryGate::wrap(std::function<void()> deliver) {
  {
    Lock lock(mutex_);
    ++queued_;
  }
  // The work keeps the gate alive: it may run after its stream is gone.
  return [gate = shared_from_this(), deliver = std::move(deliver)] {
    bool open = false;
    {
      Lock lock(gate->mutex_);
      --gate->queued_;
      open = gate->open_;
      gate->running_ += open ? 1 : 0;
    }
    if (!open) {
      gate->idle_.notify_all(); // one fewer for a drain to wait for
      return;
    }
    // Leaves the delivery even if the output throws, so close() cannot hang.
    struct Leave {
      DeliveryGate& gate;
      const DeliveryGate* outer;
      ~Leave() {
        deliveringGate = outer;
        {
          Lock lock(gate.mutex_);
          --gate.running_;
        }
        gate.idle_.notify_all();
      }
    } leave{*gate, deliveringGate};
    deliveringGate = gate.get();
    deliver();
  };
}

std::size_t DeliveryGate::outstanding() const {
  Lock lock(mutex_);
  return queued_ + running_;
}

void DeliveryGate::drain(std::chrono::milliseconds patience) {
  if (deliveringGate == this) {
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + patience;
  Lock lock(mutex_);
  // Every delivery ends by notifying, whether it ran or was skipped.
  while (queued_ + running_ > 0 && std::chrono::steady_clock::now() < deadline) {
    lock.waitUntil(idle_, deadline);
  }
}

void DeliveryGate::close() {
  const std::size_t own = deliveringGate == this ? 1 : 0;
  Lock lock(mutex_);
  open_ = false;
  // Deliveries end when their outputs return; the gate is already closed, so
  // no new one can start and this wait only shrinks.
  while (running_ > own) {
    lock.wait(idle_);
  }
}

bool DeliveryGate::isOpen() const {
  Lock lock(mutex_);
  return open_;
}

} // namespace Platform

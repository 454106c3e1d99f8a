#include "Simulated/OwnThreadCall.h"

#include "Platform/Dispatch.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace Platform::Simulated {

namespace {

struct Completion {
  std::mutex mutex;
  std::condition_variable returned;
  bool isDone = false;
};

} // namespace

bool callOnOwnThread(std::function<void()> work, std::chrono::milliseconds timeout) {
  // Shared with the thread, which may outlive a wait that timed out.
  auto completion = std::make_shared<Completion>();
  startTask([completion, work = std::move(work)] {
    work();
    {
      std::lock_guard lock(completion->mutex);
      completion->isDone = true;
    }
    completion->returned.notify_all();
  });
  std::unique_lock lock(completion->mutex);
  return completion->returned.wait_for(lock, timeout, [&] { return completion->isDone; });
}

} // namespace Platform::Simulated

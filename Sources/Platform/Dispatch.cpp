#include "Platform/Dispatch.h"

#include "Platform/Error.h"
#include "Platform/Log.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/strand.hpp>
#include <asio/thread_pool.hpp>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <list>
#include <thread>
#include <utility>
#include <variant>

namespace Platform {

namespace {

asio::io_context& mainContext() {
  static asio::io_context context;
  return context;
}

// Enough threads that a few slow deliveries cannot starve the others, few
// enough to stay cheap on small machines.
asio::thread_pool& globalPool() {
  static asio::thread_pool pool(std::max(4U, std::thread::hardware_concurrency()));
  return pool;
}

using PoolStrand = asio::strand<asio::thread_pool::executor_type>;

} // namespace

struct DispatchQueue::Impl {
  std::string label;
  std::variant<asio::io_context::executor_type, asio::thread_pool::executor_type, PoolStrand>
      executor;
};

DispatchQueue::DispatchQueue(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

DispatchQueue DispatchQueue::main() {
  static const auto impl =
      std::make_shared<Impl>(Impl{"com.apple.main-thread", mainContext().get_executor()});
  return DispatchQueue(impl);
}

DispatchQueue DispatchQueue::global() {
  static const auto impl =
      std::make_shared<Impl>(Impl{"com.apple.root.default-qos", globalPool().get_executor()});
  return DispatchQueue(impl);
}

DispatchQueue DispatchQueue::serial(std::string label) {
  return DispatchQueue(std::make_shared<Impl>(
      Impl{std::move(label), asio::make_strand(globalPool().get_executor())}));
}

DispatchQueue DispatchQueue::serialTarget(std::string label) const {
  if (const auto* pool = std::get_if<asio::thread_pool::executor_type>(&impl_->executor)) {
    return DispatchQueue(std::make_shared<Impl>(Impl{std::move(label), asio::make_strand(*pool)}));
  }
  // The main queue and serial queues already run one item at a time.
  return *this;
}

namespace {

// An exception that escapes queued work would end the whole process (and
// with it a recording that could still be finished): it is logged instead.
// The engine turns its own failures into its error path before this.
std::function<void()> contained(std::function<void()> work) {
  return [work = std::move(work)] {
    try {
      work();
    } catch (const std::exception& error) {
      log(LogLevel::error, "Queued work failed: " + describe(error));
    } catch (...) {
      log(LogLevel::error, "Queued work failed with an exception of an unknown type.");
    }
  };
}

} // namespace

void DispatchQueue::async(std::function<void()> work) const {
  std::visit([&work](const auto& executor) { asio::post(executor, contained(std::move(work))); },
             impl_->executor);
}

const std::string& DispatchQueue::label() const {
  return impl_->label;
}

bool DispatchQueue::isSerial() const {
  return !std::holds_alternative<asio::thread_pool::executor_type>(impl_->executor);
}

void dispatch_main() {
  auto guard = asio::make_work_guard(mainContext());
  for (;;) {
    mainContext().run();
    mainContext().restart();
  }
}

void runMainQueueUntil(const std::function<bool()>& done) {
  auto guard = asio::make_work_guard(mainContext());
  while (!done()) {
    mainContext().run_one();
  }
}

namespace {

// The threads of the tasks, joined once they are done: a task's thread never
// joins itself, and whatever ends the process waits for the last ones.
class TaskThreads {
public:
  TaskThreads() = default;
  TaskThreads(const TaskThreads&) = delete;
  TaskThreads& operator=(const TaskThreads&) = delete;
  ~TaskThreads() {
    std::list<Task> remaining;
    {
      std::lock_guard lock(mutex_);
      remaining = std::move(tasks_);
    }
    for (Task& task : remaining) {
      task.thread.join();
    }
  }

  void start(std::function<void()> work) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::list<Task> finished;
    std::unique_lock lock(mutex_);
    for (auto task = tasks_.begin(); task != tasks_.end();) {
      const auto next = std::next(task);
      if (*task->done) {
        finished.splice(finished.end(), tasks_, task);
      }
      task = next;
    }
    tasks_.push_back({std::thread([work = contained(std::move(work)), done]() mutable {
                        // Done only once what the work holds is let go too: that may
                        // wait as well, and a join must not.
                        std::exchange(work, {})();
                        *done = true;
                      }),
                      done});
    lock.unlock();
    for (Task& task : finished) {
      task.thread.join(); // at most the last instructions of its thread
    }
  }

private:
  struct Task {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex mutex_;
  std::list<Task> tasks_;
};

TaskThreads& taskThreads() {
  static TaskThreads threads;
  return threads;
}

} // namespace

void startTask(std::function<void()> work) {
  taskThreads().start(std::move(work));
}

std::vector<bool> runTasksWithin(std::vector<std::function<void()>> work,
                                 std::chrono::milliseconds patience) {
  std::vector<std::shared_ptr<OneShot<Done>>> endings;
  for (auto& piece : work) {
    const auto ended = endings.emplace_back(std::make_shared<OneShot<Done>>());
    startTask([piece = std::move(piece), ended] {
      try {
        piece();
      } catch (...) {
        ended->complete({});
        throw; // logged like any task's failure
      }
      ended->complete({});
    });
  }
  const auto deadline = std::chrono::steady_clock::now() + patience;
  std::vector<bool> inTime;
  for (const auto& ended : endings) {
    inTime.push_back(ended
                         ->waitFor(std::max(deadline - std::chrono::steady_clock::now(),
                                            std::chrono::steady_clock::duration::zero()))
                         .has_value());
  }
  return inTime;
}

} // namespace Platform

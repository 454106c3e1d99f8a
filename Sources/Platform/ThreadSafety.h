#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// Clang's thread-safety annotations, so that the compiler checks which lock
// guards which field (-Wthread-safety); other compilers read them as
// nothing. The standard library's mutex carries no annotation, hence the
// annotated Mutex and Lock below.

#if defined(__clang__)
#define PLATFORM_THREAD_ANNOTATION(attribute) __attribute__((attribute))
#else
#define PLATFORM_THREAD_ANNOTATION(attribute)
#endif

#define CAPABILITY(name) PLATFORM_THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY PLATFORM_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(mutex) PLATFORM_THREAD_ANNOTATION(guarded_by(mutex))
#define REQUIRES(...) PLATFORM_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) PLATFORM_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) PLATFORM_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) PLATFORM_THREAD_ANNOTATION(release_capability(__VA_ARGS__))

namespace Platform {

class CAPABILITY("mutex") Mutex {
public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

private:
  friend class Lock;
  std::mutex mutex_;
};

// Holds a Mutex for its scope; may let go and take it again, and waits on a
// condition with it.
class SCOPED_CAPABILITY Lock {
public:
  explicit Lock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~Lock() RELEASE() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void unlock() RELEASE() { lock_.unlock(); }
  void lock() ACQUIRE() { lock_.lock(); }
  // Releases the mutex while it waits for a notification, and holds it
  // again when it returns (possibly spuriously: wait in a loop).
  void wait(std::condition_variable& condition) { condition.wait(lock_); }
  // As wait(), until `deadline` at the latest.
  template <class Clock, class Duration>
  void waitUntil(std::condition_variable& condition,
                 std::chrono::time_point<Clock, Duration> deadline) {
    condition.wait_until(lock_, deadline);
  }

private:
  std::unique_lock<std::mutex> lock_;
};

} // namespace Platform

#pragma once

#include <condition_variable>
#include <mutex>

// Clang's thread-safety annotations, so that the compiler checks which lock
// guards which field (-Wthread-safety); other compilers read them as
// nothing. The standard library's mutex carries no annotation, hence the
// annotated Mutex and Lock below.

#if defined(__clang__)
#define VISTREL_THREAD_ANNOTATION(attribute) __attribute__((attribute))
#else
#define VISTREL_THREAD_ANNOTATION(attribute)
#endif

#define CAPABILITY(name) VISTREL_THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY VISTREL_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(mutex) VISTREL_THREAD_ANNOTATION(guarded_by(mutex))
#define REQUIRES(...) VISTREL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) VISTREL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) VISTREL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VISTREL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))

namespace Vistrel {

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

private:
  std::unique_lock<std::mutex> lock_;
};

} // namespace Vistrel

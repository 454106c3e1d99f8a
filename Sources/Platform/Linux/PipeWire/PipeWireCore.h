#pragma once

#include <pipewire/context.h>
#include <pipewire/core.h>
#include <pipewire/properties.h>
#include <pipewire/thread-loop.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// One connection to a PipeWire daemon (a core) on the process's one PipeWire
// thread and context, with the one listener on its registry: it keeps the
// daemon's objects as they come and go and tells every watcher, so that
// consumers and listings share what the registry says instead of each asking
// it again.
//
// Thread contract: the loop's lock (LoopLock) is held for every call that
// touches PipeWire objects: watch, unwatch and whatever a user does with
// core(). PipeWire's thread holds it while it calls listeners and watchers.
// lost() may be called from any thread.

namespace Platform::Linux::PipeWire {

struct RegistryEvents;

// Holds PipeWire's thread loop for its scope: no listener runs meanwhile.
// The lock is recursive, so a listener may take it again.
class LoopLock {
public:
  explicit LoopLock(pw_thread_loop* loop) : loop_(loop) { pw_thread_loop_lock(loop_); }
  ~LoopLock() { pw_thread_loop_unlock(loop_); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

private:
  pw_thread_loop* const loop_;
};

// Told of the registry's objects, on PipeWire's thread.
class RegistryWatcher {
public:
  virtual void globalAdded(std::uint32_t id, const char* type, const spa_dict* properties) = 0;
  virtual void globalRemoved(std::uint32_t id) = 0;

protected:
  ~RegistryWatcher() = default;
};

// PipeWire's thread and the context on it: one a process, shared by every
// core, and kept while one of them lives.
class LoopThread {
public:
  // Throws Platform::Error when the thread cannot start.
  LoopThread();
  ~LoopThread();
  LoopThread(const LoopThread&) = delete;
  LoopThread& operator=(const LoopThread&) = delete;

  pw_thread_loop* loop() const { return loop_; }
  pw_context* context() const { return context_; }

private:
  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
};

class Core {
public:
  // Takes over a connected core on `thread`, holding its loop's lock.
  Core(std::shared_ptr<LoopThread> thread, pw_core* core);
  ~Core();
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  pw_thread_loop* loop() const { return thread_->loop(); }
  pw_core* core() const { return core_; }
  pw_registry* registry() const { return registry_; }

  // Tells `watcher` of every object the registry holds now, then of each
  // that comes or goes, until unwatch.
  void watch(RegistryWatcher& watcher);
  void unwatch(RegistryWatcher& watcher);

  // Whether the daemon broke the connection (it stopped or restarted).
  bool lost() const { return lost_; }

private:
  friend struct RegistryEvents;
  void added(std::uint32_t id, const char* type, const spa_dict* properties);
  void removed(std::uint32_t id);
  void tell(const std::function<void(RegistryWatcher&)>& news);

  struct Global {
    std::string type;
    std::unique_ptr<pw_properties, decltype(&pw_properties_free)> properties;
  };

  const std::shared_ptr<LoopThread> thread_;
  pw_core* const core_;
  pw_registry* registry_ = nullptr;
  spa_hook coreListener_{};
  spa_hook registryListener_{};
  std::map<std::uint32_t, Global> globals_; // on the loop's lock
  std::vector<RegistryWatcher*> watchers_;  // on the loop's lock
  std::atomic<bool> lost_ = false;
};

} // namespace Platform::Linux::PipeWire

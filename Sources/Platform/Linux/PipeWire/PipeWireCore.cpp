#include "Platform/Linux/PipeWire/PipeWireCore.h"

#include "Platform/Error.h"

#include <pipewire/pipewire.h>

#include <algorithm>

namespace Platform::Linux::PipeWire {

namespace {

const pw_core_events coreEvents = [] {
  pw_core_events events{};
  events.version = PW_VERSION_CORE_EVENTS;
  events.error = [](void* data, std::uint32_t id, int, int, const char*) {
    if (id == PW_ID_CORE) {
      static_cast<std::atomic<bool>*>(data)->store(true);
    }
  };
  return events;
}();

} // namespace

LoopThread::LoopThread() {
  pw_init(nullptr, nullptr);
  loop_ = pw_thread_loop_new("pipewire", nullptr);
  if (loop_ != nullptr) {
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
  }
  if (context_ == nullptr || pw_thread_loop_start(loop_) < 0) {
    if (context_ != nullptr) {
      pw_context_destroy(context_);
    }
    if (loop_ != nullptr) {
      pw_thread_loop_destroy(loop_);
    }
    throw SystemError(ErrorDomain::screenCapture, -3802, "Could not start a PipeWire thread");
  }
}

LoopThread::~LoopThread() {
  pw_thread_loop_stop(loop_);
  pw_context_destroy(context_);
  pw_thread_loop_destroy(loop_);
}

// The one registry listener: every other user watches through it.
struct RegistryEvents {
  static const pw_registry_events& get() {
    static const pw_registry_events events = [] {
      pw_registry_events events{};
      events.version = PW_VERSION_REGISTRY_EVENTS;
      events.global = [](void* data, std::uint32_t id, std::uint32_t, const char* type,
                         std::uint32_t, const spa_dict* properties) {
        static_cast<Core*>(data)->added(id, type, properties);
      };
      events.global_remove = [](void* data, std::uint32_t id) {
        static_cast<Core*>(data)->removed(id);
      };
      return events;
    }();
    return events;
  }
};

Core::Core(std::shared_ptr<LoopThread> thread, pw_core* core)
    : thread_(std::move(thread)), core_(core) {
  pw_core_add_listener(core_, &coreListener_, &coreEvents, &lost_);
  registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
  if (registry_ != nullptr) {
    pw_registry_add_listener(registry_, &registryListener_, &RegistryEvents::get(), this);
  }
}

Core::~Core() {
  LoopLock lock(loop());
  if (registry_ != nullptr) {
    spa_hook_remove(&registryListener_);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
  }
  spa_hook_remove(&coreListener_);
  pw_core_disconnect(core_);
}

void Core::watch(RegistryWatcher& watcher) {
  watchers_.push_back(&watcher);
  for (const auto& [id, global] : globals_) {
    watcher.globalAdded(id, global.type.c_str(), &global.properties->dict);
  }
}

void Core::unwatch(RegistryWatcher& watcher) {
  watchers_.erase(std::remove(watchers_.begin(), watchers_.end(), &watcher), watchers_.end());
}

void Core::added(std::uint32_t id, const char* type, const spa_dict* properties) {
  if (type == nullptr) {
    return;
  }
  static const spa_dict none = SPA_DICT_INIT(nullptr, 0);
  globals_.insert_or_assign(
      id, Global{type,
                 {pw_properties_new_dict(properties != nullptr ? properties : &none),
                  pw_properties_free}});
  tell([&](RegistryWatcher& watcher) { watcher.globalAdded(id, type, properties); });
}

void Core::removed(std::uint32_t id) {
  globals_.erase(id);
  tell([&](RegistryWatcher& watcher) { watcher.globalRemoved(id); });
}

void Core::tell(const std::function<void(RegistryWatcher&)>& news) {
  // A watcher may watch or unwatch while it is told: each is told while it
  // still watches.
  for (RegistryWatcher* watcher : std::vector(watchers_)) {
    if (std::find(watchers_.begin(), watchers_.end(), watcher) != watchers_.end()) {
      news(*watcher);
    }
  }
}

} // namespace Platform::Linux::PipeWire

#include "Platform/Linux/PipeWire/PipeWireGraph.h"

#include "Platform/Error.h"
#include "Platform/ThreadSafety.h"

#include <pipewire/pipewire.h>
#include <spa/utils/dict.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <list>

namespace Platform::Linux::PipeWire {

namespace {

std::map<std::string, std::string> toMap(const spa_dict* dict) {
  std::map<std::string, std::string> properties;
  if (dict == nullptr) {
    return properties;
  }
  const spa_dict_item* item = nullptr;
  spa_dict_for_each(item, dict) {
    if (item->key != nullptr && item->value != nullptr) {
      properties[item->key] = item->value;
    }
  }
  return properties;
}

const pw_core_events& readingCoreEvents();

// One reading of the graph. Its objects are filled on PipeWire's thread
// and read under the loop's lock; the caller waits for the end on `mutex`.
struct Reading final : RegistryWatcher {
  std::vector<std::string> mediaClasses;
  Core& core;
  spa_hook coreListener{};
  int listed = -1;   // the sync that ends the registry's listing
  int detailed = -1; // the sync that ends the bound objects' details

  // A bound object whose info brings all its properties.
  struct Bound {
    Reading* reading = nullptr;
    std::size_t index = 0;
    pw_proxy* proxy = nullptr;
    spa_hook listener{};
  };
  std::list<Bound> bound; // stable addresses: listeners point at them
  Graph graph;

  Mutex mutex;
  std::condition_variable ended;
  bool complete GUARDED_BY(mutex) = false;
  bool failed GUARDED_BY(mutex) = false;

  Reading(std::vector<std::string> classes, Core& on)
      : mediaClasses(std::move(classes)), core(on) {}
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;

  // Under the loop's lock.
  void begin() {
    pw_core_add_listener(core.core(), &coreListener, &readingCoreEvents(), this);
    core.watch(*this);
    listed = pw_core_sync(core.core(), PW_ID_CORE, 0);
  }

  // Under the loop's lock: no listener of ours is called again.
  void end() {
    core.unwatch(*this);
    spa_hook_remove(&coreListener);
    for (Bound& object : bound) {
      spa_hook_remove(&object.listener);
      pw_proxy_destroy(object.proxy);
    }
    bound.clear();
  }

  void finish(bool completed) {
    {
      Lock lock(mutex);
      (completed ? complete : failed) = true;
    }
    ended.notify_all();
  }

  void globalAdded(std::uint32_t id, const char* type, const spa_dict* props) override;
  void globalRemoved(std::uint32_t) override {}
};

const pw_node_events nodeEvents = [] {
  pw_node_events events{};
  events.version = PW_VERSION_NODE_EVENTS;
  events.info = [](void* data, const pw_node_info* info) {
    auto& object = *static_cast<Reading::Bound*>(data);
    object.reading->graph.nodes[object.index].properties = toMap(info->props);
  };
  return events;
}();

const pw_device_events deviceEvents = [] {
  pw_device_events events{};
  events.version = PW_VERSION_DEVICE_EVENTS;
  events.info = [](void* data, const pw_device_info* info) {
    auto& object = *static_cast<Reading::Bound*>(data);
    object.reading->graph.devices[object.index].properties = toMap(info->props);
  };
  return events;
}();

void Reading::globalAdded(std::uint32_t id, const char* type, const spa_dict* props) {
  const bool isNode = std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0;
  const bool isDevice = std::strcmp(type, PW_TYPE_INTERFACE_Device) == 0;
  if (!isNode && !isDevice) {
    return;
  }
  if (isNode) {
    const char* mediaClass =
        props != nullptr ? spa_dict_lookup(props, PW_KEY_MEDIA_CLASS) : nullptr;
    if (mediaClass == nullptr ||
        std::find(mediaClasses.begin(), mediaClasses.end(), mediaClass) == mediaClasses.end()) {
      return;
    }
  }
  auto& objects = isNode ? graph.nodes : graph.devices;
  objects.push_back({id, toMap(props)});
  auto* proxy = static_cast<pw_proxy*>(pw_registry_bind(
      core.registry(), id, isNode ? PW_TYPE_INTERFACE_Node : PW_TYPE_INTERFACE_Device,
      isNode ? PW_VERSION_NODE : PW_VERSION_DEVICE, 0));
  if (proxy == nullptr) {
    return;
  }
  Bound& object = bound.emplace_back();
  object = {this, objects.size() - 1, proxy, {}};
  if (isNode) {
    pw_node_add_listener(reinterpret_cast<pw_node*>(proxy), &object.listener, &nodeEvents, &object);
  } else {
    pw_device_add_listener(reinterpret_cast<pw_device*>(proxy), &object.listener, &deviceEvents,
                           &object);
  }
}

const pw_core_events& readingCoreEvents() {
  static const pw_core_events events = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.done = [](void* data, std::uint32_t id, int seq) {
      auto& reading = *static_cast<Reading*>(data);
      if (id != PW_ID_CORE) {
        return;
      }
      if (seq == reading.listed) {
        // The bound objects' info comes before the answer to this one.
        reading.detailed = pw_core_sync(reading.core.core(), PW_ID_CORE, 0);
      } else if (seq == reading.detailed) {
        reading.finish(true);
      }
    };
    events.error = [](void* data, std::uint32_t id, int, int, const char*) {
      if (id == PW_ID_CORE) {
        static_cast<Reading*>(data)->finish(false);
      }
    };
    return events;
  }();
  return events;
}

} // namespace

std::string GraphObject::property(const std::string& key) const {
  const auto found = properties.find(key);
  return found == properties.end() ? std::string() : found->second;
}

std::optional<Graph> readGraph(Daemon& daemon, const std::vector<std::string>& mediaClasses,
                               std::chrono::milliseconds patience) {
  std::shared_ptr<Core> core;
  try {
    core = daemon.core();
  } catch (const Error&) {
    return std::nullopt; // no daemon: nothing to list
  }
  if (core->registry() == nullptr) {
    return std::nullopt;
  }
  Reading reading(mediaClasses, *core);
  {
    LoopLock loop(core->loop());
    reading.begin();
  }
  bool complete = false;
  {
    // A daemon that stops answering must not hold the caller.
    const auto deadline = std::chrono::steady_clock::now() + patience;
    Lock lock(reading.mutex);
    while (!reading.complete && !reading.failed && std::chrono::steady_clock::now() < deadline) {
      lock.waitUntil(reading.ended, deadline);
    }
    complete = reading.complete;
  }
  LoopLock loop(core->loop());
  reading.end();
  if (!complete) {
    return std::nullopt;
  }
  return std::move(reading.graph);
}

} // namespace Platform::Linux::PipeWire

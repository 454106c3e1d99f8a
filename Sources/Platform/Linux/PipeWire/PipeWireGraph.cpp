#include "Platform/Linux/PipeWire/PipeWireGraph.h"

#include <pipewire/pipewire.h>
#include <spa/utils/dict.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <memory>

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

// Everything one reading holds, on the loop's thread (ours).
struct Reading {
  std::vector<std::string> mediaClasses;
  pw_main_loop* loop = nullptr;
  pw_core* core = nullptr;
  pw_registry* registry = nullptr;
  spa_hook coreListener{};
  spa_hook registryListener{};
  int listed = -1;   // the sync that ends the registry's listing
  int detailed = -1; // the sync that ends the bound objects' details
  bool complete = false;

  // A bound object whose info brings all its properties.
  struct Bound {
    Reading* reading = nullptr;
    bool isNode = false;
    std::size_t index = 0;
    pw_proxy* proxy = nullptr;
    spa_hook listener{};
  };
  std::list<Bound> bound; // stable addresses: listeners point at them
  Graph graph;

  ~Reading() {
    if (core != nullptr) {
      spa_hook_remove(&coreListener);
    }
    for (Bound& object : bound) {
      spa_hook_remove(&object.listener);
      pw_proxy_destroy(object.proxy);
    }
    if (registry != nullptr) {
      spa_hook_remove(&registryListener);
      pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
    }
  }
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

const pw_registry_events registryEvents = [] {
  pw_registry_events events{};
  events.version = PW_VERSION_REGISTRY_EVENTS;
  events.global = [](void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                     const spa_dict* props) {
    auto& reading = *static_cast<Reading*>(data);
    const bool isNode = std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0;
    const bool isDevice = std::strcmp(type, PW_TYPE_INTERFACE_Device) == 0;
    if (!isNode && !isDevice) {
      return;
    }
    if (isNode) {
      const char* mediaClass =
          props != nullptr ? spa_dict_lookup(props, PW_KEY_MEDIA_CLASS) : nullptr;
      if (mediaClass == nullptr ||
          std::find(reading.mediaClasses.begin(), reading.mediaClasses.end(), mediaClass) ==
              reading.mediaClasses.end()) {
        return;
      }
    }
    auto& objects = isNode ? reading.graph.nodes : reading.graph.devices;
    objects.push_back({id, toMap(props)});
    auto* proxy = static_cast<pw_proxy*>(pw_registry_bind(
        reading.registry, id, isNode ? PW_TYPE_INTERFACE_Node : PW_TYPE_INTERFACE_Device,
        isNode ? PW_VERSION_NODE : PW_VERSION_DEVICE, 0));
    if (proxy == nullptr) {
      return;
    }
    Reading::Bound& object = reading.bound.emplace_back();
    object = {&reading, isNode, objects.size() - 1, proxy, {}};
    if (isNode) {
      pw_node_add_listener(reinterpret_cast<pw_node*>(proxy), &object.listener, &nodeEvents,
                           &object);
    } else {
      pw_device_add_listener(reinterpret_cast<pw_device*>(proxy), &object.listener, &deviceEvents,
                             &object);
    }
  };
  return events;
}();

const pw_core_events coreEvents = [] {
  pw_core_events events{};
  events.version = PW_VERSION_CORE_EVENTS;
  events.done = [](void* data, std::uint32_t id, int seq) {
    auto& reading = *static_cast<Reading*>(data);
    if (id != PW_ID_CORE) {
      return;
    }
    if (seq == reading.listed) {
      // The bound objects' info comes before the answer to this one.
      reading.detailed = pw_core_sync(reading.core, PW_ID_CORE, 0);
    } else if (seq == reading.detailed) {
      reading.complete = true;
      pw_main_loop_quit(reading.loop);
    }
  };
  events.error = [](void* data, std::uint32_t id, int, int, const char*) {
    if (id == PW_ID_CORE) {
      pw_main_loop_quit(static_cast<Reading*>(data)->loop);
    }
  };
  return events;
}();

} // namespace

std::string GraphObject::property(const std::string& key) const {
  const auto found = properties.find(key);
  return found == properties.end() ? std::string() : found->second;
}

std::optional<Graph> readGraph(const std::vector<std::string>& mediaClasses,
                               std::chrono::milliseconds patience) {
  pw_init(nullptr, nullptr);
  const std::unique_ptr<pw_main_loop, decltype(&pw_main_loop_destroy)> loop(
      pw_main_loop_new(nullptr), pw_main_loop_destroy);
  if (!loop) {
    return std::nullopt;
  }
  const std::unique_ptr<pw_context, decltype(&pw_context_destroy)> context(
      pw_context_new(pw_main_loop_get_loop(loop.get()), nullptr, 0), pw_context_destroy);
  if (!context) {
    return std::nullopt;
  }
  const std::unique_ptr<pw_core, decltype(&pw_core_disconnect)> core(
      pw_context_connect(context.get(), nullptr, 0), pw_core_disconnect);
  if (!core) {
    return std::nullopt; // no daemon: nothing to list
  }
  auto reading = std::make_unique<Reading>();
  reading->mediaClasses = mediaClasses;
  reading->loop = loop.get();
  reading->core = core.get();
  pw_core_add_listener(core.get(), &reading->coreListener, &coreEvents, reading.get());
  reading->registry = pw_core_get_registry(core.get(), PW_VERSION_REGISTRY, 0);
  if (reading->registry == nullptr) {
    return std::nullopt;
  }
  pw_registry_add_listener(reading->registry, &reading->registryListener, &registryEvents,
                           reading.get());
  reading->listed = pw_core_sync(core.get(), PW_ID_CORE, 0);

  // A daemon that stops answering must not hold the caller.
  spa_source* timer = pw_loop_add_timer(
      pw_main_loop_get_loop(loop.get()),
      [](void* data, std::uint64_t) { pw_main_loop_quit(static_cast<pw_main_loop*>(data)); },
      loop.get());
  timespec timeout{static_cast<time_t>(patience.count() / 1000),
                   static_cast<long>(patience.count() % 1000 * 1'000'000)};
  pw_loop_update_timer(pw_main_loop_get_loop(loop.get()), timer, &timeout, nullptr, false);
  pw_main_loop_run(loop.get());
  pw_loop_destroy_source(pw_main_loop_get_loop(loop.get()), timer);

  if (!reading->complete) {
    return std::nullopt;
  }
  Graph graph = std::move(reading->graph);
  reading.reset(); // its proxies go before the core
  return graph;
}

} // namespace Platform::Linux::PipeWire

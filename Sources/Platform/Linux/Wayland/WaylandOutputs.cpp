#include "Platform/Linux/Wayland/WaylandOutputs.h"

#include <wayland-client.h>

#include <algorithm>
#include <memory>

namespace Platform::Linux::Wayland {

namespace {

// wl_output version 4 adds the name; older compositors leave it out.
constexpr std::uint32_t highestOutputVersion = 4;

struct Listing {
  std::vector<std::unique_ptr<WaylandOutput>> outputs;
  std::vector<wl_output*> proxies;
};

const wl_output_listener outputListener = [] {
  wl_output_listener listener{};
  listener.geometry = [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                         std::int32_t, const char*, const char*, std::int32_t) {};
  listener.mode = [](void* data, wl_output*, std::uint32_t flags, std::int32_t width,
                     std::int32_t height, std::int32_t) {
    if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
      auto& output = *static_cast<WaylandOutput*>(data);
      output.pixelWidth = width;
      output.pixelHeight = height;
    }
  };
  listener.done = [](void*, wl_output*) {};
  listener.scale = [](void* data, wl_output*, std::int32_t factor) {
    static_cast<WaylandOutput*>(data)->scale = std::max(1, factor);
  };
  listener.name = [](void* data, wl_output*, const char* name) {
    static_cast<WaylandOutput*>(data)->name = name;
  };
  listener.description = [](void*, wl_output*, const char*) {};
  return listener;
}();

const wl_registry_listener registryListener = [] {
  wl_registry_listener listener{};
  listener.global = [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version) {
    if (std::string_view(interface) != wl_output_interface.name) {
      return;
    }
    auto& listing = *static_cast<Listing*>(data);
    auto* proxy = static_cast<wl_output*>(wl_registry_bind(
        registry, name, &wl_output_interface, std::min(version, highestOutputVersion)));
    auto output = std::make_unique<WaylandOutput>();
    wl_output_add_listener(proxy, &outputListener, output.get());
    listing.outputs.push_back(std::move(output));
    listing.proxies.push_back(proxy);
  };
  listener.global_remove = [](void*, wl_registry*, std::uint32_t) {};
  return listener;
}();

} // namespace

std::vector<WaylandOutput> readWaylandOutputs() {
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    return {};
  }
  Listing listing;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registryListener, &listing);
  // One round trip finds the outputs, the next one their modes and names.
  wl_display_roundtrip(display);
  wl_display_roundtrip(display);
  std::vector<WaylandOutput> outputs;
  for (std::size_t index = 0; index < listing.outputs.size(); ++index) {
    WaylandOutput output = *listing.outputs[index];
    output.id = static_cast<std::uint32_t>(index + 1);
    if (output.name.empty()) {
      output.name = "Output " + std::to_string(output.id);
    }
    if (output.pixelWidth > 0 && output.pixelHeight > 0) {
      outputs.push_back(std::move(output));
    }
  }
  for (wl_output* proxy : listing.proxies) {
    wl_output_destroy(proxy);
  }
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return outputs;
}

} // namespace Platform::Linux::Wayland

#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The outputs (monitors) of the Wayland compositor named by $WAYLAND_DISPLAY,
// as its wl_output globals describe them. Any thread; each call makes a
// short connection of its own.

namespace Platform::Linux::Wayland {

struct WaylandOutput {
  std::uint32_t id = 0;        // 1, 2, ... in the compositor's order
  std::int32_t pixelWidth = 0; // of the current mode
  std::int32_t pixelHeight = 0;
  std::int32_t scale = 1; // pixels per point
  std::string name;       // the connector ("Meta-0"), or "Output <id>" when unnamed
};

// None when no compositor answers.
std::vector<WaylandOutput> readWaylandOutputs();

} // namespace Platform::Linux::Wayland

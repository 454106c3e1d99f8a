#pragma once

#include "Platform/Linux/PipeWire/PipeWireDaemon.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A look at the objects of the session's PipeWire daemon that media are
// found in: nodes of the media classes asked for, and the devices behind
// them, each with all its properties (the registry alone shows only a few).
//
// Thread contract: any thread but PipeWire's.

namespace Platform::Linux::PipeWire {

struct GraphObject {
  std::uint32_t id = 0;
  std::map<std::string, std::string> properties;

  // The property, or empty text.
  std::string property(const std::string& key) const;
};

struct Graph {
  std::vector<GraphObject> nodes; // in the registry's order
  std::vector<GraphObject> devices;
};

// The nodes whose media.class is one of `mediaClasses`, and every device,
// as `daemon` holds them. Nothing when no daemon answers, or it does not
// finish answering within `patience`.
std::optional<Graph> readGraph(Daemon& daemon, const std::vector<std::string>& mediaClasses,
                               std::chrono::milliseconds patience);

} // namespace Platform::Linux::PipeWire

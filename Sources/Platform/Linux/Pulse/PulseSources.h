#pragma once

#include "Platform/Linux/Pulse/MonitorLead.h"
#include "Platform/Linux/Pulse/PulseConnection.h"

#include <pulse/channelmap.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the audio server tells about its sources, and the queries that ask it.
//
// Thread contract: the queries take the connection's lock themselves and so
// must not be called on its main loop's thread; inputSources is pure.

namespace Platform::Linux::Pulse {

struct SourceDescription {
  std::string name;
  std::string description;
  std::uint32_t sampleRate = 0;
  std::uint8_t channelCount = 0;
  pa_channel_map channelMap{};
  bool isMonitor = false;          // the monitor of a sink: what it plays, not an input
  std::uint32_t monitoredSink = 0; // the sink's index, for a monitor
};

// The sources a user records from: no monitors, each name once, in the
// server's order.
std::vector<SourceDescription> inputSources(const std::vector<SourceDescription>& sources);

// Every source of the server, in its order. Throws Platform::Error when the
// server does not answer.
std::vector<SourceDescription> listSources(const Connection& connection);

// The source with this name; absent when there is none. Throws
// Platform::Error when the server does not answer.
std::optional<SourceDescription> findSource(const Connection& connection, const std::string& name);

// How long the sound a sink renders takes to be played (MonitorLead makes a
// monitor's lead of it); zeros when the sink is gone. Throws Platform::Error
// when the server does not answer.
SinkLatency sinkLatency(const Connection& connection, std::uint32_t sinkIndex);

// The name of the default sink's monitor source. Throws Platform::Error when
// the server has no default sink or does not answer.
std::string defaultSinkMonitorName(const Connection& connection);

} // namespace Platform::Linux::Pulse

#pragma once

#include "Platform/Linux/PipeWire/PipeWireGraph.h"

#include <optional>
#include <string>
#include <vector>

// Which PipeWire nodes are cameras, and which sound is theirs. Every camera,
// capture card and virtual camera is a node of media class Video/Source; so
// is a desktop's screen cast, which is not a device and is left out. Pure;
// any thread.

namespace Platform::Linux::Camera {

struct CameraNode {
  // The node's name: it names the device again after a reconnection or a
  // restart, where the node's id and serial number do not.
  std::string name;
  std::string description;
  // "front" or "back" for a camera built into a phone or laptop lid that says
  // so; empty when it does not.
  std::string location;
  // The node name of the device's own sound (a capture card's input, a
  // webcam's microphone): the audio node of the same device (the same USB
  // device, bus path or serial number), or of the same node group.
  std::optional<std::string> audioNode;
};

// The media classes a camera listing reads.
std::vector<std::string> cameraMediaClasses();

// The cameras among a graph's nodes, in its order.
std::vector<CameraNode> camerasIn(const PipeWire::Graph& graph);

} // namespace Platform::Linux::Camera

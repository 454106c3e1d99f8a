#include "Platform/Linux/Camera/CameraNodes.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace Platform::Linux::Camera {

namespace {

constexpr std::string_view videoSource = "Video/Source";
constexpr std::string_view audioSource = "Audio/Source";

// The programs that publish a desktop's screen casts as Video/Source nodes.
constexpr std::array<std::string_view, 9> screenCasters{"gnome-shell",
                                                        "kwin_wayland",
                                                        "kwin_x11",
                                                        "xdg-desktop-portal-wlr",
                                                        "xdg-desktop-portal-hyprland",
                                                        "xdg-desktop-portal-kde",
                                                        "xdg-desktop-portal-gnome",
                                                        "gamescope",
                                                        "weston"};

bool isScreenCast(const PipeWire::GraphObject& node) {
  if (!node.property("device.api").empty()) {
    return false; // a V4L2 or libcamera device
  }
  if (node.property("media.role") == "Screen") {
    return true;
  }
  const std::string binary = node.property("application.process.binary");
  const std::string application = node.property("application.name");
  return std::any_of(screenCasters.begin(), screenCasters.end(), [&](std::string_view caster) {
    return binary == caster || application == caster;
  });
}

const PipeWire::GraphObject* deviceOf(const PipeWire::Graph& graph,
                                      const PipeWire::GraphObject& node) {
  const std::string id = node.property("device.id");
  if (id.empty()) {
    return nullptr;
  }
  const auto found =
      std::find_if(graph.devices.begin(), graph.devices.end(),
                   [&](const auto& device) { return std::to_string(device.id) == id; });
  return found == graph.devices.end() ? nullptr : &*found;
}

// A USB device's path without its interface ("…-usb-0:2:1.0" -> "…-usb-0:2"):
// its camera and its microphone are interfaces of one device.
std::string withoutInterface(const std::string& busPath) {
  const auto colon = busPath.rfind(':');
  if (colon == std::string::npos || busPath.find("usb") == std::string::npos ||
      busPath.find('.', colon) == std::string::npos) {
    return busPath;
  }
  return busPath.substr(0, colon);
}

bool sameDevice(const PipeWire::Graph& graph, const PipeWire::GraphObject& camera,
                const PipeWire::GraphObject& sound) {
  const std::string group = camera.property("node.group");
  if (!group.empty() && group == sound.property("node.group")) {
    return true;
  }
  const PipeWire::GraphObject* cameraDevice = deviceOf(graph, camera);
  const PipeWire::GraphObject* soundDevice = deviceOf(graph, sound);
  if (cameraDevice == nullptr || soundDevice == nullptr) {
    return false;
  }
  const std::string busPath = cameraDevice->property("device.bus-path");
  if (!busPath.empty() &&
      withoutInterface(busPath) == withoutInterface(soundDevice->property("device.bus-path"))) {
    return true;
  }
  const std::string serial = cameraDevice->property("device.serial");
  return !serial.empty() && serial == soundDevice->property("device.serial");
}

} // namespace

std::vector<std::string> cameraMediaClasses() {
  return {std::string(videoSource), std::string(audioSource)};
}

std::vector<CameraNode> camerasIn(const PipeWire::Graph& graph) {
  std::vector<CameraNode> cameras;
  for (const PipeWire::GraphObject& node : graph.nodes) {
    if (node.property("media.class") != videoSource || isScreenCast(node)) {
      continue;
    }
    CameraNode camera;
    camera.name = node.property("node.name");
    if (camera.name.empty()) {
      continue; // nothing to find it by again
    }
    camera.description = node.property("node.description");
    if (camera.description.empty()) {
      camera.description = node.property("node.nick");
    }
    if (camera.description.empty()) {
      camera.description = camera.name;
    }
    camera.location = node.property("api.libcamera.location");
    for (const PipeWire::GraphObject& sound : graph.nodes) {
      if (sound.property("media.class") == audioSource && !sound.property("node.name").empty() &&
          sameDevice(graph, node, sound)) {
        camera.audioNode = sound.property("node.name");
        break;
      }
    }
    cameras.push_back(std::move(camera));
  }
  return cameras;
}

} // namespace Platform::Linux::Camera

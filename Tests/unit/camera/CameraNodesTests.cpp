#include "Platform/Linux/Camera/CameraNodes.h"

#include <gtest/gtest.h>

namespace Platform::Linux::Camera {
namespace {

using PipeWire::Graph;
using PipeWire::GraphObject;

GraphObject node(std::uint32_t id, std::map<std::string, std::string> properties) {
  return {id, std::move(properties)};
}

std::vector<std::string> namesOf(const std::vector<CameraNode>& cameras) {
  std::vector<std::string> names;
  for (const auto& camera : cameras) {
    names.push_back(camera.name);
  }
  return names;
}

TEST(CamerasIn, ListsDevicesAndVirtualCamerasButNotScreenCastsOrOtherMedia) {
  const Graph graph{
      {node(40, {{"media.class", "Video/Source"},
                 {"node.name", "v4l2_input.pci-0000_00_14.0-usb-0_2_1.0"},
                 {"node.description", "HD Webcam C270"},
                 {"device.api", "v4l2"},
                 {"application.name", "wireplumber"}}),
       node(41, {{"media.class", "Video/Source"},
                 {"node.name", "test-camera"},
                 {"node.description", "Test Camera"}}),
       node(42, {{"media.class", "Video/Source"},
                 {"node.name", "xdpw_stream"},
                 {"application.process.binary", "xdg-desktop-portal-wlr"}}),
       node(43, {{"media.class", "Video/Source"}, {"node.name", "cast"}, {"media.role", "Screen"}}),
       node(44, {{"media.class", "Audio/Source"}, {"node.name", "virtual_mic"}}),
       node(45, {{"media.class", "Video/Source"}, {"node.nick", "Nameless"}}),
       node(46, {{"media.class", "Video/Source"},
                 {"node.name", "libcamera_input.front"},
                 {"node.nick", "Front Camera"},
                 {"api.libcamera.location", "front"}})},
      {}};
  const auto cameras = camerasIn(graph);
  EXPECT_EQ(namesOf(cameras), (std::vector<std::string>{"v4l2_input.pci-0000_00_14.0-usb-0_2_1.0",
                                                        "test-camera", "libcamera_input.front"}))
      << "a screen cast is no device; a node without a name cannot be found again";
  ASSERT_EQ(cameras.size(), 3U);
  EXPECT_EQ(cameras[0].description, "HD Webcam C270");
  EXPECT_EQ(cameras[2].description, "Front Camera") << "the nick when there is no description";
  EXPECT_EQ(cameras[2].location, "front");
  EXPECT_FALSE(cameras[1].audioNode);
}

TEST(CamerasIn, FindsTheSoundOfTheSameDeviceOrGroup) {
  Graph graph{
      {node(50, {{"media.class", "Video/Source"}, {"node.name", "webcam"}, {"device.id", "10"}}),
       node(51,
            {{"media.class", "Audio/Source"}, {"node.name", "laptop_mic"}, {"device.id", "11"}}),
       node(52,
            {{"media.class", "Audio/Source"}, {"node.name", "webcam_mic"}, {"device.id", "12"}}),
       node(53, {{"media.class", "Video/Source"}, {"node.name", "card"}, {"device.id", "13"}}),
       node(54, {{"media.class", "Audio/Source"}, {"node.name", "card_in"}, {"device.id", "14"}}),
       node(55,
            {{"media.class", "Video/Source"}, {"node.name", "virtual"}, {"node.group", "virtual"}}),
       node(56, {{"media.class", "Audio/Source"},
                 {"node.name", "virtual-audio"},
                 {"node.group", "virtual"}})},
      {node(10, {{"device.bus-path", "pci-0000:00:14.0-usb-0:2:1.0"}}),
       node(11, {{"device.bus-path", "pci-0000:00:1f.3"}}),
       node(12, {{"device.bus-path", "pci-0000:00:14.0-usb-0:2:1.2"}}),
       node(13, {{"device.bus-path", "pci-0000:03:00.0"}, {"device.serial", "CARD-42"}}),
       node(14, {{"device.bus-path", "pci-0000:03:00.1"}, {"device.serial", "CARD-42"}})}};
  const auto cameras = camerasIn(graph);
  ASSERT_EQ(cameras.size(), 3U);
  EXPECT_EQ(cameras[0].audioNode, "webcam_mic") << "another interface of the same USB device";
  EXPECT_EQ(cameras[1].audioNode, "card_in") << "the same serial number";
  EXPECT_EQ(cameras[2].audioNode, "virtual-audio") << "the same node group";

  // A PCI device's functions are not one device's interfaces.
  graph.devices[4].properties.erase("device.serial");
  graph.devices[3].properties.erase("device.serial");
  EXPECT_FALSE(camerasIn(graph)[1].audioNode);
}

} // namespace
} // namespace Platform::Linux::Camera

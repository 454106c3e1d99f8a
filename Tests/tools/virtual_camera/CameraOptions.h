#pragma once

// What the virtual camera offers and shows, from its command line.

#include <cstdint>
#include <optional>
#include <string>

namespace VirtualCamera {

enum class Format { yuy2, uyvy, nv12, i420, mjpg, bgrx, rgbx };

struct Options {
  std::string name = "test-camera";
  std::string description = "Test Camera";
  Format format = Format::yuy2;
  std::uint16_t width = 640;
  std::uint16_t height = 480;
  std::uint32_t rate = 30;
  std::optional<double> flashEvery;
  std::optional<std::uint32_t> solid;
  bool audio = false;
  bool frames = true;
};

// Parses the command line; prints the usage and exits with 2 when it is wrong.
Options parse(int argc, char** argv);

} // namespace VirtualCamera

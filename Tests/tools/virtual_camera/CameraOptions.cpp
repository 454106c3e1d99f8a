#include "CameraOptions.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace VirtualCamera {

namespace {

constexpr std::array<std::pair<const char*, Format>, 7> formatNames{{
    {"YUY2", Format::yuy2},
    {"UYVY", Format::uyvy},
    {"NV12", Format::nv12},
    {"I420", Format::i420},
    {"MJPG", Format::mjpg},
    {"BGRx", Format::bgrx},
    {"RGBx", Format::rgbx},
}};

[[noreturn]] void usage(const char* problem) {
  std::fprintf(stderr,
               "virtual-camera: %s\nusage: virtual-camera [--name NAME] [--description TEXT] "
               "[--format YUY2|UYVY|NV12|I420|MJPG|BGRx|RGBx] [--size WxH] [--rate N] "
               "[--flash-every SECONDS] [--solid RRGGBB] [--audio] [--no-frames]\n",
               problem);
  std::exit(2);
}

} // namespace

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        usage(("missing value after " + argument).c_str());
      }
      return argv[++i];
    };
    if (argument == "--name") {
      options.name = value();
      if (options.name.empty()) {
        usage("--name takes a name");
      }
    } else if (argument == "--description") {
      options.description = value();
    } else if (argument == "--format") {
      const std::string name = value();
      bool known = false;
      for (const auto& [text, format] : formatNames) {
        if (name == text) {
          options.format = format;
          known = true;
        }
      }
      if (!known) {
        usage("--format takes YUY2, UYVY, NV12, I420, MJPG, BGRx or RGBx");
      }
    } else if (argument == "--size") {
      unsigned width = 0;
      unsigned height = 0;
      // Even sizes, so that every format's chroma covers whole pixels.
      if (std::sscanf(value().c_str(), "%ux%u", &width, &height) != 2 || width == 0 ||
          height == 0 || width > 8192 || height > 8192 || width % 2 != 0 || height % 2 != 0) {
        usage("--size takes WxH, even numbers up to 8192");
      }
      options.width = static_cast<std::uint16_t>(width);
      options.height = static_cast<std::uint16_t>(height);
    } else if (argument == "--rate") {
      const int rate = std::atoi(value().c_str());
      if (rate < 1 || rate > 240) {
        usage("--rate takes frames a second, 1 to 240");
      }
      options.rate = static_cast<std::uint32_t>(rate);
    } else if (argument == "--flash-every") {
      const double seconds = std::atof(value().c_str());
      if (!(seconds >= 0.2)) {
        usage("--flash-every takes seconds, at least 0.2");
      }
      options.flashEvery = seconds;
    } else if (argument == "--solid") {
      const std::string colour = value();
      char* end = nullptr;
      const unsigned long rgb = std::strtoul(colour.c_str(), &end, 16);
      if (colour.size() != 6 || *end != '\0') {
        usage("--solid takes RRGGBB");
      }
      options.solid = static_cast<std::uint32_t>(rgb);
    } else if (argument == "--audio") {
      options.audio = true;
    } else if (argument == "--no-frames") {
      options.frames = false;
    } else {
      usage(("unknown argument " + argument).c_str());
    }
  }
  return options;
}

} // namespace VirtualCamera

#include "support/VirtualCamera.h"

#include <csignal>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace TestSupport {

namespace {

std::vector<std::string> cameraArguments(const std::vector<std::string>& options) {
  std::vector<std::string> arguments{VIRTUAL_CAMERA_PATH};
  arguments.insert(arguments.end(), options.begin(), options.end());
  return arguments;
}

std::string errorPath(const TemporaryDirectory& directory) {
  return directory.path() + "/stderr";
}

} // namespace

VirtualCamera::VirtualCamera(const std::vector<std::string>& options,
                             const std::map<std::string, std::string>& environment)
    : process_(cameraArguments(options), environment, errorPath(errors_)) {
  if (process_.readLine(std::chrono::seconds(10)) != "ready") {
    unplug();
    std::ostringstream errors;
    errors << std::ifstream(errorPath(errors_)).rdbuf();
    throw std::runtime_error("virtual-camera did not start: " + errors.str());
  }
}

VirtualCamera::~VirtualCamera() {
  unplug();
}

void VirtualCamera::unplug() {
  process_.signal(SIGTERM);
  process_.wait(std::chrono::seconds(5));
}

} // namespace TestSupport

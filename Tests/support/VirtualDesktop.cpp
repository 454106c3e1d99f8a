#include "support/VirtualDesktop.h"

#include "support/Subprocess.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace TestSupport {

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarsel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary directory");
  }
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

int VirtualDesktop::xServerProcess() const {
  std::ifstream pids(stateDirectory_ + "/pids");
  std::string name;
  int pid = 0;
  while (pids >> name >> pid) {
    if (name == "xvfb") {
      return pid;
    }
  }
  return 0;
}

std::string VirtualDesktop::script(const std::string& name) {
  return std::string(TARSEL_SOURCE_DIR) + "/scripts/" + name;
}

VirtualDesktop::VirtualDesktop() {
  char pattern[] = "/tmp/tarsel-desktop-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    throw std::runtime_error("cannot make a state directory");
  }
  stateDirectory_ = pattern;
  const RunResult started =
      run({script("virtual-desktop"), "start", stateDirectory_}, {}, std::chrono::seconds(30));
  if (started.status != 0) {
    run({script("virtual-desktop"), "stop", stateDirectory_});
    throw std::runtime_error("the virtual desktop did not start: " + started.output);
  }
  std::istringstream lines(started.output);
  std::string line;
  while (std::getline(lines, line)) {
    const auto equals = line.find('=');
    if (equals != std::string::npos) {
      environment_[line.substr(0, equals)] = line.substr(equals + 1);
    }
  }
}

void VirtualDesktop::useInThisProcess() {
  for (const auto& [key, value] : environment_) {
    if (!replacedEnvironment_.contains(key)) {
      const char* previous = std::getenv(key.c_str());
      replacedEnvironment_[key] = previous ? std::optional<std::string>(previous) : std::nullopt;
    }
    setenv(key.c_str(), value.c_str(), 1);
  }
}

VirtualDesktop::~VirtualDesktop() {
  for (const auto& [key, previous] : replacedEnvironment_) {
    if (previous) {
      setenv(key.c_str(), previous->c_str(), 1);
    } else {
      unsetenv(key.c_str());
    }
  }
  run({script("virtual-desktop"), "stop", stateDirectory_});
  std::error_code ignored;
  std::filesystem::remove_all(stateDirectory_, ignored);
}

} // namespace TestSupport

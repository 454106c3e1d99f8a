#include "support/VirtualDesktop.h"

#include "support/Subprocess.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <sys/types.h>

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

int VirtualDesktop::serverProcess(const std::string& wanted) const {
  std::ifstream pids(stateDirectory_ + "/pids");
  std::string name;
  int pid = 0;
  while (pids >> name >> pid) {
    if (name == wanted) {
      return pid;
    }
  }
  return 0;
}

std::string VirtualDesktop::script(const std::string& name) {
  return std::string(TARSEL_SOURCE_DIR) + "/scripts/" + name;
}

VirtualDesktop::VirtualDesktop(WindowManager windowManager)
    : VirtualDesktop(Options{.windowManager = windowManager}) {}

VirtualDesktop::VirtualDesktop(Options options) : script_(script("virtual-desktop")) {
  std::vector<std::string> arguments;
  if (options.windowManager == WindowManager::reparenting) {
    arguments.push_back("--window-manager");
  }
  if (options.cameras) {
    arguments.push_back("--cameras");
  }
  start(std::move(arguments));
  // An X11 session, also when the tests run inside a Wayland one.
  environment_["WAYLAND_DISPLAY"] = "";
  environment_["XDG_SESSION_TYPE"] = "x11";
}

VirtualDesktop::VirtualDesktop(Wayland wayland, std::vector<std::string> options)
    : script_(script("wayland-desktop")) {
  if (wayland.compositor == Compositor::kwin) {
    options.insert(options.begin(), {"--kde", KWIN_SCREENCAST_PATH});
  }
  start(std::move(options));
  // No X display of the caller's may show through, only the desktop's own
  // XWayland.
  environment_.try_emplace("DISPLAY", "");
}

std::unique_ptr<VirtualDesktop> VirtualDesktop::waylandIfPossible(std::string& whyNot,
                                                                  std::vector<std::string> options,
                                                                  Wayland wayland) {
  try {
    return std::make_unique<VirtualDesktop>(wayland, std::move(options));
  } catch (const std::exception& error) {
    whyNot = error.what();
    return nullptr;
  }
}

void VirtualDesktop::start(std::vector<std::string> options) {
  char pattern[] = "/tmp/tarsel-desktop-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    throw std::runtime_error("cannot make a state directory");
  }
  stateDirectory_ = pattern;
  std::vector<std::string> command = {script_, "start", stateDirectory_};
  command.insert(command.end(), options.begin(), options.end());
  const RunResult started = run(command, {}, std::chrono::seconds(30));
  if (started.status != 0) {
    run({script_, "stop", stateDirectory_});
    std::error_code ignored;
    std::filesystem::remove_all(stateDirectory_, ignored);
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

void VirtualDesktop::pickScreenCast(const std::string& answer) const {
  const auto file = environment_.find("SCREENCAST_PICK_FILE");
  if (file == environment_.end()) {
    throw std::runtime_error("this desktop has no scripted screen-cast picker");
  }
  std::ofstream(file->second) << answer << "\n";
}

std::vector<std::string> VirtualDesktop::takeScreenCastEvents() const {
  const std::string path = environment_.at("SCREENCAST_PICK_FILE") + ".events";
  std::vector<std::string> events;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    events.push_back(line);
  }
  std::filesystem::remove(path);
  return events;
}

void VirtualDesktop::restartPortal() const {
  const RunResult restarted =
      run({script_, "restart-portal", stateDirectory_}, {}, std::chrono::seconds(30));
  if (restarted.status != 0) {
    throw std::runtime_error("the portal did not restart: " + restarted.output);
  }
}

void VirtualDesktop::restartPipeWire() const {
  const RunResult restarted =
      run({script_, "restart-pipewire", stateDirectory_}, {}, std::chrono::seconds(30));
  if (restarted.status != 0) {
    throw std::runtime_error("PipeWire did not restart: " + restarted.output);
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

void VirtualDesktop::killDisplayServer() {
  const int pid = xServerProcess();
  if (pid == 0) {
    throw std::runtime_error("the virtual desktop has no X server to kill");
  }
  ::kill(pid, SIGKILL);
}

VirtualDesktop::~VirtualDesktop() {
  for (const auto& [key, previous] : replacedEnvironment_) {
    if (previous) {
      setenv(key.c_str(), previous->c_str(), 1);
    } else {
      unsetenv(key.c_str());
    }
  }
  run({script_, "stop", stateDirectory_});
  std::error_code ignored;
  std::filesystem::remove_all(stateDirectory_, ignored);
}

} // namespace TestSupport

#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace TestSupport {

// A private X server and audio server for one test, started by
// scripts/virtual-desktop and stopped when the object goes away; or a
// private Wayland session (scripts/wayland-desktop).
class VirtualDesktop {
public:
  enum class WindowManager {
    none,
    reparenting, // openbox: windows get frames, can be minimized
  };

  explicit VirtualDesktop(WindowManager windowManager = WindowManager::none);

  struct Wayland {};
  // Headless mutter, PipeWire with its PulseAudio server and the desktop
  // portal, whose screen-cast picker answers as told by pickScreenCast.
  // Throws std::runtime_error when the session cannot start here.
  explicit VirtualDesktop(Wayland);
  // The Wayland desktop, or none where it cannot start here, with the reason
  // in `whyNot` (tests skip then: a machine without a compositor is no fault).
  static std::unique_ptr<VirtualDesktop> waylandIfPossible(std::string& whyNot);

  // What the Wayland desktop's picker answers next: "monitor", "window" or
  // "cancel".
  void pickScreenCast(const std::string& answer) const;
  ~VirtualDesktop();
  VirtualDesktop(const VirtualDesktop&) = delete;
  VirtualDesktop& operator=(const VirtualDesktop&) = delete;

  // DISPLAY, PULSE_SERVER and the other variables a child process needs.
  const std::map<std::string, std::string>& environment() const { return environment_; }

  // Points this process at the desktop (for tests that capture in-process);
  // the previous values come back on destruction.
  void useInThisProcess();

  // The process id of its X server, for tests that take it away.
  int xServerProcess() const;
  // Kills the X server at once, the way a crash would.
  void killDisplayServer();

  // The path of a script of the project (scripts/<name>).
  static std::string script(const std::string& name);

private:
  void start(std::vector<std::string> options);

  std::string script_;
  std::string stateDirectory_;
  std::map<std::string, std::string> environment_;
  std::map<std::string, std::optional<std::string>> replacedEnvironment_;
};

// A fresh temporary directory, removed with its contents on destruction.
class TemporaryDirectory {
public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::string& path() const { return path_; }

private:
  std::string path_;
};

} // namespace TestSupport

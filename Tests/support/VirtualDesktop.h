#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

// A private X server and audio server for one test, started by
// scripts/virtual-desktop and stopped when the object goes away; or a
// private Wayland session (scripts/wayland-desktop), which always has
// PipeWire for cameras.
class VirtualDesktop {
public:
  enum class WindowManager {
    none,
    reparenting, // openbox: windows get frames, can be minimized
  };

  explicit VirtualDesktop(WindowManager windowManager = WindowManager::none);

  struct Options {
    WindowManager windowManager = WindowManager::none;
    // Also PipeWire and its session manager, for virtual cameras
    // (support/VirtualCamera.h); the environment then names them.
    bool cameras = false;
  };
  explicit VirtualDesktop(Options options);

  enum class Compositor {
    gnomeShell, // mutter's casts, GNOME Shell's window list
    kwin,       // KDE Plasma's: KWin's casts and window list
  };
  struct Wayland {
    Compositor compositor = Compositor::gnomeShell;
  };
  // A headless compositor, PipeWire with its PulseAudio server and the
  // desktop portal, whose screen-cast picker answers as told by
  // pickScreenCast; `options` go to scripts/wayland-desktop start (such as
  // "--scale", "2"). Throws std::runtime_error when the session cannot start.
  explicit VirtualDesktop(Wayland wayland, std::vector<std::string> options = {});
  // The Wayland desktop, or none where it cannot start here, with the reason
  // in `whyNot` (tests skip then: a machine without a compositor is no fault).
  static std::unique_ptr<VirtualDesktop>
  waylandIfPossible(std::string& whyNot, std::vector<std::string> options, Wayland wayland);
  static std::unique_ptr<VirtualDesktop> waylandIfPossible(std::string& whyNot,
                                                           std::vector<std::string> options = {}) {
    return waylandIfPossible(whyNot, std::move(options), Wayland{});
  }

  // What the Wayland desktop's picker answers next ("monitor", "window
  // [TITLE]", "cancel" or "hold"), then lines that make its portal behave
  // like another desktop's ("types monitor", "restore off"): see
  // Tests/tools/screencast_portal/scripted_screencast_portal.py.
  void pickScreenCast(const std::string& answer) const;
  // What the user would have seen of the picker since the last call, a line
  // an event ("dialog window Notes", "restored window", "request closed").
  std::vector<std::string> takeScreenCastEvents() const;
  // Restarts the portal, which reads the kinds of source offered only then.
  void restartPortal() const;
  // Restarts PipeWire and its audio server, as a user's may.
  void restartPipeWire() const;
  ~VirtualDesktop();
  VirtualDesktop(const VirtualDesktop&) = delete;
  VirtualDesktop& operator=(const VirtualDesktop&) = delete;

  // DISPLAY, PULSE_SERVER and the other variables a child process needs.
  const std::map<std::string, std::string>& environment() const { return environment_; }

  // Points this process at the desktop (for tests that capture in-process);
  // the previous values come back on destruction.
  void useInThisProcess();

  // The process id of one of its servers, by the name its script records
  // it under: "xvfb" and "audio" (PulseAudio) on the X11 desktop,
  // "gnome-shell", "pipewire", "wireplumber", "pipewire-pulse" and "portal"
  // on the Wayland one, "pipewire" and "wireplumber" with cameras; 0 when
  // it has none of that name.
  int serverProcess(const std::string& name) const;
  // The process id of its X server, for tests that take it away.
  int xServerProcess() const { return serverProcess("xvfb"); }
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

#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// A private X server and the demo windows on it, started by the tests and
// killed when their owners go out of scope.

namespace X11Testing {

// A child process; its standard output can be read line by line. Stopped
// (SIGTERM, then SIGKILL after a grace period) on destruction.
class ChildProcess {
public:
  // `extraFd`, when not negative, becomes descriptor 3 of the child.
  ChildProcess(const std::vector<std::string>& arguments, int extraFd = -1);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // One line of standard output without its newline; throws when none comes
  // in time.
  std::string readLine(std::chrono::milliseconds timeout);

  void terminate();

private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string buffered_;
};

// Xvfb on a display number it picks itself; $DISPLAY names it while this
// lives.
class VirtualDisplay {
public:
  VirtualDisplay(int width, int height);
  ~VirtualDisplay();
  const std::string& name() const { return name_; }

private:
  std::string previousDisplay_;
  bool hadDisplay_ = false;
  std::string name_;
  std::unique_ptr<ChildProcess> server_;
};

// demo-window with the given options; its window id once it is mapped.
class DemoWindow {
public:
  explicit DemoWindow(std::vector<std::string> options);
  std::uint32_t id() const { return id_; }
  void close() { process_.terminate(); }

private:
  ChildProcess process_;
  std::uint32_t id_ = 0;
};

} // namespace X11Testing

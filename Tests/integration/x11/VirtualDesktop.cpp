#include "VirtualDesktop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace X11Testing {

namespace {

std::vector<std::string> demoArguments(std::vector<std::string> options) {
  options.insert(options.begin(), DEMO_WINDOW_PATH);
  return options;
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, int extraFd) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  if (extraFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, extraFd, 3);
  }
  std::vector<char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  const int result = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  output_ = pipeFds[0];
  if (result != 0) {
    ::close(output_);
    throw std::runtime_error("cannot start " + arguments[0]);
  }
}

ChildProcess::~ChildProcess() {
  terminate();
  ::close(output_);
}

void ChildProcess::terminate() {
  if (pid_ <= 0) {
    return;
  }
  kill(pid_, SIGTERM);
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string ChildProcess::readLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (const auto end = buffered_.find('\n'); end != std::string::npos) {
      std::string line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd watched{output_, POLLIN, 0};
    if (left.count() <= 0 || poll(&watched, 1, static_cast<int>(left.count())) <= 0) {
      throw std::runtime_error("no output in time");
    }
    char chunk[256];
    const ssize_t count = read(output_, chunk, sizeof chunk);
    if (count <= 0) {
      throw std::runtime_error("output ended");
    }
    buffered_.append(chunk, static_cast<std::size_t>(count));
  }
}

VirtualDisplay::VirtualDisplay(int width, int height) {
  if (const char* display = std::getenv("DISPLAY")) {
    hadDisplay_ = true;
    previousDisplay_ = display;
  }
  int numberPipe[2];
  if (pipe2(numberPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  server_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0",
                               std::to_string(width) + "x" + std::to_string(height) + "x24",
                               "-nolisten", "tcp",
                               // Without it the server resets whenever its last client leaves,
                               // refusing connections meanwhile.
                               "-noreset"},
      numberPipe[1]);
  ::close(numberPipe[1]);
  std::string number;
  pollfd watched{numberPipe[0], POLLIN, 0};
  char digit = 0;
  while (poll(&watched, 1, 10000) > 0 && read(numberPipe[0], &digit, 1) == 1 && digit != '\n') {
    number.push_back(digit);
  }
  ::close(numberPipe[0]);
  if (number.empty()) {
    server_.reset();
    throw std::runtime_error("Xvfb did not start");
  }
  name_ = ":" + number;
  setenv("DISPLAY", name_.c_str(), 1);
}

VirtualDisplay::~VirtualDisplay() {
  server_.reset();
  if (hadDisplay_) {
    setenv("DISPLAY", previousDisplay_.c_str(), 1);
  } else {
    unsetenv("DISPLAY");
  }
}

DemoWindow::DemoWindow(std::vector<std::string> options)
    : process_(demoArguments(std::move(options))) {
  id_ = static_cast<std::uint32_t>(std::stoul(process_.readLine(std::chrono::seconds(10))));
}

} // namespace X11Testing

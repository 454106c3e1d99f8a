#include "Platform/Linux/System/DetachedProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace Platform::Linux::System {

namespace {

class SpawnAttributes {
public:
  SpawnAttributes() { valid_ = posix_spawnattr_init(&attributes_) == 0; }
  ~SpawnAttributes() {
    if (valid_) {
      posix_spawnattr_destroy(&attributes_);
    }
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;

  // Own session; no blocked or caught signals inherited from us.
  bool configure() {
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD, SIGQUIT}) {
      sigaddset(&defaults, signal);
    }
    return valid_ &&
           posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                      POSIX_SPAWN_SETSIGDEF) == 0 &&
           posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
           posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0;
  }
  const posix_spawnattr_t* get() const { return &attributes_; }

private:
  posix_spawnattr_t attributes_{};
  bool valid_ = false;
};

class FileActions {
public:
  FileActions() { valid_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~FileActions() {
    if (valid_) {
      posix_spawn_file_actions_destroy(&actions_);
    }
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;

  // Our standard output is read by whoever started us: the program must not
  // hold it open.
  bool silenceStandardStreams() {
    return valid_ &&
           posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0) ==
               0 &&
           posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0) ==
               0 &&
           posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0) ==
               0;
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
  posix_spawn_file_actions_t actions_{};
  bool valid_ = false;
};

} // namespace

std::optional<std::string> findProgram(const std::string& program, const std::string& searchPath) {
  if (program.empty() || program.find('/') != std::string::npos) {
    return std::nullopt;
  }
  std::size_t start = 0;
  while (start <= searchPath.size()) {
    auto end = searchPath.find(':', start);
    if (end == std::string::npos) {
      end = searchPath.size();
    }
    const std::string directory = searchPath.substr(start, end - start);
    // An empty entry would mean the working directory: never trusted here.
    if (!directory.empty() && directory.front() == '/') {
      const std::string candidate = directory + "/" + program;
      if (access(candidate.c_str(), X_OK) == 0) {
        struct stat status;
        if (stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
          return candidate;
        }
      }
    }
    start = end + 1;
  }
  return std::nullopt;
}

bool startDetached(const std::vector<std::string>& arguments) {
  if (arguments.empty() || arguments.front().empty() || arguments.front().front() != '/') {
    return false;
  }
  SpawnAttributes attributes;
  FileActions actions;
  if (!attributes.configure() || !actions.silenceStandardStreams()) {
    return false;
  }
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const auto& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);

  pid_t child = 0;
  if (posix_spawn(&child, argv.front(), actions.get(), attributes.get(), argv.data(), environ) !=
      0) {
    return false;
  }
  std::thread([child] {
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

} // namespace Platform::Linux::System

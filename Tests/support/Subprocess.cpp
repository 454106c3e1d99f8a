#include "support/Subprocess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace TestSupport {

namespace {

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const auto equals = text.find('=');
    if (equals != std::string::npos) {
      merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
  }
  for (const auto& [key, value] : extra) {
    merged[key] = value;
  }
  std::vector<std::string> result;
  for (const auto& [key, value] : merged) {
    result.push_back(key + "=" + value);
  }
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (auto& text : texts) {
    result.push_back(text.data());
  }
  result.push_back(nullptr);
  return result;
}

} // namespace

Subprocess::Subprocess(const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& environment,
                       const std::optional<std::string>& errorPath) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (errorPath) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorPath->c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  std::vector<std::string> argumentTexts = arguments;
  std::vector<std::string> environmentTexts = mergedEnvironment(environment);
  auto argv = pointers(argumentTexts);
  auto envp = pointers(environmentTexts);
  const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  output_ = pipeEnds[0];
  if (error != 0) {
    close(output_);
    throw std::runtime_error("cannot start " + arguments.front() + ": " + std::strerror(error));
  }
}

void Subprocess::closeOutput() {
  if (output_ >= 0) {
    close(output_);
    output_ = -1;
  }
  outputEnded_ = true;
}

Subprocess::~Subprocess() {
  if (!status_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (output_ >= 0) {
    close(output_);
  }
}

bool Subprocess::fill(std::chrono::steady_clock::time_point deadline) {
  if (outputEnded_) {
    return false;
  }
  const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  if (remaining.count() <= 0) {
    return false;
  }
  pollfd descriptor{output_, POLLIN, 0};
  if (poll(&descriptor, 1, static_cast<int>(remaining.count())) <= 0) {
    return false;
  }
  char buffer[4096];
  const ssize_t count = read(output_, buffer, sizeof buffer);
  if (count <= 0) {
    outputEnded_ = count == 0 || errno != EINTR;
    return !outputEnded_;
  }
  pending_.append(buffer, static_cast<std::size_t>(count));
  return true;
}

std::optional<std::string> Subprocess::readLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return line;
    }
    if (!fill(deadline)) {
      return std::nullopt;
    }
  }
}

std::string Subprocess::readAll(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (fill(deadline)) {
  }
  return std::exchange(pending_, {});
}

void Subprocess::signal(int signalNumber) {
  // Once reaped, its process id may be another process's.
  if (!status_) {
    kill(pid_, signalNumber);
  }
}

std::optional<int> Subprocess::wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!status_) {
    int raw = 0;
    const pid_t done = waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

RunResult run(const std::vector<std::string>& arguments,
              const std::map<std::string, std::string>& environment,
              std::chrono::milliseconds timeout) {
  Subprocess process(arguments, environment);
  RunResult result;
  result.output = process.readAll(timeout);
  const auto status = process.wait(std::chrono::seconds(5));
  result.status = status.value_or(-SIGKILL);
  return result;
}

} // namespace TestSupport

#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace TestSupport {

// A child process whose standard output the test reads line by line while it
// runs, as the parent application does. Standard error is passed through
// unless asked otherwise.
class Subprocess {
public:
  // `environment` entries are added to (or replace those of) ours; its
  // standard error goes to the file `errorPath` when one is given.
  Subprocess(const std::vector<std::string>& arguments,
             const std::map<std::string, std::string>& environment = {},
             const std::optional<std::string>& errorPath = std::nullopt);
  ~Subprocess(); // kills the process if it still runs

  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // The next whole line (without "\n"), or nothing when the output ended or
  // the timeout passed first.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout);
  // Everything until the output ends (or the timeout passes).
  std::string readAll(std::chrono::milliseconds timeout);

  // Closes our end of its standard output, as a parent that stops reading.
  void closeOutput();

  void signal(int signalNumber);
  // The exit status, or -signal when killed; nothing on timeout.
  std::optional<int> wait(std::chrono::milliseconds timeout);

  pid_t pid() const { return pid_; }

private:
  bool fill(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int output_ = -1;
  bool outputEnded_ = false;
  std::string pending_;
  std::optional<int> status_;
};

struct RunResult {
  std::string output;
  int status = -1;
};

// Runs to completion (killed after the timeout) and returns output and status.
RunResult run(const std::vector<std::string>& arguments,
              const std::map<std::string, std::string>& environment = {},
              std::chrono::milliseconds timeout = std::chrono::seconds(30));

} // namespace TestSupport

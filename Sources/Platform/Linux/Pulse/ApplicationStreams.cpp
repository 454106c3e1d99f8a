#include "Platform/Linux/Pulse/ApplicationStreams.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string_view>
#include <utility>

namespace Platform::Linux::Pulse {

namespace {

// Deeper than any real process tree; a loop of parent links cannot hold us.
constexpr int deepestTree = 256;

std::optional<pid_t> parentOf(pid_t process) {
  std::ifstream status("/proc/" + std::to_string(process) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("PPid:", 0) == 0) {
      try {
        return static_cast<pid_t>(std::stol(line.substr(5)));
      } catch (const std::exception&) {
        return std::nullopt;
      }
    }
  }
  return std::nullopt;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(
      a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

} // namespace

bool isProcessWithin(pid_t process, pid_t ancestor) {
  if (process <= 0 || ancestor <= 0) {
    return false;
  }
  for (int depth = 0; depth < deepestTree && process > 0; ++depth) {
    if (process == ancestor) {
      return true;
    }
    const auto parent = parentOf(process);
    if (!parent) {
      return false;
    }
    process = *parent;
  }
  return false;
}

ApplicationMatch::ApplicationMatch(SCRunningApplication application)
    : application_(std::move(application)) {}

bool ApplicationMatch::owns(const PlaybackStream& stream) const {
  if (stream.processID && isProcessWithin(*stream.processID, application_.processID)) {
    return true;
  }
  return hasIdentifier(stream.applicationID);
}

// A sandbox names the application in reverse-domain form
// ("org.example.Meeting") where its window's class is often the last part.
bool ApplicationMatch::hasIdentifier(const std::string& applicationID) const {
  const std::string& ours = application_.bundleIdentifier;
  if (applicationID.empty() || ours.empty()) {
    return false;
  }
  if (equalsIgnoringCase(applicationID, ours)) {
    return true;
  }
  const auto dot = applicationID.rfind('.');
  return dot != std::string::npos &&
         equalsIgnoringCase(std::string_view(applicationID).substr(dot + 1), ours);
}

std::string ApplicationMatch::description() const {
  return "\"" + application_.applicationName + "\" (process " +
         std::to_string(application_.processID) + ", id \"" + application_.bundleIdentifier + "\")";
}

} // namespace Platform::Linux::Pulse

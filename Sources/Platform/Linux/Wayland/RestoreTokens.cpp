#include "Platform/Linux/Wayland/RestoreTokens.h"

#include "Platform/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform::Linux::Wayland {

namespace {

// Portals make tokens of a UUID's length; anything far longer is not one.
constexpr std::size_t longestToken = 1024;

std::string stateDirectory() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/') {
    return std::string(state) + "/tarsel-helper";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    return std::string(home) + "/.local/state/tarsel-helper";
  }
  return {};
}

// Makes the directory and its missing parents, private to the user.
bool makeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) {
      return true;
    }
  }
}

bool isToken(const std::string& text) {
  return !text.empty() && text.size() <= longestToken &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return c > ' ' && c < 127; });
}

void warn(const std::string& what) {
  Platform::log(LogLevel::warning, "The screen-cast pick cannot be remembered: " + what + " (" +
                                       std::strerror(errno) + ")");
}

} // namespace

RestoreTokens::RestoreTokens(std::string kind) : directory_(stateDirectory()) {
  if (!directory_.empty()) {
    path_ = directory_ + "/screencast-" + kind + ".token";
  }
}

std::optional<std::string> RestoreTokens::load() const {
  if (path_.empty()) {
    return std::nullopt;
  }
  std::ifstream file(path_);
  std::string token;
  if (!file || !std::getline(file, token) || !isToken(token)) {
    return std::nullopt;
  }
  return token;
}

void RestoreTokens::store(const std::optional<std::string>& token) const {
  if (path_.empty()) {
    return;
  }
  if (!token || !isToken(*token)) {
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT) {
      warn("the old token " + path_ + " cannot be removed");
    }
    return;
  }
  if (!makeDirectories(directory_)) {
    return warn(directory_ + " cannot be made");
  }
  // Written beside its place (mkostemp makes it 0600), then renamed over
  // it: a reader never sees half.
  std::string temporary = path_ + ".XXXXXX";
  const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (descriptor < 0) {
    return warn(temporary + " cannot be made");
  }
  const std::string line = *token + "\n";
  const bool written =
      ::write(descriptor, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
      ::fsync(descriptor) == 0;
  ::close(descriptor);
  if (!written || ::rename(temporary.c_str(), path_.c_str()) != 0) {
    warn(path_ + " cannot be written");
    ::unlink(temporary.c_str());
  }
}

} // namespace Platform::Linux::Wayland

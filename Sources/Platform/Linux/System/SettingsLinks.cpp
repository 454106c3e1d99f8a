#include "Platform/Linux/System/SettingsLinks.h"

#include "Platform/SystemServices.h"

#include <algorithm>
#include <cctype>

namespace Platform::Linux::System {

namespace {

using Command = std::vector<std::string>;

enum class Desktop { gnome, kde };

// Microphone access is not a separate permission on these desktops; the
// nearest page is where input devices are chosen. Screen sharing lives with
// GNOME's privacy settings; KDE has no such page.
std::vector<Command> settingsPages(std::string_view link, Desktop desktop) {
  if (link == microphoneSettingsLink) {
    if (desktop == Desktop::gnome) {
      return {{"gnome-control-center", "sound"}};
    }
    return {{"systemsettings", "kcm_pulseaudio"},
            {"systemsettings5", "kcm_pulseaudio"},
            {"kcmshell6", "kcm_pulseaudio"},
            {"kcmshell5", "kcm_pulseaudio"}};
  }
  if (link == screenRecordingSettingsLink && desktop == Desktop::gnome) {
    return {{"gnome-control-center", "privacy"}};
  }
  return {};
}

bool containsWord(std::string_view list, std::string_view word) {
  // XDG_CURRENT_DESKTOP is a colon-separated list such as "ubuntu:GNOME".
  std::size_t start = 0;
  while (start <= list.size()) {
    const auto end = std::min(list.find(':', start), list.size());
    if (list.substr(start, end - start) == word) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

std::string lowercaseScheme(std::string_view url) {
  const auto colon = url.find(':');
  if (colon == std::string_view::npos || colon == 0) {
    return {};
  }
  std::string scheme(url.substr(0, colon));
  const bool wellFormed =
      std::isalpha(static_cast<unsigned char>(scheme.front())) != 0 &&
      std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
      });
  if (!wellFormed) {
    return {};
  }
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](char c) { return static_cast<char>(std::tolower(c)); });
  return scheme;
}

} // namespace

std::optional<std::vector<std::string>>
commandToOpen(std::string_view url, std::string_view currentDesktop,
              const std::function<bool(const std::string& program)>& isInstalled) {
  const std::string scheme = lowercaseScheme(url);
  if (scheme == "http" || scheme == "https" || scheme == "file") {
    if (isInstalled("xdg-open")) {
      return Command{"xdg-open", std::string(url)};
    }
    return std::nullopt;
  }
  if (scheme != "x-apple.systempreferences") {
    return std::nullopt;
  }
  const bool kdeFirst = containsWord(currentDesktop, "KDE");
  const Desktop order[] = {kdeFirst ? Desktop::kde : Desktop::gnome,
                           kdeFirst ? Desktop::gnome : Desktop::kde};
  for (const Desktop desktop : order) {
    for (auto& command : settingsPages(url, desktop)) {
      if (isInstalled(command.front())) {
        return command;
      }
    }
  }
  return std::nullopt;
}

} // namespace Platform::Linux::System

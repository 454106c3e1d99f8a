#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What opening a URL means on a Linux desktop: the system-settings privacy
// links (Platform/SystemServices.h) go to the desktop's own settings page where one is known, web
// and file URLs to the desktop's URL handler.
//
// Thread contract: pure, callable from any thread.

namespace Platform::Linux::System {

// The program and arguments that open `url`, or nothing when no installed
// program does. `currentDesktop` is XDG_CURRENT_DESKTOP (its desktop's own
// settings are preferred); `isInstalled` says whether a program is on PATH.
std::optional<std::vector<std::string>>
commandToOpen(std::string_view url, std::string_view currentDesktop,
              const std::function<bool(const std::string& program)>& isInstalled);

} // namespace Platform::Linux::System

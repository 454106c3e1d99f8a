#include "Platform/Linux/X11/ClientWindowSelection.h"

namespace Platform::Linux::X11 {

std::vector<std::uint32_t> selectClientWindows(const std::vector<TopLevelWindow>& topLevels) {
  std::vector<std::uint32_t> clients;
  for (const TopLevelWindow& topLevel : topLevels) {
    if (!topLevel.mapped || topLevel.overrideRedirect) {
      continue;
    }
    if (topLevel.hasWmState) {
      clients.push_back(topLevel.id);
      continue;
    }
    bool framed = false;
    for (const ChildWindow& child : topLevel.children) {
      if (child.hasWmState) {
        clients.push_back(child.id);
        framed = true;
        break;
      }
    }
    if (!framed && topLevel.hasClientProperties) {
      clients.push_back(topLevel.id);
    }
  }
  return clients;
}

std::vector<std::uint32_t>
clientWindowsInStackingOrder(const std::optional<std::vector<std::uint32_t>>& clientListStacking,
                             const std::optional<std::vector<std::uint32_t>>& clientList,
                             const std::vector<TopLevelWindow>& topLevels) {
  if (clientListStacking) {
    return *clientListStacking;
  }
  if (clientList) {
    return *clientList;
  }
  return selectClientWindows(topLevels);
}

} // namespace Platform::Linux::X11

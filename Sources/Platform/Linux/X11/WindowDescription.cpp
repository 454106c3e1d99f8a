#include "Platform/Linux/X11/WindowDescription.h"

#include <algorithm>

namespace Platform::Linux::X11 {

namespace {

constexpr std::uint32_t allDesktops = 0xFFFFFFFF;

bool hasType(const WindowFacts& window, WindowType type) {
  return std::find(window.types.begin(), window.types.end(), type) != window.types.end();
}

bool isDesktopOrDock(const WindowFacts& window) {
  return hasType(window, WindowType::desktop) || hasType(window, WindowType::dock);
}

} // namespace

std::int64_t windowLayer(const WindowFacts& window) {
  if (hasType(window, WindowType::desktop)) {
    return WindowLayer::desktop;
  }
  if (hasType(window, WindowType::dock)) {
    return WindowLayer::dock;
  }
  for (const WindowType type :
       {WindowType::dropdownMenu, WindowType::popupMenu, WindowType::tooltip,
        WindowType::notification, WindowType::combo, WindowType::dnd}) {
    if (hasType(window, type)) {
      return WindowLayer::popUp;
    }
  }
  if (window.stateAbove) {
    return WindowLayer::above;
  }
  if (window.stateBelow) {
    return WindowLayer::below;
  }
  return WindowLayer::normal;
}

bool isOnScreen(const WindowFacts& window, const DesktopFacts& desktop) {
  if (!window.viewable || window.stateHidden) {
    return false;
  }
  if (!window.desktop || !desktop.currentDesktop || *window.desktop == allDesktops) {
    return true;
  }
  return *window.desktop == *desktop.currentDesktop;
}

std::optional<SCRunningApplication> owningApplication(const WindowFacts& window,
                                                      const ProcessNameLookup& processName) {
  std::optional<std::string> executable;
  if (window.pid && *window.pid > 0) {
    executable = processName(*window.pid);
  }
  SCRunningApplication application;
  application.processID = window.pid.value_or(0);
  if (window.wmClass) {
    application.applicationName = repairUtf8(window.wmClass->className);
    application.bundleIdentifier = repairUtf8(window.wmClass->instanceName);
    if (application.bundleIdentifier.empty() && executable) {
      application.bundleIdentifier = *executable;
    }
    return application;
  }
  if (!window.pid) {
    return std::nullopt;
  }
  application.applicationName = executable.value_or("");
  application.bundleIdentifier = executable.value_or("");
  return application;
}

SCWindow describeWindow(const WindowFacts& window, const DesktopFacts& desktop,
                        const ProcessNameLookup& processName) {
  SCWindow record;
  record.windowID = window.id;
  record.title = decodeTitle(window.netWmName, window.wmName);
  record.frame = window.frame;
  record.windowLayer = windowLayer(window);
  record.isOnScreen = isOnScreen(window, desktop);
  record.isActive = desktop.activeWindow == window.id;
  record.owningApplication = owningApplication(window, processName);
  return record;
}

std::vector<SCWindow> describeWindows(const std::vector<WindowFacts>& windows,
                                      const DesktopFacts& desktop, bool excludeDesktopWindows,
                                      bool onScreenWindowsOnly,
                                      const ProcessNameLookup& processName) {
  std::vector<SCWindow> records;
  records.reserve(windows.size());
  for (const WindowFacts& window : windows) {
    if (excludeDesktopWindows && isDesktopOrDock(window)) {
      continue;
    }
    if (onScreenWindowsOnly && !isOnScreen(window, desktop)) {
      continue;
    }
    records.push_back(describeWindow(window, desktop, processName));
  }
  return records;
}

} // namespace Platform::Linux::X11

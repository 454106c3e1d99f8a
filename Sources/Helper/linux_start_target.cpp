#include "platform_installation.h"

#include "Platform/Linux/Wayland/WaylandScreenCapture.h"

bool startWaitsForUser(const std::string& screenId) {
  return screenId == std::to_string(Platform::Linux::desktopPickerWindowID);
}

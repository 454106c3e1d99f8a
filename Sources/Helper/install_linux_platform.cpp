#include "platform_installation.h"

#include "Platform/Linux/LinuxPlatform.h"
#include "Platform/Linux/Wayland/WaylandScreenCapture.h"

void installPlatform() {
  Platform::install(Platform::Linux::makeLinuxServices());
}

bool startWaitsForUser(const std::string& screenId) {
  return screenId == std::to_string(Platform::Linux::desktopPickerWindowID);
}

#include "platform_installation.h"

#include "Platform/Linux/LinuxPlatform.h"

void installPlatform() {
  Platform::install(Platform::Linux::makeLinuxServices());
}

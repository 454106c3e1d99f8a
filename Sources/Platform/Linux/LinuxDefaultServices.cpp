#include "Platform/Linux/LinuxPlatform.h"

// The packaged library records on Linux without any set-up by the program.
Platform::Services Platform::makeDefaultServices() {
  return Linux::makeLinuxServices();
}

#include "platform_installation.h"

#include "Platform/Linux/LinuxQueryPlatform.h"

// The commands that list and ask: the launcher runs this program for every
// command but "start", so they never load what a recording needs.
void installPlatform() {
  Platform::install(Platform::Linux::makeLinuxQueryServices());
}

#include "Platform/Platform.h"

#include <stdexcept>

// The default of a build that bundles no platform: the program must install
// one before it records or lists anything.
Platform::Services Platform::makeDefaultServices() {
  throw std::logic_error("no platform services installed");
}

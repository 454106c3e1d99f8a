#include "platform_installation.h"

#include "Platform/Linux/LinuxPlatform.h"
#include "Platform/Log.h"

#include <cstdlib>
#include <string_view>

void installPlatform() {
  // TARSEL_LOG_LEVEL=info also says what the backends find of the devices
  // (how far a sound card's clock runs off); warnings and errors only
  // otherwise.
  if (const char* level = std::getenv("TARSEL_LOG_LEVEL")) {
    const std::string_view name = level;
    if (name == "info") {
      Platform::setLogLevel(Platform::LogLevel::info);
    } else if (name == "debug") {
      Platform::setLogLevel(Platform::LogLevel::debug);
    }
  }
  Platform::install(Platform::Linux::makeLinuxServices());
}

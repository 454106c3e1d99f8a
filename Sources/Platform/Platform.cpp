#include "Platform/Platform.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace Platform {

namespace {

std::mutex installedMutex;
Services installed;
// Replaced services stay alive, so a reference handed out earlier never dangles.
std::vector<Services> retired;

template <typename Service> Service& require(const std::shared_ptr<Service>& service) {
  if (!service) {
    std::fputs("no platform services installed\n", stderr);
    std::abort();
  }
  return *service;
}

Services current() {
  std::lock_guard lock(installedMutex);
  return installed;
}

} // namespace

void install(Services services) {
  std::lock_guard lock(installedMutex);
  retired.push_back(std::move(installed));
  installed = std::move(services);
}

ScreenCaptureService& screenCapture() {
  return require(current().screenCapture);
}
MediaCaptureService& mediaCapture() {
  return require(current().mediaCapture);
}
MediaWritingService& mediaWriting() {
  return require(current().mediaWriting);
}
SystemServices& system() {
  return require(current().system);
}

bool isOperatingSystemAtLeast(SystemServices& services, OperatingSystemVersion version) {
  const OperatingSystemVersion running = services.operatingSystemVersion();
  if (running.majorVersion != version.majorVersion) {
    return running.majorVersion > version.majorVersion;
  }
  if (running.minorVersion != version.minorVersion) {
    return running.minorVersion > version.minorVersion;
  }
  return running.patchVersion >= version.patchVersion;
}

} // namespace Platform

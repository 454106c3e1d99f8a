#include "Platform/Platform.h"

#include <mutex>
#include <stdexcept>
#include <vector>

namespace Platform {

namespace {

std::mutex installedMutex;
Services installed;
// Replaced services stay alive, so a reference handed out earlier never dangles.
std::vector<Services> retired;

// Set by the first install or first use; from then on the default is never made.
bool isChosen = false;

Services current() {
  std::lock_guard lock(installedMutex);
  if (!isChosen) {
    // Made under the lock, so threads racing to the first use make it once;
    // a factory that throws leaves the choice open for the next use.
    installed = makeDefaultServices();
    isChosen = true;
  }
  return installed;
}

template <typename Service> Service& require(const std::shared_ptr<Service>& service) {
  if (!service)
    throw std::logic_error("the installed platform services lack a service");
  return *service;
}

} // namespace

void install(Services services) {
  std::lock_guard lock(installedMutex);
  retired.push_back(std::move(installed));
  installed = std::move(services);
  isChosen = true;
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

} // namespace Platform

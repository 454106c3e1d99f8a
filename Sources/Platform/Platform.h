#pragma once

#include "Platform/MediaCapture.h"
#include "Platform/MediaWriting.h"
#include "Platform/ScreenCapture.h"
#include "Platform/SystemServices.h"

#include <memory>

namespace Platform {

// The services of one platform. Like the operating system it stands for, it
// is process-wide: installed once at start-up (a test may install another
// between cases), then read from any thread.
struct Services {
  std::shared_ptr<ScreenCaptureService> screenCapture;
  std::shared_ptr<MediaCaptureService> mediaCapture;
  std::shared_ptr<MediaWritingService> mediaWriting;
  std::shared_ptr<SystemServices> system;
};

// Replaces the services. Installing before the first use keeps the default
// services from ever being made.
void install(Services services);

// The services a program gets when it uses the platform before installing
// any: made once, on that first use. A library build that bundles a platform
// defines this to make that platform's services; without one it throws
// std::logic_error, which then reaches the first caller.
Services makeDefaultServices();

// The installed services, or the default ones on first use.
ScreenCaptureService& screenCapture();
MediaCaptureService& mediaCapture();
MediaWritingService& mediaWriting();
SystemServices& system();

} // namespace Platform

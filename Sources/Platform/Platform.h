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

void install(Services services);

// The installed services. Terminates with a message when none is installed.
ScreenCaptureService& screenCapture();
MediaCaptureService& mediaCapture();
MediaWritingService& mediaWriting();
SystemServices& system();

} // namespace Platform

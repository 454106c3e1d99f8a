#pragma once

#include "Platform/Linux/AudioCapture.h"
#include "Platform/ScreenCapture.h"

#include <memory>

// Screen capture on an X11 display: displays from RandR monitors, windows from
// the window manager's client list, and capture streams that grab through
// Composite and MIT-SHM. The display named by $DISPLAY is opened on first use
// and shared by every stream of the service.

namespace Platform::Linux {

// System audio of streams that capture audio comes from `audio`. The service
// and its streams may be used from any thread.
std::shared_ptr<ScreenCaptureService>
makeX11ScreenCaptureService(std::shared_ptr<AudioCaptureFactory> audio);

// Lists displays and windows like the service above but makes no streams:
// a program that never records links none of the capture code, nor loads the
// libraries it uses.
std::shared_ptr<ScreenCaptureService> makeX11ListingService();

// Whether the display named by $DISPLAY can be opened and its root window
// read: the screen-recording permission of this platform. Any thread.
bool canCaptureScreen();

} // namespace Platform::Linux

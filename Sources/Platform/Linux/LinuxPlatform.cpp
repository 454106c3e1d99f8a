#include "Platform/Linux/LinuxPlatform.h"

#include "Platform/FFmpeg/FFmpegMediaWriting.h"
#include "Platform/Linux/Pulse/PulseMediaCapture.h"
#include "Platform/Linux/System/LinuxSystemServices.h"
#include "Platform/Linux/X11/X11ScreenCapture.h"

namespace Platform::Linux {

Services makeLinuxServices() {
  Services services;
  services.screenCapture = makeX11ScreenCaptureService(makePulseAudioCaptureFactory());
  services.mediaCapture = makePulseMediaCaptureService();
  services.mediaWriting = FFmpeg::makeMediaWritingService();
  services.system = makeLinuxSystemServices(canCaptureScreen, audioServerAccepts);
  return services;
}

} // namespace Platform::Linux

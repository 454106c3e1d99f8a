#include "Platform/Linux/LinuxPlatform.h"

#include "Platform/FFmpeg/FFmpegMediaWriting.h"
#include "Platform/Linux/Pulse/PulseMediaCapture.h"
#include "Platform/Linux/System/LinuxSystemServices.h"
#include "Platform/Linux/Wayland/WaylandScreenCapture.h"
#include "Platform/Linux/X11/X11ScreenCapture.h"

namespace Platform::Linux {

Services makeLinuxServices() {
  Services services;
  // A Wayland desktop shows other clients' windows only through its portal;
  // audio comes from the PulseAudio server either way.
  const bool wayland = isWaylandSession();
  services.screenCapture = wayland ? makeWaylandScreenCaptureService(makePulseAudioCaptureFactory())
                                   : makeX11ScreenCaptureService(makePulseAudioCaptureFactory());
  services.mediaCapture = makePulseMediaCaptureService();
  services.mediaWriting = FFmpeg::makeMediaWritingService();
  services.system =
      makeLinuxSystemServices(wayland ? canCastScreen : canCaptureScreen, audioServerAccepts);
  return services;
}

} // namespace Platform::Linux

#include "Platform/Linux/LinuxPlatform.h"

#include "Platform/FFmpeg/FFmpegMediaWriting.h"
#include "Platform/Linux/Pulse/AudioServer.h"
#include "Platform/Linux/Pulse/PulseMediaCapture.h"
#include "Platform/Linux/System/LinuxSystemServices.h"
#include "Platform/Linux/Wayland/WaylandScreenCapture.h"
#include "Platform/Linux/X11/X11ScreenCapture.h"

namespace Platform::Linux {

Services makeLinuxServices() {
  // One way to the audio server for everything that records or lists audio.
  auto audioServer = std::make_shared<Pulse::AudioServer>();
  Services services;
  // A Wayland desktop shows other clients' windows only through its portal;
  // audio comes from the PulseAudio server either way.
  const bool wayland = isWaylandSession();
  auto audio = makePulseAudioCaptureFactory(audioServer);
  // XWayland's windows are X11 windows.
  auto x11 = makeX11ScreenCaptureService(audio);
  services.screenCapture = wayland ? makeWaylandScreenCaptureService(audio, std::move(x11)) : x11;
  services.mediaCapture = makePulseMediaCaptureService(audioServer);
  services.mediaWriting = FFmpeg::makeMediaWritingService();
  services.system = makeLinuxSystemServices(wayland ? canCastScreen : canCaptureScreen,
                                            [audioServer] { return audioServer->accepts(); });
  return services;
}

} // namespace Platform::Linux

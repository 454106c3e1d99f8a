#include "Platform/Linux/LinuxPlatform.h"

#include "Platform/FFmpeg/FFmpegMediaWriting.h"
#include "Platform/Linux/Camera/CameraDevices.h"
#include "Platform/Linux/LinuxQueryPlatform.h"
#include "Platform/Linux/PipeWire/PipeWireDaemon.h"
#include "Platform/Linux/Pulse/PulseMediaCapture.h"
#include "Platform/Linux/Wayland/WaylandScreenCapture.h"
#include "Platform/Linux/X11/X11ScreenCapture.h"

namespace Platform::Linux {

Services makeLinuxServices() {
  // One way to the audio server for everything that records or lists audio.
  auto audioServer = std::make_shared<Pulse::AudioServer>();
  // A Wayland desktop shows other clients' windows only through its portal;
  // audio comes from the PulseAudio server either way.
  const bool wayland = isWaylandSession();
  Services services = makeLinuxQueryServices(audioServer, wayland);
  auto audio = makePulseAudioCaptureFactory(audioServer);
  // And one to PipeWire, for cameras and screen casts alike.
  auto pipeWire = std::make_shared<PipeWire::Daemon>();
  services.mediaCapture = Capture::makeDeviceCaptureService(
      {makePulseDeviceBackend(audioServer), Camera::makeCameraBackend(audio, pipeWire)});
  // XWayland's windows are X11 windows.
  auto x11 = makeX11ScreenCaptureService(audio);
  services.screenCapture =
      wayland ? makeWaylandScreenCaptureService(audio, std::move(x11), std::move(pipeWire)) : x11;
  services.mediaWriting = FFmpeg::makeMediaWritingService();
  return services;
}

} // namespace Platform::Linux

#include "Platform/Linux/LinuxQueryPlatform.h"

#include "Platform/Linux/Pulse/PulseMediaCapture.h"
#include "Platform/Linux/System/LinuxSystemServices.h"
#include "Platform/Linux/Wayland/WaylandScreenCapture.h"
#include "Platform/Linux/X11/X11ScreenCapture.h"

namespace Platform::Linux {

Services makeLinuxQueryServices() {
  return makeLinuxQueryServices(std::make_shared<Pulse::AudioServer>(), isWaylandSession());
}

Services makeLinuxQueryServices(std::shared_ptr<Pulse::AudioServer> audioServer, bool wayland) {
  Services services;
  services.screenCapture =
      wayland ? makeWaylandListingService(makeX11ListingService()) : makeX11ListingService();
  services.mediaCapture = Capture::makeDeviceCaptureService({makePulseDeviceBackend(audioServer)});
  services.system = makeLinuxSystemServices(wayland ? canCastScreen : canCaptureScreen,
                                            [audioServer] { return audioServer->accepts(); });
  return services;
}

} // namespace Platform::Linux

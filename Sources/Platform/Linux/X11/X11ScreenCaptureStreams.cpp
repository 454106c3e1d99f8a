#include "Platform/Linux/X11/X11ScreenCapture.h"

#include "Platform/Linux/X11/X11Service.h"
#include "Platform/Linux/X11/X11Stream.h"

namespace Platform::Linux {

std::shared_ptr<ScreenCaptureService>
makeX11ScreenCaptureService(std::shared_ptr<AudioCaptureFactory> audio) {
  return X11::makeX11Service(
      [audio = std::move(audio)](
          std::function<std::shared_ptr<X11::XConnection>()> display, const SCContentFilter& filter,
          const SCStreamConfiguration& configuration, std::weak_ptr<SCStreamDelegate> delegate) {
        return std::make_shared<X11::X11Stream>(std::move(display), audio, filter, configuration,
                                                std::move(delegate));
      });
}

} // namespace Platform::Linux

#include "Platform/Linux/X11/X11ScreenCapture.h"

#include "Platform/Linux/Capture/CaptureErrors.h"
#include "Platform/Linux/Capture/CaptureStream.h"
#include "Platform/Linux/X11/X11Service.h"
#include "Platform/Linux/X11/XCaptureSource.h"

namespace Platform::Linux {

namespace {

// The content of one stream's start: the filter's window or display.
std::unique_ptr<Capture::CaptureSource>
makeSource(const std::shared_ptr<X11::XConnection>& connection, const SCContentFilter& filter,
           const SCStreamConfiguration& configuration) {
  if (!connection->hasCapturableImageFormat()) {
    Capture::throwCaptureError(Capture::CaptureErrorCode::failedToStart,
                               "X display \"" + connection->displayName() +
                                   "\" does not use 24-bit true colour, the only format captured");
  }
  if (filter.window()) {
    return X11::makeWindowCaptureSource(connection, filter.window()->windowID,
                                        configuration.showsCursor);
  }
  return X11::makeDisplayCaptureSource(connection, filter.display()->displayID,
                                       configuration.sourceRect, configuration.showsCursor);
}

} // namespace

std::shared_ptr<ScreenCaptureService>
makeX11ScreenCaptureService(std::shared_ptr<AudioCaptureFactory> audio) {
  return X11::makeX11Service(
      [audio = std::move(audio)](
          std::function<std::shared_ptr<X11::XConnection>()> display, const SCContentFilter& filter,
          const SCStreamConfiguration& configuration, std::weak_ptr<SCStreamDelegate> delegate) {
        return std::make_shared<Capture::CaptureStream>(
            [display = std::move(display), filter, configuration](std::stop_token) {
              return makeSource(display(), filter, configuration);
            },
            audio, configuration, std::move(delegate),
            filter.window() ? filter.window()->owningApplication : std::nullopt);
      });
}

} // namespace Platform::Linux

#include "Platform/Linux/X11/X11ScreenCapture.h"

#include "Platform/Linux/Capture/CaptureErrors.h"
#include "Platform/Linux/Capture/CaptureStream.h"
#include "Platform/Linux/X11/XCaptureSource.h"
#include "Platform/Linux/X11/XConnection.h"
#include "Platform/Linux/X11/XDiscovery.h"

#include <mutex>

namespace Platform::Linux {

namespace {

using X11::XConnection;

// Opens the display on first use and hands the same connection to every
// user until it breaks; then the next user opens a new one.
class SharedDisplay {
public:
  std::shared_ptr<XConnection> get() {
    std::lock_guard lock(mutex_);
    if (!connection_ || !connection_->isAlive()) {
      connection_ = XConnection::open(std::nullopt);
    }
    return connection_;
  }

private:
  std::mutex mutex_;
  std::shared_ptr<XConnection> connection_; // guarded by mutex_
};

// The content of one stream's start: the filter's window or display.
std::unique_ptr<Capture::CaptureSource> makeSource(const std::shared_ptr<XConnection>& connection,
                                                   const SCContentFilter& filter,
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

class X11ScreenCaptureService final : public ScreenCaptureService {
public:
  explicit X11ScreenCaptureService(std::shared_ptr<AudioCaptureFactory> audio)
      : audio_(std::move(audio)) {}

  SCShareableContent shareableContent(bool excludeDesktopWindows,
                                      bool onScreenWindowsOnly) override {
    const auto connection = display_->get();
    SCShareableContent content;
    for (X11::DisplayFacts& facts : X11::readDisplays(*connection)) {
      content.displays.push_back(facts.display);
    }
    content.windows = X11::describeWindows(X11::readWindows(*connection),
                                           X11::readDesktop(*connection), excludeDesktopWindows,
                                           onScreenWindowsOnly, X11::processExecutableName);
    return content;
  }

  std::shared_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                       const SCStreamConfiguration& configuration,
                                       std::weak_ptr<SCStreamDelegate> delegate) override {
    return std::make_shared<Capture::CaptureStream>(
        [display = display_, filter, configuration](std::stop_token) {
          return makeSource(display->get(), filter, configuration);
        },
        audio_, configuration, std::move(delegate));
  }

  std::uint32_t mainDisplayID() override {
    const auto displays = displaysOrNone();
    // 0 names no display, as when none is connected.
    return displays.empty() ? 0 : displays.front().display.displayID;
  }

  std::optional<CGDisplayMode> displayMode(std::uint32_t displayID) override {
    for (const X11::DisplayFacts& facts : displaysOrNone()) {
      if (facts.display.displayID == displayID) {
        // X has no point scaling: a point is a pixel.
        return CGDisplayMode{facts.display.width, facts.display.height, facts.display.width,
                             facts.display.height};
      }
    }
    return std::nullopt;
  }

  std::vector<NSScreen> screens() override {
    std::vector<NSScreen> screens;
    for (const X11::DisplayFacts& facts : displaysOrNone()) {
      screens.push_back(NSScreen{facts.display.displayID, facts.name});
    }
    return screens;
  }

private:
  // These queries cannot fail by contract: without a display there is none.
  std::vector<X11::DisplayFacts> displaysOrNone() {
    try {
      return X11::readDisplays(*display_->get());
    } catch (const Error&) {
      return {};
    }
  }

  const std::shared_ptr<AudioCaptureFactory> audio_;
  const std::shared_ptr<SharedDisplay> display_ = std::make_shared<SharedDisplay>();
};

} // namespace

std::shared_ptr<ScreenCaptureService>
makeX11ScreenCaptureService(std::shared_ptr<AudioCaptureFactory> audio) {
  return std::make_shared<X11ScreenCaptureService>(std::move(audio));
}

bool canCaptureScreen() {
  try {
    const auto connection = XConnection::open(std::nullopt);
    xcb_connection_t* c = connection->get();
    X11::XReply<xcb_get_image_reply_t> pixel(xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, connection->root(), 0, 0, 1, 1, ~0U),
        nullptr));
    return pixel != nullptr;
  } catch (const Error&) {
    return false;
  }
}

} // namespace Platform::Linux

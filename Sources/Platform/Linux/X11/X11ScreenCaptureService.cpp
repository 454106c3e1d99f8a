#include "Platform/Linux/X11/X11ScreenCapture.h"

#include "Platform/Error.h"
#include "Platform/Linux/X11/X11Service.h"
#include "Platform/Linux/X11/XConnection.h"
#include "Platform/Linux/X11/XDiscovery.h"
#include "Platform/ThreadSafety.h"

namespace Platform::Linux {

namespace {

using X11::XConnection;

// Opens the display on first use and hands the same connection to every
// user until it breaks; then the next user opens a new one.
class SharedDisplay {
public:
  std::shared_ptr<XConnection> get() {
    Lock lock(mutex_);
    if (!connection_ || !connection_->isAlive()) {
      connection_ = XConnection::open(std::nullopt);
    }
    return connection_;
  }

private:
  Mutex mutex_;
  std::shared_ptr<XConnection> connection_ GUARDED_BY(mutex_);
};

class X11ScreenCaptureService final : public ScreenCaptureService {
public:
  explicit X11ScreenCaptureService(X11::StreamMaker makeStream)
      : makeStream_(std::move(makeStream)) {}

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
    if (!makeStream_) {
      throw SystemError(ErrorDomain::screenCapture, -3802,
                        "This screen capture service lists only; it makes no streams");
    }
    return makeStream_([display = display_] { return display->get(); }, filter, configuration,
                       std::move(delegate));
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

  const X11::StreamMaker makeStream_;
  const std::shared_ptr<SharedDisplay> display_ = std::make_shared<SharedDisplay>();
};

} // namespace

std::shared_ptr<ScreenCaptureService> X11::makeX11Service(StreamMaker makeStream) {
  return std::make_shared<X11ScreenCaptureService>(std::move(makeStream));
}

std::shared_ptr<ScreenCaptureService> makeX11ListingService() {
  return X11::makeX11Service(nullptr);
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

#include "Platform/Linux/Capture/CaptureErrors.h"
#include "Platform/Linux/X11/DamageTracker.h"
#include "Platform/Linux/X11/ImageGrabber.h"
#include "Platform/Linux/X11/XCaptureSource.h"

#include <xcb/composite.h>

#include <atomic>
#include <string>

namespace Platform::Linux::X11 {

using Capture::captureError;
using Capture::throwCaptureError;
namespace CaptureErrorCode = Capture::CaptureErrorCode;

namespace {

class WindowCaptureSource final : public XCaptureSource {
public:
  WindowCaptureSource(std::shared_ptr<XConnection> connection, xcb_window_t window,
                      bool showsCursor)
      : XCaptureSource(std::move(connection), showsCursor), window_(window), grabber_(connection_) {
    xcb_connection_t* c = connection_->get();
    // Ask for the window's structure events first, so a close between the
    // geometry check and now is still reported.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    const auto selectCookie =
        xcb_change_window_attributes_checked(c, window_, XCB_CW_EVENT_MASK, &mask);
    subscription_ =
        connection_->subscribe([this](const xcb_generic_event_t& event) { onEvent(event); });
    XReply<xcb_generic_error_t> selectError(xcb_request_check(c, selectCookie));
    if (selectError || !readGeometry()) {
      throwCaptureError(CaptureErrorCode::noCaptureSource,
                        "The window " + std::to_string(window_) + " no longer exists");
    }
    if (connection_->extensions().composite) {
      // Automatic redirection keeps the window's own pixels in an off-screen
      // pixmap even where other windows cover it; the server still draws
      // the screen as before.
      XReply<xcb_generic_error_t> error(xcb_request_check(
          c, xcb_composite_redirect_window_checked(c, window_, XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
      redirected_ = !error;
    }
    damage_ = std::make_unique<DamageTracker>(connection_, window_);
  }

  ~WindowCaptureSource() override {
    subscription_ = {};
    damage_.reset();
    xcb_connection_t* c = connection_->get();
    freePixmap();
    if (redirected_) {
      xcb_composite_unredirect_window(c, window_, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    }
    xcb_flush(c);
  }

  // The X server draws what it shows now: a grab is never ahead of it.
  ErrorRef update(CMTime /*gridPoint*/) override {
    if (ErrorRef lost = pumpConnection()) {
      return lost;
    }
    if (destroyed_) {
      return closedError();
    }
    if (reconfigured_.exchange(false)) {
      freePixmap();
      if (!readGeometry()) {
        return closedError();
      }
      damage_->markChanged();
    }
    return nullptr;
  }

  bool takeChange() override { return damage_->takeChange(); }

  Capture::Grab grab() override {
    xcb_drawable_t drawable = window_;
    std::int16_t x = 0;
    std::int16_t y = 0;
    if (redirected_) {
      if (pixmap_ == 0 && !namePixmap()) {
        return Capture::Grab{pixmapOutcome_, {}, {}};
      }
      // The window's pixmap includes its border.
      drawable = pixmap_;
      x = static_cast<std::int16_t>(border_);
      y = static_cast<std::int16_t>(border_);
    }
    Capture::Grab grabbed = grabber_.grab(drawable, x, y, width_, height_);
    if (grabbed.outcome != Capture::Grab::Outcome::grabbed) {
      // Named again on the next grab: the window may have been re-mapped.
      freePixmap();
    }
    return grabbed;
  }

  std::int32_t width() const override { return width_; }
  std::int32_t height() const override { return height_; }

private:
  xcb_window_t pointerWindow() const override { return window_; }
  std::int32_t pointerOffsetX() const override { return 0; }
  std::int32_t pointerOffsetY() const override { return 0; }

  void onEvent(const xcb_generic_event_t& event) {
    switch (event.response_type & 0x7F) {
    case XCB_DESTROY_NOTIFY:
      if (reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window == window_) {
        destroyed_ = true;
      }
      break;
    case XCB_CONFIGURE_NOTIFY:
      if (reinterpret_cast<const xcb_configure_notify_event_t&>(event).window == window_) {
        reconfigured_ = true;
      }
      break;
    case XCB_MAP_NOTIFY:
      // Mapping gives the window a new off-screen pixmap.
      if (reinterpret_cast<const xcb_map_notify_event_t&>(event).window == window_) {
        reconfigured_ = true;
      }
      break;
    default:
      break;
    }
  }

  bool readGeometry() {
    xcb_connection_t* c = connection_->get();
    XReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window_), nullptr));
    if (!geometry) {
      return false;
    }
    width_ = geometry->width;
    height_ = geometry->height;
    border_ = geometry->border_width;
    return true;
  }

  bool namePixmap() {
    xcb_connection_t* c = connection_->get();
    const xcb_pixmap_t pixmap = connection_->generateId();
    XReply<xcb_generic_error_t> error(
        xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, window_, pixmap)));
    if (error) {
      // BadMatch: not viewable now. BadWindow: gone.
      pixmapOutcome_ = error->error_code == XCB_MATCH ? Capture::Grab::Outcome::unavailable
                                                      : Capture::Grab::Outcome::gone;
      return false;
    }
    pixmap_ = pixmap;
    return true;
  }

  void freePixmap() {
    if (pixmap_ != 0) {
      xcb_free_pixmap(connection_->get(), pixmap_);
      pixmap_ = 0;
    }
  }

  ErrorRef closedError() const {
    return captureError(CaptureErrorCode::noCaptureSource,
                        "The captured window " + std::to_string(window_) + " was closed");
  }

  const xcb_window_t window_;
  std::atomic<bool> destroyed_{false};
  std::atomic<bool> reconfigured_{false};
  ImageGrabber grabber_;
  std::unique_ptr<DamageTracker> damage_;
  XConnection::Subscription subscription_;
  bool redirected_ = false;
  xcb_pixmap_t pixmap_ = 0;
  Capture::Grab::Outcome pixmapOutcome_ = Capture::Grab::Outcome::unavailable;
  std::uint16_t width_ = 0;
  std::uint16_t height_ = 0;
  std::uint16_t border_ = 0;
};

} // namespace

std::unique_ptr<Capture::CaptureSource>
makeWindowCaptureSource(std::shared_ptr<XConnection> connection, std::uint32_t windowID,
                        bool showsCursor) {
  return std::make_unique<WindowCaptureSource>(std::move(connection), windowID, showsCursor);
}

} // namespace Platform::Linux::X11

#include "Platform/Linux/Capture/CaptureErrors.h"
#include "Platform/Linux/X11/DamageTracker.h"
#include "Platform/Linux/X11/ImageGrabber.h"
#include "Platform/Linux/X11/XCaptureSource.h"
#include "Platform/Linux/X11/XDiscovery.h"

#include <xcb/randr.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>

namespace Platform::Linux::X11 {

using Capture::captureError;
using Capture::throwCaptureError;
namespace CaptureErrorCode = Capture::CaptureErrorCode;

namespace {

struct Area {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// The display's area in root coordinates, cut to the source rectangle (in
// the display's own coordinates). Empty when they do not overlap.
Area areaOf(const SCDisplay& display, const std::optional<CGRect>& sourceRect) {
  const auto left = static_cast<std::int64_t>(display.frame.x);
  const auto top = static_cast<std::int64_t>(display.frame.y);
  std::int64_t x0 = left;
  std::int64_t y0 = top;
  std::int64_t x1 = left + static_cast<std::int64_t>(display.frame.width);
  std::int64_t y1 = top + static_cast<std::int64_t>(display.frame.height);
  if (sourceRect) {
    const CGRect& rect = *sourceRect;
    if (!std::isfinite(rect.x) || !std::isfinite(rect.y) || !std::isfinite(rect.width) ||
        !std::isfinite(rect.height)) {
      return {};
    }
    // Whole pixels covering the rectangle, inside the display.
    const double clampedLeft = std::clamp(std::floor(rect.x), 0.0, display.frame.width);
    const double clampedTop = std::clamp(std::floor(rect.y), 0.0, display.frame.height);
    const double clampedRight =
        std::clamp(std::floor(rect.x) + std::trunc(rect.width), 0.0, display.frame.width);
    const double clampedBottom =
        std::clamp(std::floor(rect.y) + std::trunc(rect.height), 0.0, display.frame.height);
    x0 = left + static_cast<std::int64_t>(clampedLeft);
    y0 = top + static_cast<std::int64_t>(clampedTop);
    x1 = left + static_cast<std::int64_t>(clampedRight);
    y1 = top + static_cast<std::int64_t>(clampedBottom);
  }
  if (x1 <= x0 || y1 <= y0) {
    return {};
  }
  return Area{static_cast<std::int32_t>(x0), static_cast<std::int32_t>(y0),
              static_cast<std::int32_t>(x1 - x0), static_cast<std::int32_t>(y1 - y0)};
}

std::optional<SCDisplay> findDisplay(const XConnection& connection, std::uint32_t displayID) {
  for (const DisplayFacts& facts : readDisplays(connection)) {
    if (facts.display.displayID == displayID) {
      return facts.display;
    }
  }
  return std::nullopt;
}

class DisplayCaptureSource final : public XCaptureSource {
public:
  DisplayCaptureSource(std::shared_ptr<XConnection> connection, std::uint32_t displayID,
                       std::optional<CGRect> sourceRect, bool showsCursor)
      : XCaptureSource(std::move(connection), showsCursor), displayID_(displayID),
        sourceRect_(std::move(sourceRect)), grabber_(connection_) {
    const Extensions& extensions = connection_->extensions();
    if (extensions.randrMonitors) {
      const std::uint8_t screenChange = extensions.randrFirstEvent + XCB_RANDR_SCREEN_CHANGE_NOTIFY;
      const std::uint8_t outputChange = extensions.randrFirstEvent + XCB_RANDR_NOTIFY;
      subscription_ = connection_->subscribe(
          [this, screenChange, outputChange](const xcb_generic_event_t& event) {
            const std::uint8_t type = event.response_type & 0x7F;
            if (type == screenChange || type == outputChange) {
              layoutChanged_ = true;
            }
          });
      xcb_randr_select_input(connection_->get(), connection_->root(),
                             XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE |
                                 XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE |
                                 XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE);
    }
    const std::optional<SCDisplay> display = findDisplay(*connection_, displayID_);
    if (!display) {
      throwCaptureError(CaptureErrorCode::noCaptureSource,
                        "The display " + std::to_string(displayID_) + " is not connected");
    }
    area_ = areaOf(*display, sourceRect_);
    if (area_.width == 0) {
      throwCaptureError(CaptureErrorCode::invalidParameter,
                        "The source rectangle lies outside the display " +
                            std::to_string(displayID_));
    }
    damage_ = std::make_unique<DamageTracker>(connection_, connection_->root());
  }

  ~DisplayCaptureSource() override {
    subscription_ = {};
    damage_.reset();
  }

  // The X server draws what it shows now: a grab is never ahead of it.
  ErrorRef update(CMTime /*gridPoint*/) override {
    if (ErrorRef lost = pumpConnection()) {
      return lost;
    }
    if (!layoutChanged_.exchange(false)) {
      return nullptr;
    }
    const std::optional<SCDisplay> display = findDisplay(*connection_, displayID_);
    const Area area = display ? areaOf(*display, sourceRect_) : Area{};
    if (area.width == 0) {
      return captureError(CaptureErrorCode::noCaptureSource, "The captured display " +
                                                                 std::to_string(displayID_) +
                                                                 " was disconnected");
    }
    area_ = area;
    damage_->markChanged();
    return nullptr;
  }

  bool takeChange() override { return damage_->takeChange(); }

  Capture::Grab grab() override {
    return grabber_.grab(
        connection_->root(), static_cast<std::int16_t>(area_.x), static_cast<std::int16_t>(area_.y),
        static_cast<std::uint16_t>(area_.width), static_cast<std::uint16_t>(area_.height));
  }

  std::int32_t width() const override { return area_.width; }
  std::int32_t height() const override { return area_.height; }

private:
  xcb_window_t pointerWindow() const override { return connection_->root(); }
  std::int32_t pointerOffsetX() const override { return area_.x; }
  std::int32_t pointerOffsetY() const override { return area_.y; }

  const std::uint32_t displayID_;
  const std::optional<CGRect> sourceRect_;
  std::atomic<bool> layoutChanged_{false};
  ImageGrabber grabber_;
  std::unique_ptr<DamageTracker> damage_;
  XConnection::Subscription subscription_;
  Area area_;
};

} // namespace

std::unique_ptr<Capture::CaptureSource>
makeDisplayCaptureSource(std::shared_ptr<XConnection> connection, std::uint32_t displayID,
                         const std::optional<CGRect>& sourceRect, bool showsCursor) {
  return std::make_unique<DisplayCaptureSource>(std::move(connection), displayID, sourceRect,
                                                showsCursor);
}

} // namespace Platform::Linux::X11

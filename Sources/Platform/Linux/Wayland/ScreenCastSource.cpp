#include "Platform/Linux/Wayland/ScreenCastSource.h"

#include "Platform/Linux/X11/CaptureErrors.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace Platform::Linux::Wayland {

namespace {

using X11::CaptureErrorCode::failedToStart;
using X11::CaptureErrorCode::invalidParameter;
using X11::CaptureErrorCode::noCaptureSource;

// Long enough for a compositor under load to send its first frame.
constexpr std::chrono::seconds firstFrameTimeout{10};

class ScreenCastSource final : public X11::CaptureSource {
public:
  ScreenCastSource(std::unique_ptr<PipeWireFrames> frames, CastLease lease,
                   std::optional<CGRect> sourceRect)
      : lease_(std::move(lease)), frames_(std::move(frames)), sourceRect_(sourceRect) {
    if (!frames_->waitForFirstFrame(firstFrameTimeout)) {
      X11::throwCaptureError(failedToStart,
                             frames_->failure().value_or("The screen cast sent no picture"));
    }
    frames_->takeNewer(frame_);
    changed_ = true;
    // Checked now, so that a rectangle that misses fails the start.
    (void)cut();
    if (width() <= 0 || height() <= 0) {
      X11::throwCaptureError(invalidParameter,
                             "The source rectangle lies outside the captured display");
    }
  }

  ErrorRef update() override {
    if (auto failure = frames_->failure()) {
      return X11::captureError(noCaptureSource, *failure);
    }
    if (frames_->takeNewer(frame_)) {
      changed_ = true;
    }
    return nullptr;
  }

  bool takeChange() override { return std::exchange(changed_, false); }

  X11::ImageGrabber::Grab grab() override {
    const X11::Placement area = cut();
    if (area.width <= 0 || area.height <= 0) {
      return {X11::ImageGrabber::Outcome::unavailable, {}, {}};
    }
    std::uint8_t* start = frame_.pixels.data() +
                          static_cast<std::size_t>(area.y) * frame_.bytesPerRow +
                          static_cast<std::size_t>(area.x) * 4;
    return {X11::ImageGrabber::Outcome::grabbed,
            X11::MutableImage{start, area.width, area.height, frame_.bytesPerRow},
            {}};
  }

  std::int32_t width() const override { return cut().width; }
  std::int32_t height() const override { return cut().height; }

  xcb_window_t pointerWindow() const override { return XCB_NONE; }
  std::int32_t pointerOffsetX() const override { return 0; }
  std::int32_t pointerOffsetY() const override { return 0; }

private:
  // The part of the picture recorded: all of it, or the source rectangle
  // (display points, which are the cast's pixels) clipped to it.
  X11::Placement cut() const {
    if (!sourceRect_) {
      return {0, 0, frame_.width, frame_.height};
    }
    const auto clip = [](double value, std::int32_t limit) {
      return static_cast<std::int32_t>(std::clamp(std::floor(value), 0.0, double(limit)));
    };
    const std::int32_t left = clip(sourceRect_->x, frame_.width);
    const std::int32_t top = clip(sourceRect_->y, frame_.height);
    const std::int32_t right = clip(sourceRect_->x + sourceRect_->width, frame_.width);
    const std::int32_t bottom = clip(sourceRect_->y + sourceRect_->height, frame_.height);
    return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
  }

  CastLease lease_; // outlives the frames: the cast ends after we stop reading
  std::unique_ptr<PipeWireFrames> frames_;
  std::optional<CGRect> sourceRect_;
  PipeWireFrames::Frame frame_;
  bool changed_ = false;
};

} // namespace

std::unique_ptr<X11::CaptureSource> makeScreenCastSource(std::unique_ptr<PipeWireFrames> frames,
                                                         CastLease lease,
                                                         const std::optional<CGRect>& sourceRect) {
  return std::make_unique<ScreenCastSource>(std::move(frames), std::move(lease), sourceRect);
}

} // namespace Platform::Linux::Wayland

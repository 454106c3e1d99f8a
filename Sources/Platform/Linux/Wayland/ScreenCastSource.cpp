#include "Platform/Linux/Wayland/ScreenCastSource.h"

#include "Platform/Linux/Capture/CaptureErrors.h"
#include "Platform/Linux/PipeWire/ShownFrame.h"
#include "Platform/Log.h"
#include "Platform/ThreadSafety.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>

namespace Platform::Linux::Wayland {

namespace {

using Capture::CaptureErrorCode::failedToStart;
using Capture::CaptureErrorCode::invalidParameter;
using Capture::CaptureErrorCode::noCaptureSource;

// Long enough for a compositor under load to send its first frame.
constexpr std::chrono::seconds firstFrameTimeout{10};

// Waits for the first frame of a cast just opened.
void awaitFirstFrame(const Cast& cast) {
  if (!cast.frames->waitForFirstFrame(firstFrameTimeout)) {
    Capture::throwCaptureError(failedToStart,
                               cast.frames->failure().value_or("The screen cast sent no picture"));
  }
}

class ScreenCastSource final : public Capture::CaptureSource {
public:
  ScreenCastSource(CastOpener open, std::optional<CGRect> sourceRect, const std::stop_token& stop)
      : open_(std::move(open)), cast_(open_(stop, false)), sourceRect_(sourceRect) {
    awaitFirstFrame(cast_);
    frame_.showFirst(*cast_.frames);
    changed_ = true;
    // Checked now, so that a rectangle that misses fails the start.
    (void)cut();
    if (width() <= 0 || height() <= 0) {
      Capture::throwCaptureError(invalidParameter,
                                 "The source rectangle lies outside the captured display");
    }
  }

  ErrorRef update(CMTime gridPoint) override {
    if (reopening_.joinable()) {
      if (ErrorRef error = takeReopened()) {
        return error;
      }
    } else if (auto failure = cast_.frames->failure()) {
      if (!cast_.frames->connectionLost()) {
        return Capture::captureError(noCaptureSource, *failure);
      }
      Platform::log(LogLevel::warning, *failure + "; asking the desktop for the cast again");
      reopen();
      return nullptr;
    }
    static_assert(hostTimeScale == 1'000'000'000, "host time counts nanoseconds");
    if (frame_.update(*cast_.frames, gridPoint.value)) {
      changed_ = true;
    }
    return nullptr;
  }

  bool takeChange() override { return std::exchange(changed_, false); }

  Capture::Grab grab() override {
    const Capture::Placement area = cut();
    if (area.width <= 0 || area.height <= 0) {
      return {Capture::Grab::Outcome::unavailable, {}, {}};
    }
    PipeWire::PipeWireFrames::Frame& shown = frame_.shown();
    std::uint8_t* start = shown.pixels.data() +
                          static_cast<std::size_t>(area.y) * shown.bytesPerRow +
                          static_cast<std::size_t>(area.x) * 4;
    return {Capture::Grab::Outcome::grabbed,
            Capture::MutableImage{start, area.width, area.height, shown.bytesPerRow},
            {}};
  }

  std::int32_t width() const override { return cut().width; }
  std::int32_t height() const override { return cut().height; }

private:
  // Asks for the cast again off the capture thread, which keeps showing the
  // last picture meanwhile.
  void reopen() {
    reopening_ = std::jthread([this](std::stop_token stop) {
      Reopened outcome;
      try {
        Cast cast = open_(stop, true);
        awaitFirstFrame(cast);
        outcome.cast = std::move(cast);
      } catch (const std::exception& error) {
        outcome.failure = error.what();
      }
      Lock lock(mutex_);
      reopened_ = std::move(outcome);
    });
  }

  // Takes the cast asked for again once it is there; the error that ends
  // the stream when it could not be had.
  ErrorRef takeReopened() {
    std::optional<Reopened> outcome;
    {
      Lock lock(mutex_);
      outcome = std::exchange(reopened_, std::nullopt);
    }
    if (!outcome) {
      return nullptr;
    }
    reopening_.join();
    if (!outcome->cast.frames) {
      return Capture::captureError(noCaptureSource, "The screen cast was lost and could not be had "
                                                    "again without asking: " +
                                                        outcome->failure);
    }
    // The new frames first: they must go before the lease of their cast.
    std::swap(cast_, outcome->cast);
    frame_.restartCount();
    Platform::log(LogLevel::info, "The screen cast is back");
    return nullptr;
  }

  // The part of the picture recorded: all of it, or the source rectangle
  // (display points, as many pixels each as the screen's scale) clipped to it.
  Capture::Placement cut() const {
    const PipeWire::PipeWireFrames::Frame& shown = frame_.shown();
    if (!sourceRect_) {
      return {0, 0, shown.width, shown.height};
    }
    const double scale =
        cast_.pointWidth > 0 ? static_cast<double>(shown.width) / cast_.pointWidth : 1.0;
    const auto clip = [scale](double points, std::int32_t limit) {
      return static_cast<std::int32_t>(std::clamp(std::floor(points * scale), 0.0, double(limit)));
    };
    const std::int32_t left = clip(sourceRect_->x, shown.width);
    const std::int32_t top = clip(sourceRect_->y, shown.height);
    const std::int32_t right = clip(sourceRect_->x + sourceRect_->width, shown.width);
    const std::int32_t bottom = clip(sourceRect_->y + sourceRect_->height, shown.height);
    return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
  }

  struct Reopened {
    Cast cast;
    std::string failure;
  };

  const CastOpener open_;
  Cast cast_;
  std::optional<CGRect> sourceRect_;
  PipeWire::ShownFrame frame_;
  bool changed_ = false;

  Mutex mutex_;
  std::optional<Reopened> reopened_ GUARDED_BY(mutex_);
  std::jthread reopening_; // last: stopped and joined first
};

} // namespace

PipeWire::VideoNode screenCastNode(std::uint32_t node) {
  return {.id = node,
          .name = {},
          .role = "Screen",
          .description = "the screen cast",
          .goneMessage = "The desktop ended the screen cast"};
}

std::unique_ptr<Capture::CaptureSource>
makeScreenCastSource(CastOpener open, const std::optional<CGRect>& sourceRect,
                     std::stop_token stop) {
  return std::make_unique<ScreenCastSource>(std::move(open), sourceRect, stop);
}

} // namespace Platform::Linux::Wayland

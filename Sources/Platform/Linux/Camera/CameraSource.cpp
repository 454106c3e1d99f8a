#include "Platform/Linux/Camera/CameraSource.h"

#include "Platform/Linux/PipeWire/ShownFrame.h"

#include <cerrno>
#include <utility>

namespace Platform::Linux::Camera {

namespace {

// The media-capture code of why a camera's frames ended.
std::int64_t endingCode(const PipeWire::PipeWireFrames& frames) {
  if (frames.nodeGone()) {
    return MediaCaptureCode::noSuchDevice;
  }
  if (frames.connectionLost()) {
    return MediaCaptureCode::connectionTerminated;
  }
  return EIO;
}

class CameraSource final : public Capture::CaptureSource {
public:
  CameraSource(PipeWire::Daemon& pipeWire, const PipeWire::VideoNode& node,
               std::chrono::milliseconds firstFrameWait)
      : frames_(pipeWire.core(), node, 0) {
    if (!frames_.waitForFirstFrame(firstFrameWait)) {
      const auto failure = frames_.failure();
      const std::string why =
          failure.value_or(PipeWire::capitalized(node.description) + " sent no picture within " +
                           std::to_string(firstFrameWait.count() / 1000) + " seconds");
      throw SystemError(ErrorDomain::mediaCapture, failure ? endingCode(frames_) : ETIMEDOUT, why);
    }
    shown_.showFirst(frames_);
  }

  ErrorRef update(CMTime gridPoint) override {
    if (const auto failure = frames_.failure()) {
      return makeError(ErrorDomain::mediaCapture, endingCode(frames_), *failure);
    }
    static_assert(hostTimeScale == 1'000'000'000, "host time counts nanoseconds");
    if (shown_.update(frames_, gridPoint.value)) {
      changed_ = true;
    }
    return nullptr;
  }

  bool takeChange() override { return std::exchange(changed_, false); }

  Capture::Grab grab() override {
    PipeWire::PipeWireFrames::Frame& shown = shown_.shown();
    return {
        Capture::Grab::Outcome::grabbed,
        Capture::MutableImage{shown.pixels.data(), shown.width, shown.height, shown.bytesPerRow},
        {}};
  }

  // A camera's frame shows the instant it was exposed.
  std::optional<CMTime> pictureTime() const override {
    return CMTimeMake(shown_.shown().producedAtNanoseconds, hostTimeScale);
  }

  std::int32_t width() const override { return shown_.shown().width; }
  std::int32_t height() const override { return shown_.shown().height; }

private:
  PipeWire::PipeWireFrames frames_;
  PipeWire::ShownFrame shown_;
  bool changed_ = true; // the first picture is news
};

} // namespace

std::unique_ptr<Capture::CaptureSource> makeCameraSource(PipeWire::Daemon& pipeWire,
                                                         const PipeWire::VideoNode& node,
                                                         std::chrono::milliseconds firstFrameWait) {
  return std::make_unique<CameraSource>(pipeWire, node, firstFrameWait);
}

} // namespace Platform::Linux::Camera

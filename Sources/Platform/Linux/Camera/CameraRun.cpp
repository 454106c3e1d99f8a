#include "Platform/Linux/Camera/CameraRun.h"

#include "Platform/Linux/Camera/CameraSource.h"
#include "Platform/Linux/Camera/StampPacer.h"
#include "Platform/Linux/Capture/CaptureStream.h"
#include "Platform/Log.h"

#include <algorithm>

namespace Platform::Linux::Camera {

namespace {

// How much earlier than its grid point a frame may be stamped and still
// count as on it: a device's stamps wobble by a little.
constexpr std::int64_t stampJitter = 3'000'000;
// How often the capture loop looks for a new frame when no frame rate is
// asked for: fast enough for a 120 Hz camera.
constexpr CMTime fastestLook{1, 240, kCMTimeFlags_Valid, 0};

// Passes the stream's new pictures to the session's video output, at most
// one per frame interval as their stamps tell, and the stream's end to the
// session. Pictures that only repeat the last one are left out: a camera's
// frames are its own, at its own rate.
class Relay final : public SCStreamOutput, public SCStreamDelegate {
public:
  Relay(Capture::DeviceSinks sinks, std::int64_t interval)
      : sinks_(std::move(sinks)), pacer_(interval, std::min(stampJitter, interval / 4)) {}

  void streamDidOutputSampleBuffer(SCStream&, SampleBufferRef sample,
                                   SCStreamOutputType type) override {
    if (type != SCStreamOutputType::screen || !sinks_.video) {
      return;
    }
    const auto& attachments = sample->sampleAttachments();
    if (attachments && !attachments->empty()) {
      const auto status = attachments->front().find(SCStreamFrameInfoStatus);
      if (status != attachments->front().end() &&
          std::get<std::int64_t>(status->second) !=
              static_cast<std::int64_t>(SCFrameStatus::complete)) {
        return;
      }
    }
    static_assert(hostTimeScale == 1'000'000'000, "host time counts nanoseconds");
    if (!pacer_.keep(sample->presentationTimeStamp().value)) {
      return;
    }
    sinks_.video(std::move(sample));
  }

  void streamDidStopWithError(SCStream&, ErrorRef error) override {
    if (sinks_.failed) {
      sinks_.failed(std::move(error));
    }
  }

private:
  const Capture::DeviceSinks sinks_;
  StampPacer pacer_; // on the stream's output queue only
};

class CameraRun final : public Capture::DeviceRun {
public:
  CameraRun(std::shared_ptr<Relay> relay, std::shared_ptr<SCStream> stream,
            std::unique_ptr<AudioCapture> sound)
      : relay_(std::move(relay)), stream_(std::move(stream)), sound_(std::move(sound)) {}

  void stop() override {
    if (sound_) {
      sound_->stop();
    }
    if (stream_) {
      try {
        stream_->stopCapture();
      } catch (const Error&) {
        // It had ended by itself: the camera went away.
      }
    }
  }

private:
  std::shared_ptr<Relay> relay_; // the stream's output and delegate
  std::shared_ptr<SCStream> stream_;
  std::unique_ptr<AudioCapture> sound_;
};

std::unique_ptr<AudioCapture> startSound(const CameraNode& camera,
                                         std::function<void(SampleBufferRef)> deliver,
                                         AudioCaptureFactory& audio) {
  if (!camera.audioNode || !deliver) {
    return nullptr;
  }
  try {
    auto sound = audio.makeSourceCapture(*camera.audioNode);
    sound->start(std::move(deliver));
    return sound;
  } catch (const Error& error) {
    Platform::log(LogLevel::warning, "The sound of the camera \u201C" + camera.description +
                                         "\u201D is left out: " + error.localizedDescription());
    return nullptr;
  }
}

} // namespace

PipeWire::VideoNode cameraVideoNode(const CameraNode& camera) {
  const std::string quoted = "\u201C" + camera.description + "\u201D";
  return {.id = std::nullopt,
          .name = camera.name,
          .role = "Camera",
          .description = "the camera " + quoted,
          .goneMessage = "The camera " + quoted + " was unplugged"};
}

std::unique_ptr<Capture::DeviceRun> startCameraRun(const CameraNode& camera,
                                                   Capture::DeviceSinks sinks,
                                                   AudioCaptureFactory& audio,
                                                   std::shared_ptr<PipeWire::Daemon> pipeWire) {
  std::shared_ptr<Relay> relay;
  std::shared_ptr<SCStream> stream;
  if (sinks.video) {
    // The loop looks twice per frame interval: looking once, at the rate of
    // a camera as fast, would see two frames at one look and none at the
    // next whenever the camera's phase wobbles near the loop's.
    const CMTime interval = sinks.minFrameDuration;
    const bool paced = interval.isNumeric() && interval.value > 0;
    SCStreamConfiguration configuration;
    configuration.queueDepth = 6;
    configuration.pixelFormat = kCVPixelFormatType_32BGRA;
    configuration.showsCursor = false;
    const std::int64_t nanoseconds = paced ? CMTimeConvertScale(interval, hostTimeScale).value : 0;
    configuration.minimumFrameInterval =
        paced ? CMTimeMake(nanoseconds / 2, hostTimeScale) : fastestLook;
    relay = std::make_shared<Relay>(sinks, nanoseconds);
    stream = std::make_shared<Capture::CaptureStream>(
        [node = cameraVideoNode(camera), pipeWire = std::move(pipeWire)](std::stop_token) {
          return makeCameraSource(*pipeWire, node);
        },
        nullptr, configuration, relay);
    stream->addStreamOutput(relay, SCStreamOutputType::screen,
                            DispatchQueue::serial("cameraFrames"));
    stream->startCapture();
  }
  auto sound = startSound(camera, std::move(sinks.audio), audio);
  return std::make_unique<CameraRun>(std::move(relay), std::move(stream), std::move(sound));
}

} // namespace Platform::Linux::Camera

#include "Platform/Linux/Camera/CameraRun.h"

#include "Platform/Linux/Camera/CameraSource.h"
#include "Platform/Linux/Capture/CaptureStream.h"
#include "Platform/Log.h"

namespace Platform::Linux::Camera {

namespace {

// Passes the stream's new pictures to the session's video output, and its
// end to the session. Pictures that only repeat the last one are left out:
// a camera's frames are its own, at its own rate.
class Relay final : public SCStreamOutput, public SCStreamDelegate {
public:
  explicit Relay(Capture::DeviceSinks sinks) : sinks_(std::move(sinks)) {}

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
    sinks_.video(std::move(sample));
  }

  void streamDidStopWithError(SCStream&, ErrorRef error) override {
    if (sinks_.failed) {
      sinks_.failed(std::move(error));
    }
  }

private:
  const Capture::DeviceSinks sinks_;
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
  return {.remote = -1,
          .id = std::nullopt,
          .name = camera.name,
          .role = "Camera",
          .description = "the camera " + quoted,
          .goneMessage = "The camera " + quoted + " was unplugged"};
}

std::unique_ptr<Capture::DeviceRun>
startCameraRun(const CameraNode& camera, Capture::DeviceSinks sinks, AudioCaptureFactory& audio) {
  std::shared_ptr<Relay> relay;
  std::shared_ptr<SCStream> stream;
  if (sinks.video) {
    SCStreamConfiguration configuration;
    configuration.queueDepth = 6;
    configuration.pixelFormat = kCVPixelFormatType_32BGRA;
    configuration.showsCursor = false;
    if (sinks.minFrameDuration.isNumeric() && sinks.minFrameDuration.value > 0) {
      configuration.minimumFrameInterval = sinks.minFrameDuration;
    }
    relay = std::make_shared<Relay>(sinks);
    stream = std::make_shared<Capture::CaptureStream>(
        [node = cameraVideoNode(camera)](std::stop_token) { return makeCameraSource(node); },
        nullptr, configuration, relay);
    stream->addStreamOutput(relay, SCStreamOutputType::screen,
                            DispatchQueue::serial("cameraFrames"));
    stream->startCapture();
  }
  auto sound = startSound(camera, std::move(sinks.audio), audio);
  return std::make_unique<CameraRun>(std::move(relay), std::move(stream), std::move(sound));
}

} // namespace Platform::Linux::Camera

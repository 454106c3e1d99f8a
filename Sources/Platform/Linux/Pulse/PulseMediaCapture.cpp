#include "Platform/Linux/Pulse/PulseMediaCapture.h"

#include "Platform/Linux/Pulse/AudioServer.h"
#include "Platform/Linux/Pulse/DeviceSelection.h"
#include "Platform/Linux/Pulse/PulseAudioCapture.h"
#include "Platform/Linux/Pulse/PulseCaptureSession.h"
#include "Platform/Linux/Pulse/PulseConnection.h"
#include "Platform/Linux/Pulse/PulseSources.h"

#include <pulse/error.h>

namespace Platform::Linux {

namespace {

using namespace Pulse;

class PulseMediaCaptureService final : public MediaCaptureService {
public:
  explicit PulseMediaCaptureService(std::shared_ptr<AudioServer> server)
      : server_(std::move(server)) {}

  std::vector<CaptureDeviceRef> discoverDevices(const std::vector<AVCaptureDeviceType>& deviceTypes,
                                                std::optional<MediaType> mediaType,
                                                AVCaptureDevicePosition position) override {
    if (!queryListsAudioSources(deviceTypes, mediaType, position)) {
      return {};
    }
    std::vector<SourceDescription> sources;
    try {
      sources = inputSources(listSources(*server_->connection()));
    } catch (const Error&) {
      // No audio server: no audio devices.
      return {};
    }
    std::vector<CaptureDeviceRef> devices;
    devices.reserve(sources.size());
    for (const auto& source : sources) {
      devices.push_back(std::make_shared<CaptureDevice>(
          source.name, source.description,
          AudioStreamDescription{static_cast<double>(source.sampleRate), source.channelCount,
                                 AudioSampleFormat::float32}));
    }
    return devices;
  }

  std::shared_ptr<AVCaptureDeviceInput> makeDeviceInput(const CaptureDeviceRef& device) override {
    if (device == nullptr) {
      throw SystemError(ErrorDomain::mediaCapture, PA_ERR_INVALID, "No audio device was given");
    }
    if (!findSource(*server_->connection(), device->uniqueID())) {
      throw SystemError(ErrorDomain::mediaCapture, PA_ERR_NOENTITY,
                        "The audio device \"" + device->localizedName() +
                            "\" is no longer available");
    }
    return std::make_shared<DeviceInput>(device);
  }

  std::shared_ptr<AVCaptureSession> makeCaptureSession() override {
    return std::make_shared<CaptureSession>([server = server_](const std::string& sourceName) {
      return makeRecordStreamCapture(server, sourceName);
    });
  }

  CaptureOutputRef makeAudioDataOutput() override {
    return std::make_shared<DataOutput>(CaptureOutputKind::audioData);
  }

  // No Linux device feeds video to a capture session yet; the output can be
  // added but never delivers.
  CaptureOutputRef makeVideoDataOutput() override {
    return std::make_shared<DataOutput>(CaptureOutputKind::videoData);
  }

  // Attached screen-capture devices need a system switch elsewhere; Linux
  // offers none to switch on, and every device we list is always visible.
  void allowScreenCaptureDevices() override {}

private:
  const std::shared_ptr<AudioServer> server_;
};

class PulseAudioCaptureFactory final : public AudioCaptureFactory {
public:
  explicit PulseAudioCaptureFactory(std::shared_ptr<AudioServer> server)
      : server_(std::move(server)) {}
  std::unique_ptr<AudioCapture> makeSystemAudioCapture() override {
    return makeRecordStreamCapture(server_, std::nullopt);
  }
  std::unique_ptr<AudioCapture> makeSourceCapture(const std::string& sourceName) override {
    return makeRecordStreamCapture(server_, sourceName);
  }

private:
  const std::shared_ptr<AudioServer> server_;
};

} // namespace

std::shared_ptr<MediaCaptureService>
makePulseMediaCaptureService(std::shared_ptr<Pulse::AudioServer> server) {
  return std::make_shared<PulseMediaCaptureService>(std::move(server));
}

std::shared_ptr<AudioCaptureFactory>
makePulseAudioCaptureFactory(std::shared_ptr<Pulse::AudioServer> server) {
  return std::make_shared<PulseAudioCaptureFactory>(std::move(server));
}

} // namespace Platform::Linux

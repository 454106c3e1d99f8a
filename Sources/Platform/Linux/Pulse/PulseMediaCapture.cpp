#include "Platform/Linux/Pulse/PulseMediaCapture.h"

#include "Platform/Linux/Echo/EchoCancellingCapture.h"
#include "Platform/Linux/Pulse/ApplicationAudioCapture.h"
#include "Platform/Linux/Pulse/AudioServer.h"
#include "Platform/Linux/Pulse/DeviceSelection.h"
#include "Platform/Linux/Pulse/PulseAudioCapture.h"
#include "Platform/Linux/Pulse/PulseConnection.h"
#include "Platform/Linux/Pulse/PulseSources.h"

#include <pulse/error.h>

namespace Platform::Linux {

namespace {

using namespace Pulse;

// An input source of the audio server.
class AudioDevice final : public Capture::CaptureDevice {
public:
  AudioDevice(std::string name, std::string description, AudioStreamDescription format)
      : CaptureDevice(std::move(name), std::move(description),
                      {AVCaptureDeviceFormat{FormatDescription::audioPCM(format)}}) {}
};

class PulseDeviceBackend final : public Capture::DeviceBackend {
public:
  explicit PulseDeviceBackend(std::shared_ptr<AudioServer> server)
      : server_(std::move(server)),
        runs_(Capture::audioDeviceRuns([server = server_](
                                           const std::string& sourceName,
                                           bool cancelsEcho) -> std::unique_ptr<AudioCapture> {
          if (cancelsEcho) {
            return Echo::makeEchoCancellingCapture(makeRecordStreamCapture(server, sourceName),
                                                   makeRecordStreamCapture(server, std::nullopt));
          }
          return makeRecordStreamCapture(server, sourceName);
        })) {}

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
      devices.push_back(std::make_shared<AudioDevice>(
          source.name, source.description,
          AudioStreamDescription{static_cast<double>(source.sampleRate), source.channelCount,
                                 AudioSampleFormat::float32}));
    }
    return devices;
  }

  bool owns(const AVCaptureDevice& device) const override {
    return dynamic_cast<const AudioDevice*>(&device) != nullptr;
  }

  void checkAvailable(const AVCaptureDevice& device) override {
    if (!findSource(*server_->connection(), device.uniqueID())) {
      throw SystemError(ErrorDomain::mediaCapture, PA_ERR_NOENTITY,
                        "The audio device \"" + device.localizedName() +
                            "\" is no longer available");
    }
  }

  std::unique_ptr<Capture::DeviceRun> start(const AVCaptureDevice& device,
                                            Capture::DeviceSinks sinks) override {
    return runs_(device, std::move(sinks));
  }

private:
  const std::shared_ptr<AudioServer> server_;
  const Capture::DeviceRunMaker runs_;
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
  std::unique_ptr<AudioCapture>
  makeApplicationAudioCapture(const SCRunningApplication& application) override {
    return Pulse::makeApplicationAudioCapture(application);
  }

private:
  const std::shared_ptr<AudioServer> server_;
};

} // namespace

std::shared_ptr<Capture::DeviceBackend>
makePulseDeviceBackend(std::shared_ptr<Pulse::AudioServer> server) {
  return std::make_shared<PulseDeviceBackend>(std::move(server));
}

std::shared_ptr<AudioCaptureFactory>
makePulseAudioCaptureFactory(std::shared_ptr<Pulse::AudioServer> server) {
  return std::make_shared<PulseAudioCaptureFactory>(std::move(server));
}

} // namespace Platform::Linux

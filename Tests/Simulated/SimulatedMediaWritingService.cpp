#include "Simulated/SimulatedMediaWritingService.h"

#include "Simulated/RaiseError.h"
#include "Simulated/SimulatedAssetWriter.h"
#include "Simulated/World.h"

#include <mutex>

namespace Platform::Simulated {

namespace {

struct Preset {
  const char* codec;
  std::int64_t width;
  std::int64_t height;
  std::int64_t averageBitRate;
  const char* profileLevel;
};

std::optional<Preset> presetNamed(const std::string& name) {
  if (name == AVOutputSettingsPreset3840x2160) {
    return Preset{AVVideoCodecTypeH264, 3840, 2160, 40'000'000, "H264_High_AutoLevel"};
  }
  if (name == AVOutputSettingsPresetHEVC7680x4320) {
    return Preset{AVVideoCodecTypeHEVC, 7680, 4320, 120'000'000, "HEVC_Main_AutoLevel"};
  }
  return std::nullopt;
}

// Settings of the preset, at the size of the source format when one is set.
class SimulatedSettingsAssistant final : public AVOutputSettingsAssistant {
public:
  SimulatedSettingsAssistant(std::shared_ptr<World> world, Preset preset, bool returnsSettings)
      : world_(std::move(world)), preset_(preset), returnsSettings_(returnsSettings) {}

  void setSourceVideoFormat(std::shared_ptr<const FormatDescription> format) override {
    world_->callLog.append(
        "assistant.setSourceVideoFormat(" +
        (format ? std::to_string(format->width) + "x" + std::to_string(format->height)
                : std::string("none")) +
        ")");
    std::lock_guard lock(mutex_);
    sourceFormat_ = std::move(format);
  }

  std::optional<OutputSettings> videoSettings() const override {
    if (!returnsSettings_) {
      return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    const bool hasSource = sourceFormat_ != nullptr;
    return OutputSettings{
        {AVVideoCodecKey, preset_.codec},
        {AVVideoWidthKey, hasSource ? std::int64_t{sourceFormat_->width} : preset_.width},
        {AVVideoHeightKey, hasSource ? std::int64_t{sourceFormat_->height} : preset_.height},
        {AVVideoCompressionPropertiesKey,
         OutputSettings{{AVVideoAverageBitRateKey, preset_.averageBitRate},
                        {AVVideoMaxKeyFrameIntervalKey, 60},
                        {AVVideoProfileLevelKey, preset_.profileLevel}}}};
  }

private:
  const std::shared_ptr<World> world_;
  const Preset preset_;
  const bool returnsSettings_;
  mutable std::mutex mutex_;
  std::shared_ptr<const FormatDescription> sourceFormat_;
};

} // namespace

SimulatedMediaWritingService::SimulatedMediaWritingService(std::shared_ptr<World> world)
    : world_(std::move(world)) {}

AssetWriterRef SimulatedMediaWritingService::makeAssetWriter(const std::string& path,
                                                             AVFileType fileType) {
  world_->callLog.append("makeAssetWriter(" + path + ")");
  if (const ErrorRef failure =
          world_->read([](const World& world) { return world.failures.assetWriterCreation; })) {
    raise(failure);
  }
  auto writer = std::make_shared<SimulatedAssetWriter>(world_, path, fileType);
  {
    std::lock_guard lock(world_->mutex);
    world_->writers.push_back(writer);
  }
  world_->objectMade.notify_all();
  return writer;
}

AssetWriterInputRef SimulatedMediaWritingService::makeAssetWriterInput(MediaType mediaType,
                                                                       OutputSettings settings) {
  world_->callLog.append(std::string("makeAssetWriterInput(") +
                         (mediaType == MediaType::audio ? "audio" : "video") + ")");
  return std::make_shared<SimulatedWriterInput>(world_, mediaType, std::move(settings));
}

std::shared_ptr<AVOutputSettingsAssistant>
SimulatedMediaWritingService::makeOutputSettingsAssistant(const std::string& preset) {
  world_->callLog.append("makeOutputSettingsAssistant(" + preset + ")");
  const auto [available, returnsSettings] = world_->read([](const World& world) {
    return std::pair{world.assistantAvailable, world.assistantReturnsSettings};
  });
  const auto known = presetNamed(preset);
  if (!available || !known) {
    return nullptr;
  }
  return std::make_shared<SimulatedSettingsAssistant>(world_, *known, returnsSettings);
}

std::shared_ptr<const FormatDescription>
SimulatedMediaWritingService::makeVideoFormatDescription(std::uint32_t codecType,
                                                         std::int32_t width, std::int32_t height) {
  if (!world_->read([](const World& world) { return world.videoFormatDescriptionAvailable; })) {
    return nullptr;
  }
  return FormatDescription::video(codecType, width, height);
}

} // namespace Platform::Simulated

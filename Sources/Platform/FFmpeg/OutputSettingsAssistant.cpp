#include "Platform/FFmpeg/OutputSettingsAssistant.h"

#include <algorithm>
#include <cstdint>

namespace Platform::FFmpeg {

namespace {

// A key frame every two seconds at 30 frames per second; the encoder also
// forces one each second of time, whatever the frame rate.
constexpr int maxKeyFrameInterval = 60;

} // namespace

std::shared_ptr<OutputSettingsAssistant> OutputSettingsAssistant::make(const std::string& preset) {
  // Bit budgets for screen content (text, flat areas, sudden changes): about
  // 6 Mbit/s for H.264 at 1080p, which keeps small text crisp at CRF 23, and
  // two thirds of that for HEVC, which codes the same content in fewer bits.
  // The budget caps the rate; still screens use far less.
  if (preset == AVOutputSettingsPreset3840x2160) {
    return std::shared_ptr<OutputSettingsAssistant>(new OutputSettingsAssistant(
        Preset{AVVideoCodecTypeH264, 3840, 2160, 3.0, "H264_High_AutoLevel"}));
  }
  if (preset == AVOutputSettingsPresetHEVC7680x4320) {
    // Main 10: HEVC recordings are captured as 10-bit Display P3.
    return std::shared_ptr<OutputSettingsAssistant>(new OutputSettingsAssistant(
        Preset{AVVideoCodecTypeHEVC, 7680, 4320, 2.0, "HEVC_Main10_AutoLevel"}));
  }
  return nullptr;
}

void OutputSettingsAssistant::setSourceVideoFormat(
    std::shared_ptr<const FormatDescription> format) {
  source_ = std::move(format);
}

std::optional<OutputSettings> OutputSettingsAssistant::videoSettings() const {
  const bool sized = source_ && source_->mediaType == MediaType::video && source_->width > 0 &&
                     source_->height > 0;
  const int width = sized ? source_->width : preset_.width;
  const int height = sized ? source_->height : preset_.height;
  const auto bitRate =
      static_cast<std::int64_t>(static_cast<double>(width) * height * preset_.bitsPerPixel);
  return OutputSettings{
      {AVVideoCodecKey, preset_.codec},
      {AVVideoWidthKey, width},
      {AVVideoHeightKey, height},
      {AVVideoCompressionPropertiesKey,
       OutputSettings{
           {AVVideoAverageBitRateKey, std::max<std::int64_t>(bitRate, 100'000)},
           {AVVideoMaxKeyFrameIntervalKey, maxKeyFrameInterval},
           {AVVideoProfileLevelKey, preset_.profileLevel},
       }},
  };
}

} // namespace Platform::FFmpeg

#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

// Output settings of writer inputs: a dictionary of text keys and number,
// text or nested-dictionary values, with the keys and constants the writer
// understands.

namespace Platform {

class SettingValue;
using OutputSettings = std::map<std::string, SettingValue>;

class SettingValue {
public:
  SettingValue(std::int64_t number) : value_(number) {}
  SettingValue(int number) : value_(static_cast<std::int64_t>(number)) {}
  SettingValue(std::uint32_t number) : value_(static_cast<std::int64_t>(number)) {}
  SettingValue(double number) : value_(number) {}
  SettingValue(std::string text) : value_(std::move(text)) {}
  SettingValue(const char* text) : value_(std::string(text)) {}
  SettingValue(OutputSettings dictionary)
      : value_(std::make_shared<const OutputSettings>(std::move(dictionary))) {}

  std::optional<std::int64_t> integer() const;
  std::optional<double> number() const; // integers too
  const std::string* text() const;
  const OutputSettings* dictionary() const;

  friend bool operator==(const SettingValue& lhs, const SettingValue& rhs);

private:
  std::variant<std::int64_t, double, std::string, std::shared_ptr<const OutputSettings>> value_;
};

// Audio keys.
inline constexpr const char* AVFormatIDKey = "AVFormatIDKey";
inline constexpr const char* AVSampleRateKey = "AVSampleRateKey";
inline constexpr const char* AVNumberOfChannelsKey = "AVNumberOfChannelsKey";
inline constexpr const char* AVEncoderBitDepthHintKey = "AVEncoderBitDepthHintKey";
inline constexpr const char* AVEncoderBitRateKey = "AVEncoderBitRateKey";
inline constexpr std::uint32_t kAudioFormatAppleLossless = 0x616C6163; // 'alac'
inline constexpr std::uint32_t kAudioFormatMPEG4AAC = 0x61616320;      // 'aac '

// Video keys.
inline constexpr const char* AVVideoCodecKey = "AVVideoCodecKey";
inline constexpr const char* AVVideoWidthKey = "AVVideoWidthKey";
inline constexpr const char* AVVideoHeightKey = "AVVideoHeightKey";
inline constexpr const char* AVVideoCompressionPropertiesKey = "AVVideoCompressionPropertiesKey";
inline constexpr const char* AVVideoAverageBitRateKey = "AverageBitRate";
inline constexpr const char* AVVideoMaxKeyFrameIntervalKey = "MaxKeyFrameInterval";
inline constexpr const char* AVVideoProfileLevelKey = "ProfileLevel";
inline constexpr const char* AVVideoColorPropertiesKey = "AVVideoColorPropertiesKey";
inline constexpr const char* AVVideoTransferFunctionKey = "TransferFunction";
inline constexpr const char* AVVideoColorPrimariesKey = "ColorPrimaries";
inline constexpr const char* AVVideoYCbCrMatrixKey = "YCbCrMatrix";
inline constexpr const char* AVVideoTransferFunction_ITU_R_709_2 = "ITU_R_709_2";
inline constexpr const char* AVVideoColorPrimaries_ITU_R_709_2 = "ITU_R_709_2";
inline constexpr const char* AVVideoColorPrimaries_P3_D65 = "P3_D65";
inline constexpr const char* AVVideoYCbCrMatrix_ITU_R_709_2 = "ITU_R_709_2";

// Video codec identifiers (AVVideoCodecType).
using AVVideoCodecType = std::string;
inline constexpr const char* AVVideoCodecTypeH264 = "avc1";
inline constexpr const char* AVVideoCodecTypeHEVC = "hvc1";
inline constexpr const char* AVVideoCodecTypeAppleProRes422 = "apcn";
inline constexpr const char* AVVideoCodecTypeAppleProRes4444 = "ap4h";

// File types of the writer.
enum class AVFileType { appleM4A, mpeg4, appleM4V, quickTimeMovie };

// Presets of the settings assistant.
inline constexpr const char* AVOutputSettingsPreset3840x2160 = "AVOutputSettingsPreset3840x2160";
inline constexpr const char* AVOutputSettingsPresetHEVC7680x4320 =
    "AVOutputSettingsPresetHEVC7680x4320";

} // namespace Platform

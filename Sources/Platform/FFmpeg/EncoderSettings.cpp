#include "Platform/FFmpeg/EncoderSettings.h"

#include "Platform/Error.h"

#include <cerrno>

namespace Platform::FFmpeg {

namespace {

constexpr int maximumDimension = 16384;

[[noreturn]] void refuse(const std::string& description) {
  throw SystemError(ErrorDomain::mediaWriting, EINVAL, description);
}

std::optional<std::int64_t> integerAt(const OutputSettings& settings, const char* key) {
  const auto found = settings.find(key);
  if (found == settings.end()) {
    return std::nullopt;
  }
  if (auto integer = found->second.integer()) {
    return integer;
  }
  if (auto number = found->second.number()) {
    return static_cast<std::int64_t>(*number);
  }
  refuse(std::string("The output setting ") + key + " is not a number.");
}

std::int64_t integerInRange(const OutputSettings& settings, const char* key, std::int64_t lowest,
                            std::int64_t highest, std::optional<std::int64_t> fallback) {
  const auto value = integerAt(settings, key);
  if (!value && fallback) {
    return *fallback;
  }
  if (!value) {
    refuse(std::string("The output settings have no ") + key + ".");
  }
  if (*value < lowest || *value > highest) {
    refuse(std::string("The output setting ") + key + " is out of range (" +
           std::to_string(*value) + ").");
  }
  return *value;
}

const std::string* textAt(const OutputSettings& settings, const char* key) {
  const auto found = settings.find(key);
  return found == settings.end() ? nullptr : found->second.text();
}

VideoCodec codecNamed(const std::string& name) {
  if (name == AVVideoCodecTypeH264) {
    return VideoCodec::h264;
  }
  if (name == AVVideoCodecTypeHEVC) {
    return VideoCodec::hevc;
  }
  if (name == AVVideoCodecTypeAppleProRes422) {
    return VideoCodec::proRes422;
  }
  if (name == AVVideoCodecTypeAppleProRes4444) {
    return VideoCodec::proRes4444;
  }
  refuse("The video codec \"" + name + "\" is not supported.");
}

// ProfileLevel names ("H264_High_AutoLevel") to the encoder's profile; the
// level is always chosen by the encoder.
void applyProfile(const std::string& profileLevel, VideoEncoderSettings& video) {
  if (video.codec == VideoCodec::h264) {
    if (profileLevel.starts_with("H264_Baseline")) {
      video.profile = "baseline";
    } else if (profileLevel.starts_with("H264_Main")) {
      video.profile = "main";
    } else if (profileLevel.starts_with("H264_High")) {
      video.profile = "high";
    } else {
      refuse("The profile \"" + profileLevel + "\" does not fit H.264.");
    }
  } else if (video.codec == VideoCodec::hevc) {
    if (profileLevel.starts_with("HEVC_Main10")) {
      video.profile = "main10";
      video.tenBit = true;
    } else if (profileLevel.starts_with("HEVC_Main")) {
      video.profile = "main";
      video.tenBit = false;
    } else {
      refuse("The profile \"" + profileLevel + "\" does not fit HEVC.");
    }
  }
}

void applyColorProperties(const OutputSettings& colors, VideoEncoderSettings& video) {
  if (const auto* primaries = textAt(colors, AVVideoColorPrimariesKey)) {
    if (*primaries == AVVideoColorPrimaries_ITU_R_709_2) {
      video.primaries = AVCOL_PRI_BT709;
    } else if (*primaries == AVVideoColorPrimaries_P3_D65) {
      video.primaries = AVCOL_PRI_SMPTE432;
    } else {
      refuse("The colour primaries \"" + *primaries + "\" are not supported.");
    }
  }
  if (const auto* transfer = textAt(colors, AVVideoTransferFunctionKey)) {
    if (*transfer != AVVideoTransferFunction_ITU_R_709_2) {
      refuse("The transfer function \"" + *transfer + "\" is not supported.");
    }
    video.transfer = AVCOL_TRC_BT709;
  }
  if (const auto* matrix = textAt(colors, AVVideoYCbCrMatrixKey)) {
    if (*matrix != AVVideoYCbCrMatrix_ITU_R_709_2) {
      refuse("The YCbCr matrix \"" + *matrix + "\" is not supported.");
    }
    video.matrix = AVCOL_SPC_BT709;
  }
}

} // namespace

bool isProRes(VideoCodec codec) {
  return codec == VideoCodec::proRes422 || codec == VideoCodec::proRes4444;
}

VideoEncoderSettings readVideoEncoderSettings(const OutputSettings& settings) {
  VideoEncoderSettings video;
  const auto* codec = textAt(settings, AVVideoCodecKey);
  if (codec == nullptr) {
    refuse("The output settings have no video codec.");
  }
  video.codec = codecNamed(*codec);
  video.width = static_cast<int>(
      integerInRange(settings, AVVideoWidthKey, 1, maximumDimension, std::nullopt));
  video.height = static_cast<int>(
      integerInRange(settings, AVVideoHeightKey, 1, maximumDimension, std::nullopt));
  // Captured HEVC frames are 10-bit Display P3; 8-bit frames are widened.
  video.tenBit = video.codec == VideoCodec::hevc;

  const auto compression = settings.find(AVVideoCompressionPropertiesKey);
  if (compression != settings.end()) {
    const auto* properties = compression->second.dictionary();
    if (properties == nullptr) {
      refuse("The video compression properties are not a dictionary.");
    }
    if (properties->contains(AVVideoAverageBitRateKey)) {
      video.averageBitRate =
          integerInRange(*properties, AVVideoAverageBitRateKey, 10'000, 2'000'000'000, {});
    }
    if (properties->contains(AVVideoMaxKeyFrameIntervalKey)) {
      video.maxKeyFrameInterval = static_cast<int>(
          integerInRange(*properties, AVVideoMaxKeyFrameIntervalKey, 1, 100'000, {}));
    }
    if (const auto* profileLevel = textAt(*properties, AVVideoProfileLevelKey)) {
      applyProfile(*profileLevel, video);
    }
  }

  const auto colors = settings.find(AVVideoColorPropertiesKey);
  if (colors != settings.end()) {
    const auto* properties = colors->second.dictionary();
    if (properties == nullptr) {
      refuse("The video colour properties are not a dictionary.");
    }
    applyColorProperties(*properties, video);
  }
  return video;
}

AudioEncoderSettings readAudioEncoderSettings(const OutputSettings& settings) {
  AudioEncoderSettings audio;
  const auto format = integerAt(settings, AVFormatIDKey);
  if (!format) {
    refuse("The output settings have no audio format.");
  }
  if (*format == kAudioFormatAppleLossless) {
    audio.lossless = true;
  } else if (*format != kAudioFormatMPEG4AAC) {
    refuse("The audio format " + std::to_string(*format) + " is not supported.");
  }
  audio.sampleRate =
      static_cast<int>(integerInRange(settings, AVSampleRateKey, 8000, 192000, std::nullopt));
  audio.channelCount =
      static_cast<int>(integerInRange(settings, AVNumberOfChannelsKey, 1, 8, std::nullopt));
  if (audio.lossless) {
    audio.bitDepth =
        static_cast<int>(integerInRange(settings, AVEncoderBitDepthHintKey, 16, 24, 16));
    if (audio.bitDepth != 16 && audio.bitDepth != 24) {
      refuse("Apple Lossless takes a bit depth of 16 or 24.");
    }
  }
  if (settings.contains(AVEncoderBitRateKey)) {
    audio.bitRate = integerInRange(settings, AVEncoderBitRateKey, 8000, 1'000'000, {});
  }
  return audio;
}

} // namespace Platform::FFmpeg

#pragma once

#include "Platform/OutputSettings.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <cstdint>
#include <optional>
#include <string>

// The encoder set-up a writer input's output settings ask for, read and
// checked once when the input is made. Plain values.

namespace Platform::FFmpeg {

enum class VideoCodec { h264, hevc, proRes422, proRes4444 };

struct VideoEncoderSettings {
  VideoCodec codec = VideoCodec::h264;
  int width = 0;
  int height = 0;
  // An upper bound on the rate over a couple of seconds, in bits per second.
  std::optional<std::int64_t> averageBitRate;
  std::optional<int> maxKeyFrameInterval; // in frames
  bool tenBit = false;
  std::string profile; // the encoder's profile name; empty for its default
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
};

struct AudioEncoderSettings {
  bool lossless = false;
  int sampleRate = 48000;
  int channelCount = 2;
  int bitDepth = 16; // Apple Lossless only
  std::optional<std::int64_t> bitRate;
};

// Throw Platform::SystemError naming the key that is missing or not usable.
VideoEncoderSettings readVideoEncoderSettings(const OutputSettings& settings);
AudioEncoderSettings readAudioEncoderSettings(const OutputSettings& settings);

bool isProRes(VideoCodec codec);

} // namespace Platform::FFmpeg

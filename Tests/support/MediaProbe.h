#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <array>
#include <string>
#include <vector>

// Reads a written file back with libavformat and libavcodec, the way a
// player would, and reports what it holds.

namespace TestSupport {

struct TrackInfo {
  AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
  AVCodecID codec = AV_CODEC_ID_NONE;
  std::uint32_t tag = 0;
  int sampleRate = 0;
  int channelCount = 0;
  int width = 0;
  int height = 0;
  int format = -1; // AVPixelFormat or AVSampleFormat
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  int profile = FF_PROFILE_UNKNOWN;
  // Packet presentation times in seconds, sorted, and where the last ends.
  std::vector<double> times;
  double end = 0;
  // How long the track says it lasts (its last sample's duration included,
  // which packets of a fragmented file do not carry).
  double duration = 0;
  // The track's name (its handler name), language and whether it is enabled.
  std::string name;
  std::string language;
  bool isDefault = false;
  // Packet times and durations in the track's own time base, in file order.
  std::vector<std::int64_t> packetTimes;
  std::vector<std::int64_t> packetDurations;
  int keyFrames = 0;
};

struct FileInfo {
  std::string majorBrand;
  std::vector<TrackInfo> tracks;
};

// Throws std::runtime_error when libavformat cannot open or read the file.
FileInfo probeFile(const std::string& path);

// What one decoded picture shows: its time, its mean brightness (0 to 255)
// and the colour at its centre (8-bit RGB, BT.709).
struct PictureSample {
  double time = 0;
  double meanLuma = 0;
  std::array<int, 3> centreRGB{};
};

struct DecodedTrack {
  int frames = 0;
  int errors = 0;
  // Audio only: the first channel, as floats, from the track's time zero.
  std::vector<float> firstChannel;
  // Video only (8-bit 4:2:0 pictures): one sample per picture.
  std::vector<PictureSample> pictures;
};

DecodedTrack decodeTrack(const std::string& path, int index);

// What ffmpeg, a player nobody here wrote, says while it decodes every track
// of the file: empty when it decodes them all without an error.
std::string decodingErrors(const std::string& path);

std::uint32_t fourCC(const char (&text)[5]);

} // namespace TestSupport

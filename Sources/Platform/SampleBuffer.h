#pragma once

#include "Platform/PixelMemory.h"
#include "Platform/Time.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// Media samples as the capture services deliver them and the writer takes
// them: immutable, shared between threads by shared_ptr, with CoreMedia's
// timing model (one or more timing entries per buffer).

namespace Platform {

enum class MediaType { audio, video };

// Four-character codes of the pixel formats the capture services deliver.
inline constexpr std::uint32_t kCVPixelFormatType_32BGRA = 0x42475241;              // 'BGRA'
inline constexpr std::uint32_t kCVPixelFormatType_ARGB2101010LEPacked = 0x6C313072; // 'l10r'

// Video codec types of format descriptions.
inline constexpr std::uint32_t kCMVideoCodecType_H264 = 0x61766331; // 'avc1'
inline constexpr std::uint32_t kCMVideoCodecType_HEVC = 0x68766331; // 'hvc1'

enum class AudioSampleFormat { float32, int16 };

// The layout of interleaved PCM audio.
struct AudioStreamDescription {
  double sampleRate = 48000;
  int channelCount = 2;
  AudioSampleFormat sampleFormat = AudioSampleFormat::float32;

  std::size_t bytesPerFrame() const {
    return static_cast<std::size_t>(channelCount) *
           (sampleFormat == AudioSampleFormat::float32 ? 4 : 2);
  }
  friend bool operator==(const AudioStreamDescription&, const AudioStreamDescription&) = default;
};

// What a sample holds: video dimensions and pixel format (or codec type), or
// the audio stream layout. `audioChannelLayoutChannelCount` is absent when the
// format carries no channel layout.
struct FormatDescription {
  MediaType mediaType = MediaType::video;
  std::uint32_t mediaSubType = 0; // pixel format or codec type for video
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::optional<AudioStreamDescription> audio;
  std::optional<int> audioChannelLayoutChannelCount;

  static std::shared_ptr<const FormatDescription> video(std::uint32_t subType, std::int32_t width,
                                                        std::int32_t height);
  static std::shared_ptr<const FormatDescription> audioPCM(AudioStreamDescription description);
};

// One frame of pixels. Plane 0 only for the packed formats we deliver.
struct PixelBuffer {
  std::uint32_t pixelFormat = kCVPixelFormatType_32BGRA;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::size_t bytesPerRow = 0;
  PixelMemory bytes; // height * bytesPerRow
};

// Interleaved PCM frames in the sample's AudioStreamDescription.
struct AudioBuffer {
  std::size_t frameCount = 0;
  std::vector<std::uint8_t> bytes; // frameCount * bytesPerFrame
};

struct CMSampleTimingInfo {
  CMTime duration = kCMTimeInvalid;
  CMTime presentationTimeStamp = kCMTimeInvalid;
  CMTime decodeTimeStamp = kCMTimeInvalid;
  friend bool operator==(const CMSampleTimingInfo&, const CMSampleTimingInfo&) = default;
};

using AttachmentValue = std::variant<std::int64_t, double, bool, std::string>;
using AttachmentDictionary = std::map<std::string, AttachmentValue>;

// The frame-information key of a screen frame's status and its values.
inline constexpr const char* SCStreamFrameInfoStatus = "SCStreamFrameInfoStatus";
enum class SCFrameStatus : std::int64_t {
  complete = 0,
  idle = 1,
  blank = 2,
  suspended = 3,
  started = 4,
  stopped = 5,
};

class CMSampleBuffer;
using SampleBufferRef = std::shared_ptr<const CMSampleBuffer>;

// A sample buffer. The payload (pixels or audio frames) is shared between a
// buffer and its retimed copies, never copied.
class CMSampleBuffer {
public:
  struct Contents {
    bool isValid = true;
    std::shared_ptr<const FormatDescription> formatDescription;
    std::vector<CMSampleTimingInfo> timing; // at least one entry for a timed sample
    std::optional<std::vector<AttachmentDictionary>> sampleAttachments;
    std::shared_ptr<const PixelBuffer> imageBuffer;
    std::shared_ptr<const AudioBuffer> audioBuffer;
  };

  static SampleBufferRef make(Contents contents);

  bool isValid() const { return contents_.isValid; }
  const std::shared_ptr<const FormatDescription>& formatDescription() const {
    return contents_.formatDescription;
  }
  // The first entry's presentation time, or invalid without timing.
  CMTime presentationTimeStamp() const;
  // The sum of the entries' durations, or invalid without timing.
  CMTime duration() const;
  // All timing entries; absent when the buffer carries none.
  std::optional<std::vector<CMSampleTimingInfo>> sampleTimingInfos() const;
  // The attachments array, if the buffer has one (never created on read).
  const std::optional<std::vector<AttachmentDictionary>>& sampleAttachments() const {
    return contents_.sampleAttachments;
  }
  const std::shared_ptr<const PixelBuffer>& imageBuffer() const { return contents_.imageBuffer; }
  const std::shared_ptr<const AudioBuffer>& audioBuffer() const { return contents_.audioBuffer; }

  // A copy sharing the payload, with new timing entries (one per entry of
  // this buffer). Null when the counts differ.
  SampleBufferRef withNewTiming(std::vector<CMSampleTimingInfo> timing) const;

private:
  explicit CMSampleBuffer(Contents contents) : contents_(std::move(contents)) {}
  Contents contents_;
};

} // namespace Platform

#pragma once

#include "Platform/SampleBuffer.h"
#include "Platform/Time.h"

#include <cstddef>
#include <cstdint>

// Sample buffers made in memory, with the timing and frame information a test
// chooses. Frames carry real pixels and audio buffers real PCM, so a real
// writer can encode them. Pure functions: callable from any thread.

namespace Platform::Simulated {

// How a screen frame carries its status, including the malformed shapes the
// engine must survive.
enum class FrameInfoShape {
  status,           // one attachment dictionary with an integer status
  noAttachments,    // the buffer has no attachments array
  emptyAttachments, // the array is there but holds no dictionary
  statusNotInteger, // the status is text instead of a number
  statusMissing,    // the dictionary lacks the status key
};

struct BGRAColour {
  std::uint8_t blue = 0x40;
  std::uint8_t green = 0x80;
  std::uint8_t red = 0xC0;
  std::uint8_t alpha = 0xFF;
};

struct VideoFrameOptions {
  CMTime presentationTime = kCMTimeZero;
  CMTime duration = kCMTimeInvalid;
  SCFrameStatus status = SCFrameStatus::complete;
  FrameInfoShape frameInfo = FrameInfoShape::status;
  std::int32_t width = 64;
  std::int32_t height = 36;
  // kCVPixelFormatType_32BGRA or kCVPixelFormatType_ARGB2101010LEPacked.
  std::uint32_t pixelFormat = kCVPixelFormatType_32BGRA;
  BGRAColour colour{};
};

// A screen frame: a filled pixel buffer with its format description.
SampleBufferRef makeVideoSample(const VideoFrameOptions& options);

struct AudioChunkOptions {
  CMTime presentationTime = kCMTimeZero;
  std::size_t frameCount = 480;
  double sampleRate = 48000;
  int channelCount = 2;
  AudioSampleFormat sampleFormat = AudioSampleFormat::float32;
  // A sine of this frequency; `firstFrameIndex` keeps its phase continuous
  // across consecutive chunks.
  double toneFrequency = 440;
  std::uint64_t firstFrameIndex = 0;
};

// An audio buffer of interleaved PCM with one timing entry whose duration is
// frameCount / sampleRate, at the sample rate's timescale.
SampleBufferRef makeAudioSample(const AudioChunkOptions& options);

// A buffer that reports itself invalid (it still has timing and a format).
SampleBufferRef makeInvalidSample(CMTime presentationTime = kCMTimeZero);

// A valid, timed video buffer without a format description.
SampleBufferRef makeSampleWithoutFormatDescription(CMTime presentationTime = kCMTimeZero);

} // namespace Platform::Simulated

#pragma once

#include "Platform/MediaWriting.h"

#include <string>

// Generated frames and audio, stamped with the times a test chooses, and a
// scratch directory for the files the tests write.

namespace WriterTests {

// A frame whose picture moves with `index`.
Platform::SampleBufferRef bgraFrame(int width, int height, int index, CMTime time);
Platform::SampleBufferRef l10rFrame(int width, int height, int index, CMTime time);

// A tone (or silence) of `frameCount` frames starting at `time`.
struct AudioShape {
  double sampleRate = 48000;
  int channelCount = 2;
  Platform::AudioSampleFormat format = Platform::AudioSampleFormat::float32;
  double amplitude = 0.5; // 0 for silence
};
Platform::SampleBufferRef audioBuffer(const AudioShape& shape, std::size_t frameCount, CMTime time);

// Seconds on the host clock's scale.
CMTime seconds(double value);

// The audio settings a recording gives its inputs.
Platform::OutputSettings audioSettings(bool lossless, int channelCount);
// Video settings with a codec, a size and, for H.264 and HEVC, colour tags.
Platform::OutputSettings videoSettings(const char* codec, int width, int height);

// A fresh directory, removed with everything in it when the object goes.
class ScratchDirectory {
public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

} // namespace WriterTests

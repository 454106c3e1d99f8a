#pragma once

#include "Platform/FFmpeg/LibavHandles.h"
#include "Platform/SampleBuffer.h"

// Turns captured frames (8-bit BGRA or 10-bit packed 'l10r') into the
// encoder's YUV frames at the track's size and matrix. A source one pixel
// larger than the track (an odd size rounded down to fit 4:2:0) is cropped,
// any other size difference is scaled. Same-size BGRA to 8-bit 4:2:0 takes
// the fast BT.709 path; everything else goes through libswscale.
//
// Threads: one converter per encoder thread.

namespace Platform::FFmpeg {

// True when `buffer` is a frame the converter can read: a known pixel format,
// a positive size and rows that fit the bytes it holds.
bool isConvertible(const PixelBuffer& buffer);

class PixelConverter {
public:
  PixelConverter(AVPixelFormat format, int width, int height, AVColorSpace matrix);

  // Throws Platform::SystemError when libswscale cannot convert the frame.
  void convert(const PixelBuffer& source, AVFrame& destination);

private:
  AVPixelFormat format_;
  int width_;
  int height_;
  AVColorSpace matrix_;
  SwsContext* context_ = nullptr; // owned by contextOwner_, replaced by sws_getCachedContext
  ScaleContextPtr contextOwner_;
};

} // namespace Platform::FFmpeg

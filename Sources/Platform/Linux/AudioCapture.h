#pragma once

#include "Platform/Error.h"
#include "Platform/SampleBuffer.h"
#include "Platform/ScreenCapture.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

// The seam between the Linux capture streams and the audio server: capture of
// one audio source (the default sink's monitor for system audio, or a chosen
// input source) into sample buffers stamped with the host clock.

namespace Platform::Linux {

class AudioCapture {
public:
  virtual ~AudioCapture() = default;

  // Blocks until recording runs; throws Platform::Error when it cannot start.
  // `deliver` is called one buffer at a time, in capture order, on a thread of
  // the capture that reads the sound: it must hand the buffer on (queue it)
  // and return, and must not stop the capture itself. Once running, a capture
  // does not fail: a source or server that goes away is heard as silence
  // until it is back.
  virtual void start(std::function<void(SampleBufferRef)> deliver) = 0;

  // Passes on the sound it holds, then blocks until `deliver` will not be
  // called again.
  virtual void stop() = 0;
};

// How long a stopping capture waits for the sound it passed on to reach its
// outputs: the end of a recording is kept, and a stuck output cannot hold the
// stop for long.
inline constexpr std::chrono::milliseconds finalAudioPatience{500};

class AudioCaptureFactory {
public:
  virtual ~AudioCaptureFactory() = default;
  // The monitor of the default sink: what the machine plays.
  virtual std::unique_ptr<AudioCapture> makeSystemAudioCapture() = 0;
  // What one application plays, wherever it plays it: the streams of its
  // process and the processes below it, and those the audio server names
  // with its identifier (a sandboxed application's processes are not ours to
  // see).
  virtual std::unique_ptr<AudioCapture>
  makeApplicationAudioCapture(const SCRunningApplication& application) = 0;
  // An input source by its name (the id that device discovery lists).
  virtual std::unique_ptr<AudioCapture> makeSourceCapture(const std::string& sourceName) = 0;
};

} // namespace Platform::Linux

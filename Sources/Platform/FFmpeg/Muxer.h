#pragma once

#include "Platform/Error.h"
#include "Platform/FFmpeg/LibavHandles.h"
#include "Platform/FFmpeg/OutputFile.h"
#include "Platform/OutputSettings.h"
#include "Platform/ThreadSafety.h"

#include <chrono>
#include <cstdint>
#include <memory>

// One container being written: the streams of a writer's inputs, interleaved
// into a fragmented file so that a process killed at any moment leaves a
// playable file missing at most about the last second.
//
// Threads: addStream and writeHeader are called by the writer before any
// encoder thread runs; write may then be called from every encoder thread
// at once; finish and discard once, after the encoder threads are done.
// Every member but path() takes the muxer's lock.

namespace Platform::FFmpeg {

class Muxer {
public:
  // Throws Platform::SystemError when the container cannot be set up.
  Muxer(std::unique_ptr<OutputFile> file, AVFileType fileType);

  const std::string& path() const { return file_->path(); }

  // A stream with the parameters of an opened encoder, named `name` when
  // that is not empty; returns its index. Every stream is enabled and in no
  // alternate group shared with another, so players play them together.
  int addStream(const AVCodecContext& encoder, const std::string& name) EXCLUDES(mutex_);
  // Throws Platform::SystemError when the header cannot be written.
  void writeHeader() EXCLUDES(mutex_);
  // Rescales and writes one packet. Throws Platform::SystemError on failure;
  // after the first failure every write throws.
  void write(AVPacket& packet, int streamIndex, AVRational timeBase) EXCLUDES(mutex_);
  // Writes the trailer (when the header was written and nothing failed) and
  // closes the file. Returns the error of the file, or null.
  ErrorRef finish() EXCLUDES(mutex_);
  // Closes the file and removes it when nothing was written.
  void discard() EXCLUDES(mutex_);

private:
  ErrorRef failure(const std::string& action, int error) REQUIRES(mutex_);

  Mutex mutex_;
  // Written through under the lock only; its path never changes.
  const std::unique_ptr<OutputFile> file_;
  OutputFormatContextPtr context_ GUARDED_BY(mutex_);
  const AVFileType fileType_;
  bool headerWritten_ GUARDED_BY(mutex_) = false;
  std::chrono::steady_clock::time_point lastFragmentTime_ GUARDED_BY(mutex_);
  bool closed_ GUARDED_BY(mutex_) = false;
  ErrorRef error_ GUARDED_BY(mutex_);
};

} // namespace Platform::FFmpeg

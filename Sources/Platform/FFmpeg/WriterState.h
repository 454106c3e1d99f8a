#pragma once

#include "Platform/MediaWriting.h"

#include <mutex>

// The status and error of one writer, shared with its inputs so that an
// encoder thread can put the writer in the failed status.
//
// Threads: every member may be called from any thread.

namespace Platform::FFmpeg {

class WriterState {
public:
  AVAssetWriterStatus status() const;
  ErrorRef error() const;
  bool isFailed() const { return status() == AVAssetWriterStatus::failed; }

  void setStatus(AVAssetWriterStatus status);
  // Moves to failed, keeping the first error; a finished writer stays as is.
  void fail(ErrorRef error);

private:
  mutable std::mutex mutex_;
  AVAssetWriterStatus status_ = AVAssetWriterStatus::unknown;
  ErrorRef error_;
};

} // namespace Platform::FFmpeg

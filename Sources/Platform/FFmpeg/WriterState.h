#pragma once

#include "Platform/MediaWriting.h"
#include "Platform/ThreadSafety.h"

// The status and error of one writer, shared with its inputs so that an
// encoder thread can put the writer in the failed status.
//
// Threads: every member may be called from any thread.

namespace Platform::FFmpeg {

class WriterState {
public:
  AVAssetWriterStatus status() const EXCLUDES(mutex_);
  ErrorRef error() const EXCLUDES(mutex_);
  bool isFailed() const EXCLUDES(mutex_) { return status() == AVAssetWriterStatus::failed; }

  void setStatus(AVAssetWriterStatus status) EXCLUDES(mutex_);
  // Moves to failed, keeping the first error; a finished writer stays as is.
  void fail(ErrorRef error) EXCLUDES(mutex_);

private:
  mutable Mutex mutex_;
  AVAssetWriterStatus status_ GUARDED_BY(mutex_) = AVAssetWriterStatus::unknown;
  ErrorRef error_ GUARDED_BY(mutex_);
};

} // namespace Platform::FFmpeg

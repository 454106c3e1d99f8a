#include "Platform/FFmpeg/WriterState.h"

namespace Platform::FFmpeg {

AVAssetWriterStatus WriterState::status() const {
  Lock lock(mutex_);
  return status_;
}

ErrorRef WriterState::error() const {
  Lock lock(mutex_);
  return error_;
}

void WriterState::setStatus(AVAssetWriterStatus status) {
  Lock lock(mutex_);
  status_ = status;
}

void WriterState::fail(ErrorRef error) {
  Lock lock(mutex_);
  if (status_ == AVAssetWriterStatus::completed || status_ == AVAssetWriterStatus::cancelled) {
    return;
  }
  if (!error_) {
    error_ = std::move(error);
  }
  status_ = AVAssetWriterStatus::failed;
}

} // namespace Platform::FFmpeg

#pragma once

#include "Platform/FFmpeg/Muxer.h"
#include "Platform/FFmpeg/OutputFile.h"
#include "Platform/FFmpeg/WriterInput.h"
#include "Platform/FFmpeg/WriterState.h"
#include "Platform/MediaWriting.h"
#include "Platform/ThreadSafety.h"

#include <memory>
#include <optional>
#include <vector>

// An asset writer over FFmpeg. The destination is created when writing
// starts, never over an existing file: startWriting fails then and leaves it
// untouched. A writer that never starts writing makes no file (and reports
// cancelled when finished). addInput throws Platform::SystemError for an
// input canAddInput refuses.
//
// Threads: every member may be called from any thread. finishWriting blocks
// until the file is closed; concurrent and later calls wait for that same
// finish, then return.

namespace Platform::FFmpeg {

class AssetWriter final : public AVAssetWriter {
public:
  // The file is created when writing starts; `path` must be free then.
  AssetWriter(std::string path, AVFileType fileType);
  ~AssetWriter() override;

  bool canAddInput(const AssetWriterInputRef& input) override EXCLUDES(mutex_);
  void addInput(AssetWriterInputRef input) override EXCLUDES(mutex_);
  std::vector<AssetWriterInputRef> inputs() const override EXCLUDES(mutex_);
  bool startWriting() override EXCLUDES(mutex_);
  void startSessionAtSourceTime(CMTime startTime) override EXCLUDES(mutex_);
  void endSessionAtSourceTime(CMTime endTime) override EXCLUDES(mutex_);
  AVAssetWriterStatus status() const override { return state_->status(); }
  ErrorRef error() const override { return state_->error(); }
  void finishWriting() override EXCLUDES(mutex_, finishMutex_);
  // A writer that never started leaves no file; a started one is finished,
  // keeping what it recorded.
  void cancelWriting() override EXCLUDES(mutex_, finishMutex_);

private:
  bool accepts(const WriterInput& input) const;
  void openTracks() REQUIRES(mutex_);

  const AVFileType fileType_;
  const std::string path_;
  const std::shared_ptr<WriterState> state_ = std::make_shared<WriterState>();

  // Never held while encoding: the encoder threads take the muxer's lock
  // and their inputs' only.
  mutable Mutex mutex_;
  std::shared_ptr<Muxer> muxer_ GUARDED_BY(mutex_);
  std::vector<std::shared_ptr<WriterInput>> inputs_ GUARDED_BY(mutex_);
  std::optional<CMTime> sessionStart_ GUARDED_BY(mutex_);
  std::optional<CMTime> sessionEnd_ GUARDED_BY(mutex_);
  bool finished_ GUARDED_BY(mutex_) = false;
  Mutex finishMutex_; // serialises finishWriting
};

} // namespace Platform::FFmpeg

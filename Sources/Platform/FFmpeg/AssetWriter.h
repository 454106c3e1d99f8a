#pragma once

#include "Platform/FFmpeg/Muxer.h"
#include "Platform/FFmpeg/OutputFile.h"
#include "Platform/FFmpeg/WriterInput.h"
#include "Platform/FFmpeg/WriterState.h"
#include "Platform/MediaWriting.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// An asset writer over FFmpeg. The destination is created when the writer is
// made, so an existing file is refused at once and never touched; a writer
// that never starts writing removes the empty file it made (and reports
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

  bool canAddInput(const AssetWriterInputRef& input) override;
  void addInput(AssetWriterInputRef input) override;
  std::vector<AssetWriterInputRef> inputs() const override;
  bool startWriting() override;
  void startSessionAtSourceTime(CMTime startTime) override;
  void endSessionAtSourceTime(CMTime endTime) override;
  AVAssetWriterStatus status() const override { return state_->status(); }
  ErrorRef error() const override { return state_->error(); }
  void finishWriting() override;
  // A writer that never started leaves no file; a started one is finished,
  // keeping what it recorded.
  void cancelWriting() override;

private:
  bool accepts(const WriterInput& input) const;
  void openTracks();

  const AVFileType fileType_;
  const std::string path_;
  const std::shared_ptr<WriterState> state_ = std::make_shared<WriterState>();

  mutable std::mutex mutex_; // guards everything below; never held while encoding
  std::shared_ptr<Muxer> muxer_;
  std::vector<std::shared_ptr<WriterInput>> inputs_;
  std::optional<CMTime> sessionStart_;
  std::optional<CMTime> sessionEnd_;
  bool finished_ = false;
  std::mutex finishMutex_; // serialises finishWriting
};

} // namespace Platform::FFmpeg

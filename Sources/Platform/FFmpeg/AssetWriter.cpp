#include "Platform/FFmpeg/AssetWriter.h"

#include "Platform/FFmpeg/HybridFinish.h"
#include "Platform/Log.h"

#include <cerrno>

namespace Platform::FFmpeg {

AssetWriter::AssetWriter(std::string path, AVFileType fileType)
    : fileType_(fileType), path_(std::move(path)) {}

AssetWriter::~AssetWriter() {
  finishWriting();
}

bool AssetWriter::accepts(const WriterInput& input) const {
  if (const auto& video = input.videoSettings()) {
    switch (fileType_) {
    case AVFileType::appleM4A:
      return false;
    case AVFileType::mpeg4:
    case AVFileType::appleM4V:
      return !isProRes(video->codec);
    case AVFileType::quickTimeMovie:
      return true;
    }
  }
  return input.audioSettings().has_value();
}

bool AssetWriter::canAddInput(const AssetWriterInputRef& input) {
  const auto ours = std::dynamic_pointer_cast<WriterInput>(input);
  Lock lock(mutex_);
  return ours && state_->status() == AVAssetWriterStatus::unknown && !ours->isAttached() &&
         accepts(*ours);
}

void AssetWriter::addInput(AssetWriterInputRef input) {
  const auto ours = std::dynamic_pointer_cast<WriterInput>(input);
  Lock lock(mutex_);
  if (!ours || state_->status() != AVAssetWriterStatus::unknown || !accepts(*ours) ||
      !ours->attach()) {
    throw SystemError(ErrorDomain::mediaWriting, EINVAL,
                      "The writer cannot take this input" +
                          (ours && !ours->settingsProblem().empty() ? ": " + ours->settingsProblem()
                                                                    : std::string(".")));
  }
  inputs_.push_back(ours);
}

std::vector<AssetWriterInputRef> AssetWriter::inputs() const {
  Lock lock(mutex_);
  return {inputs_.begin(), inputs_.end()};
}

void AssetWriter::openTracks() {
  muxer_ = std::make_shared<Muxer>(OutputFile::create(path_), fileType_);
  std::vector<std::unique_ptr<TrackEncoder>> encoders;
  for (const auto& input : inputs_) {
    auto encoder = input->makeEncoder();
    encoder->attach(muxer_, muxer_->addStream(encoder->codecContext(), input->trackName()));
    encoders.push_back(std::move(encoder));
  }
  muxer_->writeHeader();
  for (std::size_t i = 0; i < inputs_.size(); ++i) {
    inputs_[i]->start(std::move(encoders[i]), state_);
    if (sessionStart_) {
      inputs_[i]->setSessionStart(*sessionStart_);
    }
  }
}

bool AssetWriter::startWriting() {
  Lock lock(mutex_);
  if (state_->status() != AVAssetWriterStatus::unknown || finished_) {
    return false;
  }
  try {
    openTracks();
  } catch (const SystemError& error) {
    state_->fail(std::make_shared<SystemError>(error));
    if (muxer_) {
      muxer_->discard();
    }
    return false;
  }
  state_->setStatus(AVAssetWriterStatus::writing);
  return true;
}

void AssetWriter::startSessionAtSourceTime(CMTime startTime) {
  Lock lock(mutex_);
  if (sessionStart_ || !startTime.isNumeric()) {
    return;
  }
  sessionStart_ = startTime;
  if (state_->status() == AVAssetWriterStatus::writing) {
    for (const auto& input : inputs_) {
      input->setSessionStart(startTime);
    }
  }
}

void AssetWriter::endSessionAtSourceTime(CMTime endTime) {
  Lock lock(mutex_);
  if (endTime.isNumeric()) {
    sessionEnd_ = endTime;
  }
}

void AssetWriter::finishWriting() {
  Lock finishing(finishMutex_);
  std::vector<std::shared_ptr<WriterInput>> inputs;
  std::shared_ptr<Muxer> muxer;
  CMTime sessionEnd = kCMTimeInvalid;
  {
    Lock lock(mutex_);
    if (sessionStart_ && sessionEnd_) {
      sessionEnd = CMTimeSubtract(*sessionEnd_, *sessionStart_);
    }
    if (finished_) {
      return;
    }
    finished_ = true;
    inputs = inputs_;
    muxer = muxer_;
    if (!muxer) {
      // Never started: nothing was recorded, and no file was made.
      if (state_->status() == AVAssetWriterStatus::unknown) {
        state_->setStatus(AVAssetWriterStatus::cancelled);
      }
      return;
    }
  }
  // Encoder threads take the mux lock, never this writer's: drain unlocked.
  // Every track is encoded first, so that without a session end a picture
  // that stood still can be shown until the end of the longest track.
  CMTime recordingEnd = sessionEnd;
  for (const auto& input : inputs) {
    input->waitUntilEncoded();
    const CMTime end = input->encodedEnd();
    if (!sessionEnd.isNumeric() && end.isNumeric() &&
        (!recordingEnd.isNumeric() || CMTimeCompare(end, recordingEnd) > 0)) {
      recordingEnd = end;
    }
  }
  for (const auto& input : inputs) {
    input->drain(recordingEnd);
  }
  const ErrorRef error = muxer->finish();
  if (error) {
    state_->fail(error);
    return;
  }
  if (state_->isFailed()) {
    return; // cut back to its last whole fragment: it stays fragmented
  }
  // A plain movie for every player and editor. Should that fail, the
  // fragmented file is still whole and plays: nothing recorded is lost.
  if (const ErrorRef unfinished = finishFragmentedMovie(muxer->path())) {
    log(LogLevel::warning,
        unfinished->localizedDescription() + " It stays a fragmented movie, which plays as well.");
  }
  state_->setStatus(AVAssetWriterStatus::completed);
}

void AssetWriter::cancelWriting() {
  // A writer that never started made no file: finishing it leaves none.
  finishWriting();
}

} // namespace Platform::FFmpeg

#include "Simulated/SimulatedAssetWriter.h"

#include "Simulated/World.h"

#include <algorithm>
#include <iterator>

namespace Platform::Simulated {

namespace {

std::string mediaName(MediaType mediaType) {
  return mediaType == MediaType::audio ? "audio" : "video";
}

} // namespace

SimulatedWriterInput::SimulatedWriterInput(std::shared_ptr<World> world, MediaType mediaType,
                                           OutputSettings outputSettings)
    : world_(std::move(world)), mediaType_(mediaType), outputSettings_(std::move(outputSettings)) {}

void SimulatedWriterInput::setExpectsMediaDataInRealTime(bool realTime) {
  std::lock_guard lock(mutex_);
  realTime_ = realTime;
}

bool SimulatedWriterInput::expectsMediaDataInRealTime() const {
  std::lock_guard lock(mutex_);
  return realTime_;
}

bool SimulatedWriterInput::isReadyForMoreMediaData() const {
  std::shared_ptr<SimulatedAssetWriter> writer;
  {
    std::lock_guard lock(mutex_);
    if (!ready_ || finished_) {
      return false;
    }
    writer = writer_.lock();
  }
  return writer && writer->status() == AVAssetWriterStatus::writing;
}

bool SimulatedWriterInput::appendSampleBuffer(const SampleBufferRef& sampleBuffer) {
  std::shared_ptr<SimulatedAssetWriter> writer;
  std::string misuse;
  {
    std::lock_guard lock(mutex_);
    writer = writer_.lock();
    if (!writer) {
      ++refused_;
      return false; // the input belongs to no writer; nothing to report to
    }
    if (finished_) {
      misuse = "append to the " + mediaName(mediaType_) + " input after markAsFinished";
    } else if (!ready_) {
      misuse = "append to the " + mediaName(mediaType_) + " input while it is not ready";
    }
  }
  const bool accepted = misuse.empty() && writer->takeAppend(*this, sampleBuffer);
  if (!misuse.empty()) {
    writer->recordMisuse(std::move(misuse));
  }
  std::lock_guard lock(mutex_);
  ++(accepted ? appended_ : refused_);
  return accepted;
}

void SimulatedWriterInput::markAsFinished() {
  world_->callLog.append("input.markAsFinished(" + mediaName(mediaType_) + ")");
  std::lock_guard lock(mutex_);
  finished_ = true;
}

void SimulatedWriterInput::setReadyForMoreMediaData(bool ready) {
  std::lock_guard lock(mutex_);
  ready_ = ready;
}

void SimulatedWriterInput::setTrackName(const std::string& name) {
  std::lock_guard lock(mutex_);
  trackName_ = name;
}

std::string SimulatedWriterInput::trackName() const {
  std::lock_guard lock(mutex_);
  return trackName_;
}

bool SimulatedWriterInput::isMarkedAsFinished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

std::size_t SimulatedWriterInput::appendCount() const {
  std::lock_guard lock(mutex_);
  return appended_;
}

std::size_t SimulatedWriterInput::refusedAppendCount() const {
  std::lock_guard lock(mutex_);
  return refused_;
}

void SimulatedWriterInput::attach(std::weak_ptr<SimulatedAssetWriter> writer) {
  std::lock_guard lock(mutex_);
  writer_ = std::move(writer);
}

SimulatedAssetWriter::SimulatedAssetWriter(std::shared_ptr<World> world, std::string path,
                                           AVFileType fileType)
    : world_(std::move(world)), path_(std::move(path)), fileType_(fileType) {}

bool SimulatedAssetWriter::canAddInput(const AssetWriterInputRef& input) {
  const auto simulated = std::dynamic_pointer_cast<SimulatedWriterInput>(input);
  const Failures failures = world_->read([](const World& world) { return world.failures; });
  std::lock_guard lock(mutex_);
  const std::size_t call = canAddInputCount_++;
  if (!simulated || status_ != AVAssetWriterStatus::unknown ||
      std::find(inputs_.begin(), inputs_.end(), simulated) != inputs_.end()) {
    return false;
  }
  const auto refused = failures.refusedWriterInputs.find(simulated->mediaType());
  if (refused != failures.refusedWriterInputs.end() && refused->second) {
    return false;
  }
  return failures.refusedWriterInputCall != call;
}

void SimulatedAssetWriter::addInput(AssetWriterInputRef input) {
  world_->callLog.append("writer.addInput(" + mediaName(input->mediaType()) + ")");
  auto simulated = std::dynamic_pointer_cast<SimulatedWriterInput>(std::move(input));
  {
    std::lock_guard lock(mutex_);
    if (!simulated) {
      misuses_.push_back("addInput of an input another service made");
      return;
    }
    if (status_ != AVAssetWriterStatus::unknown) {
      misuses_.push_back("addInput after startWriting");
      return;
    }
    if (std::find(inputs_.begin(), inputs_.end(), simulated) != inputs_.end()) {
      misuses_.push_back("addInput of an input already added");
      return;
    }
    inputs_.push_back(simulated);
  }
  // Outside the writer's lock: an input takes its own lock before the writer's.
  simulated->attach(weak_from_this());
}

std::vector<AssetWriterInputRef> SimulatedAssetWriter::inputs() const {
  std::lock_guard lock(mutex_);
  return {inputs_.begin(), inputs_.end()};
}

bool SimulatedAssetWriter::startWriting() {
  world_->callLog.append("writer.startWriting");
  const ErrorRef failure =
      world_->read([](const World& world) { return world.failures.startWriting; });
  std::lock_guard lock(mutex_);
  ++startWritingCount_;
  if (status_ != AVAssetWriterStatus::unknown) {
    misuses_.push_back("startWriting twice");
    return false;
  }
  if (failure) {
    status_ = AVAssetWriterStatus::failed;
    error_ = failure;
    return false;
  }
  status_ = AVAssetWriterStatus::writing;
  return true;
}

void SimulatedAssetWriter::startSessionAtSourceTime(CMTime startTime) {
  world_->callLog.append("writer.startSessionAtSourceTime");
  std::lock_guard lock(mutex_);
  if (status_ != AVAssetWriterStatus::writing) {
    misuses_.push_back("startSessionAtSourceTime while not writing");
    return;
  }
  if (sessionStartTime_) {
    misuses_.push_back("startSessionAtSourceTime twice");
    return;
  }
  sessionStartTime_ = startTime;
}

void SimulatedAssetWriter::endSessionAtSourceTime(CMTime endTime) {
  world_->callLog.append("writer.endSessionAtSourceTime");
  std::lock_guard lock(mutex_);
  if (!sessionStartTime_) {
    misuses_.push_back("endSessionAtSourceTime before startSessionAtSourceTime");
    return;
  }
  sessionEndTime_ = endTime;
}

AVAssetWriterStatus SimulatedAssetWriter::status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

ErrorRef SimulatedAssetWriter::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

void SimulatedAssetWriter::finishWriting() {
  world_->callLog.append("writer.finishWriting");
  const ErrorRef failure =
      world_->read([](const World& world) { return world.failures.finishWriting; });
  std::lock_guard lock(mutex_);
  ++finishWritingCount_;
  if (status_ == AVAssetWriterStatus::unknown) {
    misuses_.push_back("finishWriting before startWriting");
    return;
  }
  if (status_ != AVAssetWriterStatus::writing) {
    return; // finished or failed already: later calls return at once
  }
  if (failure) {
    status_ = AVAssetWriterStatus::failed;
    error_ = failure;
    return;
  }
  status_ = AVAssetWriterStatus::completed;
}

void SimulatedAssetWriter::cancelWriting() {
  world_->callLog.append("writer.cancelWriting");
  std::lock_guard lock(mutex_);
  if (status_ == AVAssetWriterStatus::unknown || status_ == AVAssetWriterStatus::writing) {
    status_ = AVAssetWriterStatus::cancelled;
  }
}

void SimulatedAssetWriter::failWriting(ErrorRef error) {
  std::lock_guard lock(mutex_);
  status_ = AVAssetWriterStatus::failed;
  error_ = std::move(error);
}

std::vector<std::shared_ptr<SimulatedWriterInput>> SimulatedAssetWriter::simulatedInputs() const {
  std::lock_guard lock(mutex_);
  return inputs_;
}

std::shared_ptr<SimulatedWriterInput> SimulatedAssetWriter::input(MediaType mediaType,
                                                                  std::size_t skip) const {
  std::lock_guard lock(mutex_);
  for (const auto& candidate : inputs_) {
    if (candidate->mediaType() == mediaType) {
      if (skip == 0) {
        return candidate;
      }
      --skip;
    }
  }
  return nullptr;
}

std::size_t SimulatedAssetWriter::canAddInputCount() const {
  std::lock_guard lock(mutex_);
  return canAddInputCount_;
}

std::optional<CMTime> SimulatedAssetWriter::sessionStartTime() const {
  std::lock_guard lock(mutex_);
  return sessionStartTime_;
}

std::optional<CMTime> SimulatedAssetWriter::sessionEndTime() const {
  std::lock_guard lock(mutex_);
  return sessionEndTime_;
}

int SimulatedAssetWriter::startWritingCount() const {
  std::lock_guard lock(mutex_);
  return startWritingCount_;
}

int SimulatedAssetWriter::finishWritingCount() const {
  std::lock_guard lock(mutex_);
  return finishWritingCount_;
}

std::vector<AppendRecord> SimulatedAssetWriter::appends() const {
  std::lock_guard lock(mutex_);
  return appends_;
}

std::vector<AppendRecord> SimulatedAssetWriter::appends(const AVAssetWriterInput& input) const {
  std::lock_guard lock(mutex_);
  const auto index = indexOf(input);
  std::vector<AppendRecord> result;
  if (index) {
    std::copy_if(appends_.begin(), appends_.end(), std::back_inserter(result),
                 [&index](const AppendRecord& record) { return record.inputIndex == *index; });
  }
  return result;
}

std::vector<std::string> SimulatedAssetWriter::misuses() const {
  std::lock_guard lock(mutex_);
  return misuses_;
}

bool SimulatedAssetWriter::takeAppend(const SimulatedWriterInput& input,
                                      const SampleBufferRef& sample) {
  const bool keepsSample =
      world_->read([](const World& world) { return world.keepsAppendedSamples; });
  std::lock_guard lock(mutex_);
  if (status_ == AVAssetWriterStatus::failed || status_ == AVAssetWriterStatus::cancelled) {
    return false;
  }
  if (status_ != AVAssetWriterStatus::writing) {
    misuses_.push_back("append while the writer is not writing");
    return false;
  }
  if (!sessionStartTime_) {
    misuses_.push_back("append before startSessionAtSourceTime");
    return false;
  }
  if (!sample) {
    misuses_.push_back("append of no sample");
    return false;
  }
  const auto index = indexOf(input);
  if (!index) {
    misuses_.push_back("append to an input the writer does not have");
    return false;
  }
  appends_.push_back({*index, input.mediaType(), sample->presentationTimeStamp(),
                      sample->duration(), keepsSample ? sample : nullptr});
  return true;
}

void SimulatedAssetWriter::recordMisuse(std::string what) {
  std::lock_guard lock(mutex_);
  misuses_.push_back(std::move(what));
}

std::optional<std::size_t> SimulatedAssetWriter::indexOf(const AVAssetWriterInput& input) const {
  const auto found = std::find_if(inputs_.begin(), inputs_.end(), [&input](const auto& candidate) {
    return candidate.get() == &input;
  });
  if (found == inputs_.end()) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(found - inputs_.begin());
}

} // namespace Platform::Simulated

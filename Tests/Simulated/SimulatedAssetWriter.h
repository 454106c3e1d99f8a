#pragma once

#include "Platform/MediaWriting.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// An asset writer that writes nothing and records everything: the inputs it
// was offered and given, every append with its input and times, the session
// start time, each input's markAsFinished and the finish. Appends are refused
// as a real writer refuses them (not writing, input not ready or finished),
// and misuse that a real writer would reject or throw on is recorded in
// `misuses()` for tests to assert empty.
//
// Thread contract: every member of the writer and its inputs may be called
// from any thread; each call is atomic with respect to the others.

namespace Platform::Simulated {

struct World;
class SimulatedAssetWriter;

class SimulatedWriterInput final : public AVAssetWriterInput,
                                   public std::enable_shared_from_this<SimulatedWriterInput> {
public:
  SimulatedWriterInput(std::shared_ptr<World> world, MediaType mediaType,
                       OutputSettings outputSettings);

  // AVAssetWriterInput.
  MediaType mediaType() const override { return mediaType_; }
  const OutputSettings& outputSettings() const override { return outputSettings_; }
  void setExpectsMediaDataInRealTime(bool realTime) override;
  bool expectsMediaDataInRealTime() const override;
  bool isReadyForMoreMediaData() const override;
  bool appendSampleBuffer(const SampleBufferRef& sampleBuffer) override;
  void markAsFinished() override;
  void setTrackName(const std::string& name) override;

  // Test control: a not-ready input refuses appends.
  void setReadyForMoreMediaData(bool ready);

  // Observation.
  bool isMarkedAsFinished() const;
  std::string trackName() const;
  std::size_t appendCount() const; // accepted appends
  std::size_t refusedAppendCount() const;

private:
  friend class SimulatedAssetWriter;
  void attach(std::weak_ptr<SimulatedAssetWriter> writer);

  const std::shared_ptr<World> world_;
  const MediaType mediaType_;
  const OutputSettings outputSettings_;
  mutable std::mutex mutex_;
  std::weak_ptr<SimulatedAssetWriter> writer_;
  bool realTime_ = false;
  std::string trackName_;
  bool ready_ = true;
  bool finished_ = false;
  std::size_t appended_ = 0;
  std::size_t refused_ = 0;
};

// One accepted append, in the order the writer took them.
struct AppendRecord {
  std::size_t inputIndex = 0; // position of the input in inputs()
  MediaType mediaType = MediaType::video;
  CMTime presentationTime = kCMTimeInvalid;
  CMTime duration = kCMTimeInvalid;
  SampleBufferRef sample; // null when the platform keeps no samples
};

class SimulatedAssetWriter final : public AVAssetWriter,
                                   public std::enable_shared_from_this<SimulatedAssetWriter> {
public:
  SimulatedAssetWriter(std::shared_ptr<World> world, std::string path, AVFileType fileType);

  // AVAssetWriter.
  bool canAddInput(const AssetWriterInputRef& input) override;
  void addInput(AssetWriterInputRef input) override;
  std::vector<AssetWriterInputRef> inputs() const override;
  bool startWriting() override;
  void startSessionAtSourceTime(CMTime startTime) override;
  void endSessionAtSourceTime(CMTime endTime) override;
  AVAssetWriterStatus status() const override;
  ErrorRef error() const override;
  void finishWriting() override;
  void cancelWriting() override;

  // Test control: the writer fails while writing; status becomes failed,
  // later appends are refused and `error` is kept.
  void failWriting(ErrorRef error);

  // Observation.
  const std::string& path() const { return path_; }
  AVFileType fileType() const { return fileType_; }
  std::vector<std::shared_ptr<SimulatedWriterInput>> simulatedInputs() const;
  // The first added input of `mediaType` at or after position `skip` among
  // inputs of that type, or null.
  std::shared_ptr<SimulatedWriterInput> input(MediaType mediaType, std::size_t skip = 0) const;
  std::size_t canAddInputCount() const;
  std::optional<CMTime> sessionStartTime() const;
  std::optional<CMTime> sessionEndTime() const;
  int startWritingCount() const;
  int finishWritingCount() const;
  std::vector<AppendRecord> appends() const;
  // The accepted appends of one input, in order.
  std::vector<AppendRecord> appends(const AVAssetWriterInput& input) const;
  std::vector<std::string> misuses() const;

private:
  friend class SimulatedWriterInput;
  // Records an append of `input`; false when the writer refuses it.
  bool takeAppend(const SimulatedWriterInput& input, const SampleBufferRef& sample);
  void recordMisuse(std::string what);
  std::optional<std::size_t> indexOf(const AVAssetWriterInput& input) const;

  const std::shared_ptr<World> world_;
  const std::string path_;
  const AVFileType fileType_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<SimulatedWriterInput>> inputs_;
  AVAssetWriterStatus status_ = AVAssetWriterStatus::unknown;
  ErrorRef error_;
  std::optional<CMTime> sessionStartTime_;
  std::optional<CMTime> sessionEndTime_;
  std::size_t canAddInputCount_ = 0;
  int startWritingCount_ = 0;
  int finishWritingCount_ = 0;
  std::vector<AppendRecord> appends_;
  std::vector<std::string> misuses_;
};

} // namespace Platform::Simulated

#pragma once

#include "Platform/Error.h"
#include "Platform/OutputSettings.h"
#include "Platform/SampleBuffer.h"
#include "Platform/Time.h"

#include <memory>
#include <string>
#include <vector>

// The media-writing service: an asset writer that muxes inputs into one file,
// writer inputs with their output settings, and the settings assistant.

namespace Platform {

// Takes samples of one track. Appends never block: each input has a bounded
// queue, and isReadyForMoreMediaData is false while it is full.
class AVAssetWriterInput {
public:
  virtual ~AVAssetWriterInput() = default;
  virtual MediaType mediaType() const = 0;
  virtual const OutputSettings& outputSettings() const = 0;
  virtual void setExpectsMediaDataInRealTime(bool realTime) = 0;
  virtual bool expectsMediaDataInRealTime() const = 0;
  virtual bool isReadyForMoreMediaData() const = 0;
  // False when the sample was refused (not ready, finished, writer failed).
  virtual bool appendSampleBuffer(const SampleBufferRef& sampleBuffer) = 0;
  virtual void markAsFinished() = 0;
  // The name players and tools show for the track (for example "System
  // audio"); before the writer starts. Unnamed by default.
  virtual void setTrackName(const std::string& name) = 0;
};

using AssetWriterInputRef = std::shared_ptr<AVAssetWriterInput>;

enum class AVAssetWriterStatus : std::int64_t {
  unknown = 0,
  writing = 1,
  completed = 2,
  failed = 3,
  cancelled = 4,
};

// Writes one file. Inputs are added before startWriting; the session start
// time is the file's time zero, and media before it is dropped. Thread-safe.
class AVAssetWriter {
public:
  virtual ~AVAssetWriter() = default;
  virtual bool canAddInput(const AssetWriterInputRef& input) = 0;
  virtual void addInput(AssetWriterInputRef input) = 0;
  virtual std::vector<AssetWriterInputRef> inputs() const = 0;
  // Opens the file and writes its header; false (and status failed) on error.
  virtual bool startWriting() = 0;
  virtual void startSessionAtSourceTime(CMTime startTime) = 0;
  // Where the file's timeline ends (the same clock as the session start):
  // every track lasts until then, whatever its last sample. Without it the
  // file ends where its longest track does.
  virtual void endSessionAtSourceTime(CMTime endTime) = 0;
  virtual AVAssetWriterStatus status() const = 0;
  // The error of a failed writer; null otherwise.
  virtual ErrorRef error() const = 0;
  // Blocks until every queued sample is written and the file is closed.
  // Completes once; later calls return at once.
  virtual void finishWriting() = 0;
  // Abandons the file: a writer that has not started writing removes the
  // file it created and ends cancelled.
  virtual void cancelWriting() = 0;
};

using AssetWriterRef = std::shared_ptr<AVAssetWriter>;

class AVOutputSettingsAssistant {
public:
  virtual ~AVOutputSettingsAssistant() = default;
  virtual void setSourceVideoFormat(std::shared_ptr<const FormatDescription> format) = 0;
  // The video settings for the preset and source format, or absent.
  virtual std::optional<OutputSettings> videoSettings() const = 0;
};

class MediaWritingService {
public:
  virtual ~MediaWritingService() = default;

  // Throws Platform::Error when the writer cannot be made; never replaces an
  // existing file or follows a symlink at `path`.
  virtual AssetWriterRef makeAssetWriter(const std::string& path, AVFileType fileType) = 0;
  virtual AssetWriterInputRef makeAssetWriterInput(MediaType mediaType,
                                                   OutputSettings outputSettings) = 0;
  // Null when the preset is not known.
  virtual std::shared_ptr<AVOutputSettingsAssistant>
  makeOutputSettingsAssistant(const std::string& preset) = 0;
  // A video format description of a codec type and size; null on failure.
  virtual std::shared_ptr<const FormatDescription>
  makeVideoFormatDescription(std::uint32_t codecType, std::int32_t width, std::int32_t height) = 0;
};

} // namespace Platform

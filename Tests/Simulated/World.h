#pragma once

#include "Platform/Platform.h"
#include "Simulated/CallLog.h"
#include "Simulated/SimulatedPlatform.h"

#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The scripted world every simulated service reads and the record of what
// they made. Shared by the services and the objects they make.
//
// Thread contract: `mutex` guards every field but `callLog` (which has its
// own lock) and `generation` (fixed at construction). Never call into the
// engine while holding `mutex`.

namespace Platform::Simulated {

class SimulatedStream;
class SimulatedCaptureSession;
class SimulatedAssetWriter;

struct ScriptedDisplay {
  SCDisplay display;
  std::optional<CGDisplayMode> mode;
};

struct Failures {
  ErrorRef shareableContent;
  std::map<SCStreamOutputType, ErrorRef> streamOutputs;
  ErrorRef streamStart;
  std::map<std::string, ErrorRef> deviceInputs;
  bool refuseCaptureSessionInputs = false;
  bool refuseCaptureSessionOutputs = false;
  ErrorRef captureSessionStart;
  ErrorRef assetWriterCreation;
  std::map<MediaType, bool> refusedWriterInputs;
  std::optional<std::size_t> refusedWriterInputCall;
  ErrorRef startWriting;
  ErrorRef finishWriting;
};

struct World {
  explicit World(SampleGeneration sampleGeneration) : generation(sampleGeneration) {}

  const SampleGeneration generation;
  CallLog callLog;

  mutable std::mutex mutex;
  std::condition_variable objectMade;

  std::vector<ScriptedDisplay> displays;
  std::optional<std::uint32_t> mainDisplayID;
  std::vector<NSScreen> screens;
  std::vector<SCWindow> windows;
  std::vector<DeviceDescription> audioDevices;
  std::vector<DeviceDescription> externalDevices;

  Capabilities capabilities{.streamCapturesMicrophone = true, .streamHighlightsClicks = true};
  std::int64_t microphoneAuthorizationStatus = 3;
  bool microphoneAccessAnswer = true;
  bool screenCapturePreflight = true;
  bool screenCaptureRequestAnswer = true;
  bool openURLAnswer = true;
  std::optional<Bundle> mainBundle;
  std::vector<Bundle> bundles;

  bool assistantAvailable = true;
  bool assistantReturnsSettings = true;
  bool videoFormatDescriptionAvailable = true;
  bool keepsAppendedSamples = true;

  Failures failures;
  bool streamStartsHeld = false; // see SimulatedStream::beginHeldStart

  std::vector<std::shared_ptr<SimulatedStream>> streams;
  std::vector<std::shared_ptr<SimulatedCaptureSession>> captureSessions;
  std::vector<std::shared_ptr<SimulatedAssetWriter>> writers;
  std::vector<ActivityRecord> activities;
  std::vector<std::string> openedURLs;
  int microphoneAccessRequests = 0;
  int screenCaptureAccessRequests = 0;
  int allowScreenCaptureDevicesCalls = 0;

  // The host clock of a manual world: the end of the latest sample handed
  // to the engine, which was captured "now". Invalid before the first.
  CMTime clock = kCMTimeInvalid;
  void noteDelivered(const CMSampleBuffer& sample) {
    const CMTime duration = sample.duration();
    const CMTime end =
        CMTimeAdd(sample.presentationTimeStamp(),
                  duration.isNumeric() && duration.value > 0 ? duration : kCMTimeZero);
    std::lock_guard lock(mutex);
    if (end.isNumeric() && (!clock.isNumeric() || CMTimeCompare(end, clock) > 0)) {
      clock = end;
    }
  }

  // A copy of one field, read under the lock.
  template <typename Read> auto read(Read reader) const {
    std::lock_guard lock(mutex);
    return reader(*this);
  }
};

} // namespace Platform::Simulated

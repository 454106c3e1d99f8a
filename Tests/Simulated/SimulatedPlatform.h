#pragma once

#include "Platform/Platform.h"
#include "Simulated/CallLog.h"
#include "Simulated/Samples.h"
#include "Simulated/SimulatedAssetWriter.h"
#include "Simulated/SimulatedCaptureSession.h"
#include "Simulated/SimulatedStream.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A deterministic, scriptable platform: displays, windows, devices,
// permissions and failures are set by the test; streams and capture sessions
// deliver the samples the test hands them, on the queues the engine gave;
// the writer records every call so tests can assert exact timelines.
//
//   SimulatedPlatform platform;
//   platform.addDisplay({.displayID = 1, .width = 1440, .height = 900,
//                        .frame = {0, 0, 1440, 900}});
//   Platform::install(platform.services());
//   ... start the engine on another thread ...
//   auto stream = platform.waitForStream();
//   stream->waitUntilStarted();
//   stream->deliverAndWait(SCStreamOutputType::screen,
//                          makeVideoSample({.presentationTime = CMTimeMake(1, 1)}));
//
// Failures, once injected, hold for every later matching call until they are
// cleared (a null error or false). The services keep the scripted world
// alive, so they outlive the SimulatedPlatform object that made them.
//
// Call-log entries, in the order the calls were made:
//   "shareableContent(<excludeDesktopWindows>, <onScreenWindowsOnly>)",
//   "makeStream", "stream.addStreamOutput(screen|audio|microphone)",
//   "stream.startCapture", "stream.stopCapture", "stream.didStopWithError",
//   "discoverDevices(<type>, ...; audio|video|any)", "allowScreenCaptureDevices",
//   "makeDeviceInput(<uniqueID>)", "makeCaptureSession", "makeAudioDataOutput",
//   "makeVideoDataOutput", "output.setSampleBufferDelegate(<queue label>)",
//   "captureSession.addInput(<uniqueID>)", "captureSession.addOutput(audioData|videoData)",
//   "captureSession.startRunning", "captureSession.stopRunning",
//   "captureSession.runtimeError", "makeAssetWriter(<path>)",
//   "makeAssetWriterInput(audio|video)", "writer.addInput(audio|video)",
//   "writer.startWriting", "writer.startSessionAtSourceTime", "writer.finishWriting",
//   "input.markAsFinished(audio|video)", "makeOutputSettingsAssistant(<preset>)",
//   "assistant.setSourceVideoFormat(<width>x<height>|none)",
//   "requestMicrophoneAccess", "requestScreenCaptureAccess", "openURL(<url>)",
//   "beginActivity(<reason>)", "endActivity(<reason>)".
//
// Thread contract: every member may be called from any thread, also while
// the engine runs; the services and every object they make are thread-safe.

namespace Platform::Simulated {

struct World;

enum class SampleGeneration {
  manual,    // only the test delivers samples
  automatic, // started streams and running capture sessions make their own
};

struct ActivityRecord {
  std::uint64_t options = 0;
  std::string reason;
  bool isEnded = false;
};

class SimulatedPlatform {
public:
  explicit SimulatedPlatform(SampleGeneration generation = SampleGeneration::manual);
  ~SimulatedPlatform();
  SimulatedPlatform(const SimulatedPlatform&) = delete;
  SimulatedPlatform& operator=(const SimulatedPlatform&) = delete;

  // The four services, for Platform::install. A test may replace any of
  // them (say `mediaWriting` with a real writer) before installing.
  Services services() const;

  // Displays and windows, in the order the content lists them.
  // `mode` is the display's current mode (absent: no mode).
  void addDisplay(SCDisplay display, std::optional<CGDisplayMode> mode = std::nullopt);
  // The main display; by default the first display added.
  void setMainDisplayID(std::uint32_t displayID);
  void addScreen(NSScreen screen);
  void addWindow(SCWindow window);

  // Capture devices, in discovery order. Audio devices are found with
  // media type audio (or any) under the microphone types; external devices
  // with media type video (or any) under the external types, and only after
  // allowScreenCaptureDevices.
  void addAudioDevice(DeviceDescription device);
  void addExternalDevice(DeviceDescription device);

  // The host clock (SystemServices::hostTime) is the real one when samples
  // are made automatically; with manual samples it reads the end of the
  // latest sample delivered, as if each were delivered as it was captured.

  // System answers. Defaults: every capability, microphone status 3
  // (authorized), every request granted, preflight true, openURL true, no
  // main bundle and no other bundle.
  void setCapabilities(Capabilities capabilities);
  void setMicrophoneAuthorizationStatus(std::int64_t status);
  void setMicrophoneAccessAnswer(bool granted);
  void setScreenCapturePreflight(bool allowed);
  void setScreenCaptureRequestAnswer(bool granted);
  void setOpenURLAnswer(bool opens);
  void setMainBundle(std::optional<Bundle> bundle);
  void addBundle(Bundle bundle); // found by bundleAtPath(bundle.bundlePath)

  // Media-writing answers. By default the assistant knows both presets and
  // returns settings, and format descriptions are made.
  void setOutputSettingsAssistantAvailable(bool available);
  void setOutputSettingsAssistantReturnsSettings(bool returnsSettings);
  void setVideoFormatDescriptionAvailable(bool available);
  // Whether append records keep their sample (default true). Long automatic
  // runs turn it off so memory stays flat.
  void setKeepsAppendedSamples(bool keeps);

  // Injected failures.
  void failShareableContent(ErrorRef error);
  void refuseStreamOutput(SCStreamOutputType type, ErrorRef error);
  void failStreamStart(ErrorRef error);
  // Streams made from now on hold their start (SimulatedStream::beginHeldStart).
  void holdStreamStarts();
  void failDeviceInput(const std::string& uniqueID, ErrorRef error);
  void refuseCaptureSessionInputs(bool refuse);
  void refuseCaptureSessionOutputs(bool refuse);
  // startRunning reports the error to the runtime-error handler (on a
  // thread of its own, before startRunning returns) and the session does
  // not run.
  void failCaptureSessionStart(ErrorRef error);
  void failAssetWriterCreation(ErrorRef error);
  // canAddInput answers false for every input of `mediaType`.
  void refuseWriterInputs(MediaType mediaType, bool refuse);
  // The canAddInput call at this position (0-based, counted per writer)
  // answers false; absent clears it.
  void refuseWriterInputAtCall(std::optional<std::size_t> callIndex);
  void failStartWriting(ErrorRef error);
  // finishWriting leaves the writer failed with this error.
  void failFinishWriting(ErrorRef error);
  void clearFailures();

  // Observation.
  CallLog& callLog() const;
  std::vector<std::shared_ptr<SimulatedStream>> streams() const;
  std::vector<std::shared_ptr<SimulatedCaptureSession>> captureSessions() const;
  std::vector<std::shared_ptr<SimulatedAssetWriter>> writers() const;
  // The object made at `index` (in creation order) once it exists; null on
  // timeout.
  std::shared_ptr<SimulatedStream>
  waitForStream(std::size_t index = 0,
                std::chrono::milliseconds timeout = defaultWaitTimeout) const;
  std::shared_ptr<SimulatedCaptureSession>
  waitForCaptureSession(std::size_t index = 0,
                        std::chrono::milliseconds timeout = defaultWaitTimeout) const;
  std::shared_ptr<SimulatedAssetWriter>
  waitForWriter(std::size_t index = 0,
                std::chrono::milliseconds timeout = defaultWaitTimeout) const;

  std::vector<ActivityRecord> activities() const;
  std::size_t activeActivityCount() const;
  std::vector<std::string> openedURLs() const;
  int microphoneAccessRequestCount() const;
  int screenCaptureAccessRequestCount() const;
  int allowScreenCaptureDevicesCount() const;

private:
  std::shared_ptr<World> world_;
  Services services_;
};

} // namespace Platform::Simulated

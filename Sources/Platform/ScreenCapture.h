#pragma once

#include "Platform/Dispatch.h"
#include "Platform/Error.h"
#include "Platform/Geometry.h"
#include "Platform/SampleBuffer.h"
#include "Platform/Time.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// The screen-capture service: what can be captured (displays and windows),
// filters that pick one of them, stream configuration, and capture streams
// that deliver frames and audio to registered outputs.

namespace Platform {

struct SCDisplay {
  std::uint32_t displayID = 0;
  std::int64_t width = 0;  // points
  std::int64_t height = 0; // points
  CGRect frame{};
};

struct SCRunningApplication {
  std::string applicationName{};
  std::string bundleIdentifier{};
  std::int32_t processID = 0;
};

struct SCWindow {
  std::uint32_t windowID = 0;
  std::optional<std::string> title{};
  CGRect frame{};
  std::int64_t windowLayer = 0;
  bool isOnScreen = false;
  bool isActive = false;
  std::optional<SCRunningApplication> owningApplication{};
};

struct SCShareableContent {
  std::vector<SCDisplay> displays{};
  std::vector<SCWindow> windows{};
};

// One display (optionally without some windows) or one window.
class SCContentFilter {
public:
  SCContentFilter(SCDisplay display, std::vector<SCWindow> excludingWindows);
  explicit SCContentFilter(SCWindow desktopIndependentWindow);

  // The size of the filtered content in points, origin zero.
  CGRect contentRect() const;

  const std::optional<SCDisplay>& display() const { return display_; }
  const std::optional<SCWindow>& window() const { return window_; }
  const std::vector<SCWindow>& excludedWindows() const { return excludedWindows_; }

private:
  std::optional<SCDisplay> display_;
  std::optional<SCWindow> window_;
  std::vector<SCWindow> excludedWindows_;
};

// Colour space names a configuration may carry.
inline constexpr const char* kCGColorSpaceSRGB = "kCGColorSpaceSRGB";
inline constexpr const char* kCGColorSpaceDisplayP3 = "kCGColorSpaceDisplayP3";

// Every value set holds for the stream made from it; unset values keep the
// stream's defaults (BGRA frames, no audio, the content's own size).
struct SCStreamConfiguration {
  int queueDepth = 3;
  std::optional<std::uint32_t> pixelFormat;
  std::optional<std::string> colorSpaceName;
  CMTime minimumFrameInterval = kCMTimeZero; // zero: as fast as content changes
  bool showsCursor = true;
  bool showMouseClicks = false;
  bool capturesAudio = false;
  // The audio is only what the filtered window's application plays; where
  // the content names no application, everything the desktop plays.
  bool capturesApplicationAudioOnly = false;
  bool captureMicrophone = false;
  std::optional<std::string> microphoneCaptureDeviceID;
  std::optional<CGRect> sourceRect; // points, display streams only
  std::int64_t width = 0;           // pixels; 0: the content's size
  std::int64_t height = 0;
};

enum class SCStreamOutputType : std::int64_t { screen = 0, audio = 1, microphone = 2 };

class SCStream;

// Receives samples of the types it was registered for, on the queue it was
// registered with. The stream does not own its outputs.
class SCStreamOutput {
public:
  virtual ~SCStreamOutput() = default;
  virtual void streamDidOutputSampleBuffer(SCStream& stream, SampleBufferRef sampleBuffer,
                                           SCStreamOutputType type) = 0;
};

// Told, once, on the service's delegate thread, when the stream ends by itself
// (a captured window closed, a display or audio device went away).
class SCStreamDelegate {
public:
  virtual ~SCStreamDelegate() = default;
  virtual void streamDidStopWithError(SCStream& stream, ErrorRef error) = 0;
};

// A capture stream. Samples of one output type are delivered one at a time
// and in capture order; different types may be delivered concurrently.
// Screen frames carry an SCStreamFrameInfoStatus attachment; every sample is
// stamped with the host clock (hostTimeNow).
class SCStream {
public:
  virtual ~SCStream() = default;

  // Samples of `type` go to `output` on `queue`. Throws Platform::Error when
  // the type cannot be delivered. Only before startCapture.
  virtual void addStreamOutput(std::weak_ptr<SCStreamOutput> output, SCStreamOutputType type,
                               DispatchQueue queue) = 0;

  // Blocks until capture has started; throws Platform::Error on failure.
  virtual void startCapture() = 0;

  // Blocks until no further sample will be delivered; throws
  // Platform::Error when the stream was not running. During a start (one
  // may wait on the user's pick), makes it give up and throw; before the
  // stream's first start has begun, throws and makes that start give up
  // as soon as it is called or has begun: a stop is never lost to a start
  // that comes a moment later.
  virtual void stopCapture() = 0;
};

// A display mode: its size in pixels and in points.
struct CGDisplayMode {
  std::int64_t pixelWidth = 0;
  std::int64_t pixelHeight = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
};

// A screen as the desktop names it: its display number and a localized name.
struct NSScreen {
  std::optional<std::int64_t> screenNumber{}; // "NSScreenNumber" of its device description
  std::string localizedName{};
};

class ScreenCaptureService {
public:
  virtual ~ScreenCaptureService() = default;

  // Blocks for the answer; throws Platform::Error (code
  // userDeclinedScreenCaptureCode when capture is not allowed).
  virtual SCShareableContent shareableContent(bool excludeDesktopWindows,
                                              bool onScreenWindowsOnly) = 0;

  virtual std::shared_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                               const SCStreamConfiguration& configuration,
                                               std::weak_ptr<SCStreamDelegate> delegate) = 0;

  virtual std::uint32_t mainDisplayID() = 0;
  virtual std::optional<CGDisplayMode> displayMode(std::uint32_t displayID) = 0;
  virtual std::vector<NSScreen> screens() = 0;
};

} // namespace Platform

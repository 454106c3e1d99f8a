#include "Vistrel/RecordingSession.h"

#include "Platform/Platform.h"
#include "Vistrel/Displays.h"
#include "Vistrel/SharedErrors.h"

#include <cmath>
#include <limits>
#include <string>

// Start-up: the request check, the shareable content, the stream
// configuration and the resolution of the target.

namespace Vistrel {

namespace {

constexpr const char* recordingActivityReason = "Recording screen";
// Errors of requests that cannot work carry this domain.
constexpr const char* requestErrorDomain = "RecordingRequest";

// Why the request cannot record anything, if it cannot.
std::optional<std::string> unworkableRequestReason(Target target, const RecordingOptions& options) {
  if (target == Target::audioOnly) {
    if (!options.recordSystemAudio() && !options.microphoneDeviceID()) {
      return "An audioOnly recording needs recordSystemAudio or a microphoneDeviceID";
    }
    return std::nullopt; // the rate of an audio-only stream is fixed
  }
  const std::int64_t rate = options.framesPerSecond();
  if (rate < 1 || rate > std::numeric_limits<CMTimeScale>::max()) {
    return "framesPerSecond must be between 1 and 2147483647, got " + std::to_string(rate);
  }
  return std::nullopt;
}

// Points truncated toward zero; sizes that are not finite or do not fit
// give 0, which the stream reads as "the content's own size".
std::int64_t truncatedPoints(double points) {
  constexpr double limit = 9.2e18;
  if (!std::isfinite(points) || points <= -limit || points >= limit) {
    return 0;
  }
  return static_cast<std::int64_t>(points);
}

std::int64_t pixels(double points, std::int64_t scale) {
  std::int64_t result = 0;
  if (__builtin_mul_overflow(truncatedPoints(points), scale, &result)) {
    return 0;
  }
  return result;
}

} // namespace

void RecordingSession::start(Target target, const RecordingOptions& options) {
  {
    Lock lock(mutex_);
    if (state_ == State::abandoning) {
      // Stopped before it began: nothing was set up.
      transition(State::ended);
      ended_.notify_all();
      throw stoppedBeforeStart();
    }
    if (state_ != State::idle) {
      throw Error::recorderAlreadyStarted();
    }
    transition(State::starting);
    target_ = target;
    options_ = options;
  }
  try {
    prepareStream(target, options);
  } catch (...) {
    end(std::nullopt); // nothing runs yet: there is nothing to clean up
    throw;
  }

  try {
    startCaptureAndWait(target, options);
  } catch (const Error& error) {
    failStart(error);
  } catch (const std::exception& error) {
    failStart(Error::couldNotStartStream(shareError(error)));
  }

  auto activity = std::make_unique<Activity>(Platform::NSActivityIdleSystemSleepDisabled,
                                             recordingActivityReason);
  Lock lock(mutex_);
  // A stop or a failure may have ended the recording already: its clean-up
  // found no activity to release, so none is kept.
  if (isRecording()) {
    activity_ = std::move(activity);
  }
}

void RecordingSession::prepareStream(Target target, const RecordingOptions& options) {
  if (target != Target::audioOnly && !options.targetID()) {
    throw Error::noTargetProvided();
  }
  if (const auto reason = unworkableRequestReason(target, options)) {
    throw Error::couldNotStartStream(Platform::makeError(requestErrorDomain, 0, *reason));
  }

  Platform::SCStreamConfiguration configuration;
  configuration.queueDepth = 6;
  if (options.videoCodec() == VideoCodec::h264) {
    configuration.pixelFormat = Platform::kCVPixelFormatType_32BGRA;
    configuration.colorSpaceName = Platform::kCGColorSpaceSRGB;
  } else if (options.videoCodec() == VideoCodec::hevc) {
    configuration.pixelFormat = Platform::kCVPixelFormatType_ARGB2101010LEPacked;
    configuration.colorSpaceName = Platform::kCGColorSpaceDisplayP3;
  }

  const Platform::SCShareableContent content = fetchShareableContent();

  const std::int64_t rate = target == Target::audioOnly ? 1 : options.framesPerSecond();
  configuration.minimumFrameInterval = CMTimeMake(1, static_cast<CMTimeScale>(rate));
  configuration.showsCursor = options.showCursor();
  const Platform::Capabilities capabilities = Platform::system().capabilities();
  if (capabilities.streamHighlightsClicks) {
    configuration.showMouseClicks = options.highlightClicks();
  }
  if (options.recordSystemAudio()) {
    configuration.capturesAudio = true;
    configuration.capturesApplicationAudioOnly = options.systemAudio() == SystemAudio::application;
  }
  if (capabilities.streamCapturesMicrophone && options.microphoneDeviceID()) {
    configuration.captureMicrophone = true;
    configuration.microphoneCaptureDeviceID = options.microphoneDeviceID();
  }

  if (const auto filter = resolveTarget(target, options, content, configuration)) {
    makeStream(*filter, configuration, options);
  }
}

Platform::SCShareableContent RecordingSession::fetchShareableContent() {
  try {
    return Platform::screenCapture().shareableContent(false, false);
  } catch (const Platform::SystemError& error) {
    if (error.domain() == Platform::ErrorDomain::screenCapture &&
        error.code() == Platform::userDeclinedScreenCaptureCode) {
      throw Error::noPermissions();
    }
    throw Error::couldNotStartStream(shareError(error));
  } catch (const std::exception& error) {
    throw Error::couldNotStartStream(shareError(error));
  }
}

std::optional<Platform::SCContentFilter>
RecordingSession::resolveTarget(Target target, const RecordingOptions& options,
                                const Platform::SCShareableContent& content,
                                Platform::SCStreamConfiguration& configuration) {
  switch (target) {
  case Target::screen: {
    const std::string& targetID = *options.targetID();
    for (const Platform::SCDisplay& display : content.displays) {
      if (std::to_string(display.displayID) != targetID) {
        continue;
      }
      Platform::SCContentFilter filter(display, {});
      const std::int64_t scale = scaleFactor(display);
      if (const auto& crop = options.cropRect()) {
        configuration.sourceRect = toCGRect(*crop);
        configuration.width = pixels(crop->width, scale);
        configuration.height = pixels(crop->height, scale);
      } else {
        const Platform::CGRect size = filter.contentRect();
        configuration.width = pixels(size.width, scale);
        configuration.height = pixels(size.height, scale);
      }
      return filter;
    }
    throw Error::targetNotFound(targetID);
  }
  case Target::window: {
    initializeCGS();
    const std::string& targetID = *options.targetID();
    for (const Platform::SCWindow& window : content.windows) {
      if (std::to_string(window.windowID) != targetID) {
        continue;
      }
      Platform::SCContentFilter filter(window);
      const Platform::CGRect size = filter.contentRect();
      configuration.width = truncatedPoints(size.width);
      configuration.height = truncatedPoints(size.height);
      return filter;
    }
    throw Error::targetNotFound(targetID);
  }
  case Target::externalDevice:
    return std::nullopt;
  case Target::audioOnly:
    if (content.displays.empty()) {
      throw Error::noDisplaysConnected();
    }
    return Platform::SCContentFilter(content.displays.front(), {});
  }
  return std::nullopt;
}

void RecordingSession::startCaptureAndWait(Target target, const RecordingOptions& options) {
  setUpWriter(target, options);
  if (target == Target::externalDevice) {
    setUpExternalDeviceCaptureSession(options);
  }
  startSources();
  waitForFirstSample();
}

void RecordingSession::failStart(const Error& error) {
  {
    Lock lock(mutex_);
    transition(State::abandoning);
  }
  cleanUp(); // a failure to finish is moot: the start failed anyway
  // The caller learns of it from the throw alone, not also from onError.
  throw error;
}

} // namespace Vistrel

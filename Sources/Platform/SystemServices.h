#pragma once

#include "Platform/Time.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Operating-system services: the capabilities that choose behaviour,
// permissions, opening URLs, bundles, and the activity that keeps the machine
// from idle sleep.

namespace Platform {

// What the platform's capture services can do, where the engine chooses its
// way by it. On macOS each came with a system version, noted beside it.
struct Capabilities {
  // The screen stream captures a microphone too (the configuration's
  // captureMicrophone and a microphone output), with two channels; without
  // it the microphone has a capture session of its own. macOS 15.0.
  bool streamCapturesMicrophone = false;
  // The screen stream highlights clicks in its frames when the
  // configuration's showMouseClicks asks; without it clicks are never
  // highlighted. macOS 15.0.
  bool streamHighlightsClicks = false;
  friend bool operator==(const Capabilities&, const Capabilities&) = default;
};

enum class AVAuthorizationStatus : std::int64_t {
  notDetermined = 0,
  restricted = 1,
  denied = 2,
  authorized = 3,
};

// A bundle directory: its location and, when its Info.plist names one, its
// identifier.
struct Bundle {
  std::string bundlePath;
  std::optional<std::string> bundleIdentifier;
};

// Activity option that keeps the system from idle sleep.
inline constexpr std::uint64_t NSActivityIdleSystemSleepDisabled = 1ULL << 20;

// The settings pages where the user grants the microphone and screen
// recording, as the front end opens them with openURL; a platform maps them
// to its own settings.
inline constexpr std::string_view microphoneSettingsLink =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone";
inline constexpr std::string_view screenRecordingSettingsLink =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";

// A held process activity; ending it is destroying the token.
class ActivityToken {
public:
  virtual ~ActivityToken() = default;
};

class SystemServices {
public:
  virtual ~SystemServices() = default;

  virtual Capabilities capabilities() = 0;

  // Now, on the host clock every capture source stamps its samples with.
  virtual CMTime hostTime() = 0;

  // Raw authorisation state of the microphone (any number; unknown numbers
  // are the caller's to map).
  virtual std::int64_t microphoneAuthorizationStatus() = 0;
  // Asks for microphone access; `completion` runs exactly once, on any thread.
  virtual void requestMicrophoneAccess(std::function<void(bool granted)> completion) = 0;

  virtual bool preflightScreenCaptureAccess() = 0;
  virtual bool requestScreenCaptureAccess() = 0;

  // Opens a URL with the desktop's handler; false when nothing opened it.
  virtual bool openURL(const std::string& url) = 0;

  // The bundle that encloses the running executable, if any.
  virtual std::optional<Bundle> mainBundle() = 0;
  // The bundle at a directory path; absent when there is no such directory.
  virtual std::optional<Bundle> bundleAtPath(const std::string& path) = 0;

  virtual std::unique_ptr<ActivityToken> beginActivity(std::uint64_t options,
                                                       const std::string& reason) = 0;
};

} // namespace Platform

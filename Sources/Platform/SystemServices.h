#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Operating-system services: the capability version that gates behaviour,
// permissions, opening URLs, bundles, and the activity that keeps the machine
// from idle sleep.

namespace Platform {

struct OperatingSystemVersion {
  std::int64_t majorVersion = 0;
  std::int64_t minorVersion = 0;
  std::int64_t patchVersion = 0;
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

// A held process activity; ending it is destroying the token.
class ActivityToken {
public:
  virtual ~ActivityToken() = default;
};

class SystemServices {
public:
  virtual ~SystemServices() = default;

  // The level of the version-gated behaviours this platform offers.
  virtual OperatingSystemVersion operatingSystemVersion() = 0;

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

bool isOperatingSystemAtLeast(SystemServices& services, OperatingSystemVersion version);

} // namespace Platform

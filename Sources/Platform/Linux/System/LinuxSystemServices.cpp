#include "Platform/Linux/System/LinuxSystemServices.h"

#include "Platform/Dispatch.h"
#include "Platform/Linux/System/Bundles.h"
#include "Platform/Linux/System/DetachedProcess.h"
#include "Platform/Linux/System/IdleInhibitor.h"
#include "Platform/Linux/System/SettingsLinks.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace Platform::Linux {

namespace {

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// An activity that keeps nothing awake, for options other than idle sleep.
class EmptyActivity final : public ActivityToken {};

class LinuxSystemServices final : public SystemServices {
public:
  LinuxSystemServices(std::function<bool()> screenCaptureAllowed,
                      std::function<bool()> audioServerAccepts)
      : screenCaptureAllowed_(std::move(screenCaptureAllowed)),
        audioServerAccepts_(std::move(audioServerAccepts)) {}

  // Neither the X11 nor the portal stream carries a microphone (it goes
  // through a capture session of its own, with its real channel count) or
  // marks clicks.
  Capabilities capabilities() override {
    return {.streamCapturesMicrophone = false, .streamHighlightsClicks = false};
  }

  CMTime hostTime() override { return hostTimeNow(); }

  // Nothing asks the user on Linux: the microphone is usable exactly when the
  // audio server accepts us.
  std::int64_t microphoneAuthorizationStatus() override {
    return static_cast<std::int64_t>(audioServerAccepts_() ? AVAuthorizationStatus::authorized
                                                           : AVAuthorizationStatus::denied);
  }

  void requestMicrophoneAccess(std::function<void(bool granted)> completion) override {
    startTask(
        [probe = audioServerAccepts_, completion = std::move(completion)] { completion(probe()); });
  }

  bool preflightScreenCaptureAccess() override { return screenCaptureAllowed_(); }
  bool requestScreenCaptureAccess() override { return screenCaptureAllowed_(); }

  bool openURL(const std::string& url) override {
    const std::string searchPath = environmentValue("PATH");
    const auto command = System::commandToOpen(
        url, environmentValue("XDG_CURRENT_DESKTOP"), [&searchPath](const std::string& program) {
          return System::findProgram(program, searchPath).has_value();
        });
    if (!command) {
      return false;
    }
    auto arguments = *command;
    const auto program = System::findProgram(arguments.front(), searchPath);
    if (!program) {
      return false;
    }
    arguments.front() = *program;
    return System::startDetached(arguments);
  }

  std::optional<Bundle> mainBundle() override {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
      return std::nullopt;
    }
    return System::bundleOfExecutable(executable);
  }

  std::optional<Bundle> bundleAtPath(const std::string& path) override {
    return System::bundleAtPath(path);
  }

  std::unique_ptr<ActivityToken> beginActivity(std::uint64_t options,
                                               const std::string& reason) override {
    if ((options & NSActivityIdleSystemSleepDisabled) == 0) {
      return std::make_unique<EmptyActivity>();
    }
    return System::inhibitIdleSleep(reason);
  }

private:
  std::function<bool()> screenCaptureAllowed_;
  std::function<bool()> audioServerAccepts_;
};

} // namespace

std::shared_ptr<SystemServices> makeLinuxSystemServices(std::function<bool()> screenCaptureAllowed,
                                                        std::function<bool()> audioServerAccepts) {
  return std::make_shared<LinuxSystemServices>(std::move(screenCaptureAllowed),
                                               std::move(audioServerAccepts));
}

} // namespace Platform::Linux

#include "Platform/Linux/Wayland/WaylandScreenCapture.h"

#include "Platform/Linux/Capture/CaptureStream.h"
#include "Platform/Linux/Wayland/PipeWireDaemon.h"
#include "Platform/Linux/Wayland/PipeWireFrames.h"
#include "Platform/Linux/Wayland/RestoreTokens.h"
#include "Platform/Linux/Wayland/ScreenCastPortal.h"
#include "Platform/Linux/Wayland/ScreenCastSource.h"
#include "Platform/Linux/Wayland/WaylandOutputs.h"
#include "Platform/Log.h"

#include <cstdlib>
#include <string_view>
#include <thread>

namespace Platform::Linux {

namespace {

using Wayland::ScreenCastRequest;

// The size the picker entry claims before anything is picked: the first
// output's, or a common monitor's when none is known.
constexpr CGRect fallbackPickerFrame{0, 0, 1920, 1080};

// A remembered pick is restored in milliseconds; a desktop that takes longer
// is showing a dialog, which nobody asked to see in the middle of a meeting.
constexpr std::chrono::seconds quietRequestPatience{5};
// How long a restarting PipeWire may take to come back, and how long its
// clients (the compositor, the session manager) may take to find it again.
constexpr std::chrono::seconds pipeWireReturnPatience{10};
constexpr std::chrono::milliseconds compositorCatchUp{500};

// The most frames a second the recording keeps, and so the most the cast
// need send; none when it keeps every frame.
double recordedFrameRate(const CMTime& minimumFrameInterval) {
  if (!minimumFrameInterval.isNumeric() || minimumFrameInterval.value <= 0) {
    return 0;
  }
  return 1 / CMTimeGetSeconds(minimumFrameInterval);
}

SCDisplay displayOf(const Wayland::WaylandOutput& output) {
  const double width = output.pixelWidth / output.scale;
  const double height = output.pixelHeight / output.scale;
  return SCDisplay{output.id, static_cast<std::int64_t>(width), static_cast<std::int64_t>(height),
                   CGRect{0, 0, width, height}};
}

class WaylandScreenCaptureService final : public ScreenCaptureService {
public:
  WaylandScreenCaptureService(std::shared_ptr<AudioCaptureFactory> audio,
                              std::shared_ptr<ScreenCaptureService> xwayland)
      : audio_(std::move(audio)), xwayland_(std::move(xwayland)) {}

  SCShareableContent shareableContent(bool excludeDesktopWindows,
                                      bool onScreenWindowsOnly) override {
    SCShareableContent content;
    if (const char* display = std::getenv("DISPLAY"); display != nullptr && *display != '\0') {
      try {
        content.windows =
            xwayland_->shareableContent(excludeDesktopWindows, onScreenWindowsOnly).windows;
      } catch (const Error& error) {
        Platform::log(LogLevel::warning,
                      std::string("XWayland windows cannot be listed: ") + error.what());
      }
    }
    for (const auto& output : Wayland::readWaylandOutputs()) {
      content.displays.push_back(displayOf(output));
    }
    SCWindow picker;
    picker.windowID = desktopPickerWindowID;
    picker.title = desktopPickerWindowTitle;
    picker.frame = content.displays.empty() ? fallbackPickerFrame : content.displays.front().frame;
    picker.isOnScreen = true;
    picker.owningApplication = SCRunningApplication{"Desktop picker", "", 0};
    content.windows.push_back(std::move(picker));
    return content;
  }

  std::shared_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                       const SCStreamConfiguration& configuration,
                                       std::weak_ptr<SCStreamDelegate> delegate) override {
    const bool picked = filter.window() && filter.window()->windowID == desktopPickerWindowID;
    if (filter.window() && !picked) {
      return xwayland_->makeStream(filter, configuration, std::move(delegate));
    }
    ScreenCastRequest request;
    request.sources = static_cast<std::uint32_t>(Wayland::CastSource::monitor);
    if (picked) {
      request.sources |= static_cast<std::uint32_t>(Wayland::CastSource::window);
    }
    request.showsCursor = configuration.showsCursor;
    // Only a display is cut: a picked window or screen is recorded whole, at
    // its own pixels (the entry's size in points says nothing of what the
    // user will pick, nor of the output's scale).
    std::optional<CGRect> sourceRect = picked ? std::nullopt : configuration.sourceRect;
    SCStreamConfiguration streamConfiguration = configuration;
    if (picked) {
      streamConfiguration.width = 0;
      streamConfiguration.height = 0;
    }
    const auto tokens = std::make_shared<Wayland::RestoreTokens>(picked ? "picker" : "display");
    const double frameRate = recordedFrameRate(configuration.minimumFrameInterval);
    Wayland::CastOpener open = [request, tokens, frameRate](std::stop_token stop, bool quietly) {
      ScreenCastRequest asked = request;
      asked.restoreToken = tokens->load();
      if (quietly) {
        if (!asked.restoreToken) {
          throw SystemError(ErrorDomain::screenCapture, -3802,
                            "The desktop remembered no pick to restore");
        }
        asked.patience = quietRequestPatience;
        // A request while PipeWire is still down fails, and uses the token
        // up: the desktop then forgets the pick.
        if (!Wayland::waitForPipeWire(pipeWireReturnPatience, stop)) {
          throw SystemError(ErrorDomain::screenCapture, -3802, "PipeWire did not come back");
        }
        std::this_thread::sleep_for(compositorCatchUp);
      }
      Wayland::ScreenCastGrant grant = Wayland::requestScreenCast(asked, stop);
      // Each token serves once: the new one replaces it, or none forgets it.
      tokens->store(grant.restoreToken);
      return Wayland::Cast{
          std::move(grant.lease),
          std::make_unique<Wayland::PipeWireFrames>(grant.remote, grant.node, frameRate),
          grant.width};
    };
    return std::make_shared<Capture::CaptureStream>(
        [open = std::move(open), sourceRect](std::stop_token stop) {
          return Wayland::makeScreenCastSource(open, sourceRect, std::move(stop));
        },
        audio_, streamConfiguration, std::move(delegate));
  }

  std::uint32_t mainDisplayID() override {
    const auto outputs = Wayland::readWaylandOutputs();
    return outputs.empty() ? 0 : outputs.front().id;
  }

  std::optional<CGDisplayMode> displayMode(std::uint32_t displayID) override {
    for (const auto& output : Wayland::readWaylandOutputs()) {
      if (output.id == displayID) {
        return CGDisplayMode{output.pixelWidth, output.pixelHeight,
                             output.pixelWidth / output.scale, output.pixelHeight / output.scale};
      }
    }
    return std::nullopt;
  }

  std::vector<NSScreen> screens() override {
    std::vector<NSScreen> screens;
    for (const auto& output : Wayland::readWaylandOutputs()) {
      screens.push_back(NSScreen{output.id, output.name});
    }
    return screens;
  }

private:
  const std::shared_ptr<AudioCaptureFactory> audio_;
  const std::shared_ptr<ScreenCaptureService> xwayland_;
};

} // namespace

std::shared_ptr<ScreenCaptureService>
makeWaylandScreenCaptureService(std::shared_ptr<AudioCaptureFactory> audio,
                                std::shared_ptr<ScreenCaptureService> xwayland) {
  return std::make_shared<WaylandScreenCaptureService>(std::move(audio), std::move(xwayland));
}

bool isWaylandSession() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  const char* type = std::getenv("XDG_SESSION_TYPE");
  return (display != nullptr && *display != '\0') ||
         (type != nullptr && std::string_view(type) == "wayland");
}

bool canCastScreen() {
  return Wayland::screenCastPortalAvailable();
}

} // namespace Platform::Linux

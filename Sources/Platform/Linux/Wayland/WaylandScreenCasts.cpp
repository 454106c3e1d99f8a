#include "Platform/Linux/Wayland/WaylandScreenCapture.h"

#include "Platform/Linux/Capture/CaptureStream.h"
#include "Platform/Linux/PipeWire/PipeWireDaemon.h"
#include "Platform/Linux/PipeWire/PipeWireFrames.h"
#include "Platform/Linux/Wayland/RestoreTokens.h"
#include "Platform/Linux/Wayland/ScreenCastPortal.h"
#include "Platform/Linux/Wayland/ScreenCastSource.h"
#include "Platform/Linux/Wayland/WaylandService.h"
#include "Platform/Log.h"

#include <thread>

// The screen casts of the Wayland service: the desktop's portal grants them,
// PipeWire delivers their frames.

namespace Platform::Linux {

namespace {

using Wayland::ScreenCastRequest;

// A remembered pick is restored in milliseconds; a desktop that takes longer
// is showing a dialog, which nobody asked to see in the middle of a meeting.
constexpr std::chrono::seconds quietRequestPatience{5};
// How long a restarting PipeWire may take to come back, and how long its
// clients (the compositor, the session manager) may take to find it again.
constexpr std::chrono::seconds pipeWireReturnPatience{10};
constexpr std::chrono::milliseconds compositorCatchUp{500};

// The cast is asked for no fewer frames than the compositor draws: mutter
// holds back a frame that comes sooner than a rate limit allows and sends
// it late, which put the picture 20-30 ms behind the sound (measured with
// the flashing window against its beeps); the capture loop keeps one frame
// per grid point anyway.
constexpr double unlimitedFrameRate = 0;

std::shared_ptr<SCStream> makeCastStream(const std::shared_ptr<AudioCaptureFactory>& audio,
                                         const std::shared_ptr<PipeWire::Daemon>& pipeWire,
                                         const SCContentFilter& filter,
                                         const SCStreamConfiguration& configuration,
                                         std::weak_ptr<SCStreamDelegate> delegate) {
  const bool picked = filter.window() && filter.window()->windowID == desktopPickerWindowID;
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
  Wayland::CastOpener open = [request, tokens, pipeWire](std::stop_token stop, bool quietly) {
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
      if (!pipeWire->waitUntilAccepting(pipeWireReturnPatience, stop)) {
        throw SystemError(ErrorDomain::screenCapture, -3802, "PipeWire did not come back");
      }
      std::this_thread::sleep_for(compositorCatchUp);
    }
    Wayland::ScreenCastGrant grant = Wayland::requestScreenCast(asked, stop);
    if (!quietly && !grant.restoreToken) {
      // A meeting app starts recordings by itself: its user should know
      // that each will need them.
      Platform::log(LogLevel::warning,
                    "The desktop did not let the pick be remembered: it will ask again at the "
                    "next recording");
    }
    // Each token serves once: the new one replaces it, or none forgets it.
    tokens->store(grant.restoreToken);
    // The portal's grant holds on the remote it opened.
    auto core = grant.remote >= 0 ? pipeWire->remoteCore(grant.remote) : pipeWire->core();
    return Wayland::Cast{
        std::move(grant.lease),
        std::make_unique<PipeWire::PipeWireFrames>(
            std::move(core), Wayland::screenCastNode(grant.node), unlimitedFrameRate),
        grant.width};
  };
  return std::make_shared<Capture::CaptureStream>(
      [open = std::move(open), sourceRect](std::stop_token stop) {
        return Wayland::makeScreenCastSource(open, sourceRect, std::move(stop));
      },
      audio, streamConfiguration, std::move(delegate));
}

} // namespace

std::shared_ptr<ScreenCaptureService>
makeWaylandScreenCaptureService(std::shared_ptr<AudioCaptureFactory> audio,
                                std::shared_ptr<ScreenCaptureService> xwayland,
                                std::shared_ptr<PipeWire::Daemon> pipeWire) {
  return Wayland::makeWaylandService(
      std::move(xwayland),
      [audio = std::move(audio), pipeWire = std::move(pipeWire)](
          const SCContentFilter& filter, const SCStreamConfiguration& configuration,
          std::weak_ptr<SCStreamDelegate> delegate) {
        return makeCastStream(audio, pipeWire, filter, configuration, std::move(delegate));
      });
}

} // namespace Platform::Linux

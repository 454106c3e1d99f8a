#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

// The desktop portal's ScreenCast interface (org.freedesktop.portal.ScreenCast
// on the session bus): the user picks a monitor or a window in the desktop's
// own dialog, and the portal hands over a PipeWire node showing it. The
// session lives as long as its lease; releasing the lease ends the cast.
//
// Thread contract: any thread; each call uses a bus connection of its own.

namespace Platform::Linux::Wayland {

// The portal's kinds of source, as its bit masks.
enum class CastSource : std::uint32_t { monitor = 1, window = 2 };

struct ScreenCastRequest {
  // The kinds the user may pick from (CastSource bits); narrowed to what the
  // portal offers, so that a portal of monitors only still answers.
  std::uint32_t sources = static_cast<std::uint32_t>(CastSource::monitor);
  bool showsCursor = true; // drawn into the frames, or left out
  // A pick the desktop remembered: with it, a portal that honours it casts
  // the same source without a dialog; a stale one brings the dialog back.
  std::optional<std::string> restoreToken;
  // How long the desktop may take to answer; past it the request is closed
  // (and any dialog with it). Unset: the user's own time, up to 10 minutes.
  std::optional<std::chrono::milliseconds> patience;
};

struct ScreenCastGrant {
  int remote = -1;        // the PipeWire connection to read the node through; the caller owns it
  std::uint32_t node = 0; // the PipeWire node of the cast
  CastSource source = CastSource::monitor; // what the user picked
  std::int32_t width = 0;                  // the picked source's size, when the portal tells it
  std::int32_t height = 0;
  // The pick to bring next time; none when the portal remembers nothing.
  std::optional<std::string> restoreToken;
  std::shared_ptr<void> lease; // the portal session
};

// Whether a ScreenCast portal answers on the session bus.
bool screenCastPortalAvailable();

// Opens the picker and waits for the user, or for `stop`: then the request
// and its session are closed, which closes the dialog too. Throws
// Platform::Error: code userDeclinedScreenCaptureCode when the user
// cancelled the dialog or the request was stopped.
ScreenCastGrant requestScreenCast(const ScreenCastRequest& request, std::stop_token stop = {});

} // namespace Platform::Linux::Wayland

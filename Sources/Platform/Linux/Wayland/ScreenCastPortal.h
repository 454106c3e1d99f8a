#pragma once

#include <cstdint>
#include <memory>

// The desktop portal's ScreenCast interface (org.freedesktop.portal.ScreenCast
// on the session bus): the user picks a monitor or a window in the desktop's
// own dialog, and the portal hands over a PipeWire node showing it. The
// session lives as long as its lease; releasing the lease ends the cast.
//
// Thread contract: any thread; each call uses a bus connection of its own.

namespace Platform::Linux::Wayland {

struct ScreenCastRequest {
  enum class Source { monitor, window };
  Source source = Source::monitor;
  bool showsCursor = true; // drawn into the frames, or left out
};

struct ScreenCastGrant {
  int remote = -1;        // the PipeWire connection to read the node through; the caller owns it
  std::uint32_t node = 0; // the PipeWire node of the cast
  std::int32_t width = 0; // the picked source's size, when the portal tells it
  std::int32_t height = 0;
  std::shared_ptr<void> lease; // the portal session
};

// Whether a ScreenCast portal answers on the session bus.
bool screenCastPortalAvailable();

// Opens the picker and waits for the user. Throws Platform::Error: code
// userDeclinedScreenCaptureCode when the user cancelled the dialog.
ScreenCastGrant requestScreenCast(const ScreenCastRequest& request);

} // namespace Platform::Linux::Wayland

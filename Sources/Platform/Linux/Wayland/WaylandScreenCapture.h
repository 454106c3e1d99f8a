#pragma once

#include "Platform/Linux/AudioCapture.h"
#include "Platform/ScreenCapture.h"

#include <cstdint>
#include <memory>

// Screen capture on a Wayland desktop. No Wayland client may list or read
// other clients' windows: what can be recorded without asking is the
// XWayland windows (through `xwayland`, an X11 service, when $DISPLAY names
// XWayland), and one more window entry stands for "choose with the desktop's
// picker". A stream of that entry, or of any display (a Wayland output),
// opens the desktop's ScreenCast portal when it starts and records what the
// user picks, its frames through `pipeWire`.

namespace Platform::Linux::PipeWire {
class Daemon;
} // namespace Platform::Linux::PipeWire

namespace Platform::Linux {

// The window id of the picker entry: beyond any X11 window id (those use 29
// bits), so it never names a real window.
inline constexpr std::uint32_t desktopPickerWindowID = 0xFFFFFFFE;
inline constexpr const char* desktopPickerWindowTitle =
    "Choose a window or screen with the desktop's picker";

std::shared_ptr<ScreenCaptureService>
makeWaylandScreenCaptureService(std::shared_ptr<AudioCaptureFactory> audio,
                                std::shared_ptr<ScreenCaptureService> xwayland,
                                std::shared_ptr<PipeWire::Daemon> pipeWire);

// Lists like the service above but casts nothing: a program that never
// records links neither the portal's streaming nor PipeWire.
std::shared_ptr<ScreenCaptureService>
makeWaylandListingService(std::shared_ptr<ScreenCaptureService> xwayland);

// Whether this process runs in a Wayland session ($WAYLAND_DISPLAY, or
// $XDG_SESSION_TYPE "wayland").
bool isWaylandSession();

// Whether the desktop's ScreenCast portal answers: the screen-recording
// permission of a Wayland session (the user still picks in its dialog).
bool canCastScreen();

} // namespace Platform::Linux

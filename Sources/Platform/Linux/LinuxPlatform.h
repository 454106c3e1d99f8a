#pragma once

#include "Platform/Platform.h"

namespace Platform::Linux {

// The services of the Linux platform: X11 screen capture (or, in a Wayland
// session, the desktop portal's screen casts), PulseAudio devices and audio,
// PipeWire's cameras, the FFmpeg writer and the Linux system services.
Services makeLinuxServices();

} // namespace Platform::Linux

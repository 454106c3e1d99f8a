#pragma once

#include "Platform/Linux/Pulse/AudioServer.h"
#include "Platform/Platform.h"

#include <memory>

namespace Platform::Linux {

// The services of a program that lists and asks but never records: windows
// and displays without capture streams, audio devices, the system services,
// and no writer. Such a program links none of the capture, casting and
// encoding code, and so maps none of the libraries behind it (FFmpeg,
// PipeWire, libyuv): it starts in a few milliseconds.
Services makeLinuxQueryServices();

// The same over a given audio server and kind of session; the recording
// services are these with capture streams and the writer added.
Services makeLinuxQueryServices(std::shared_ptr<Pulse::AudioServer> audioServer, bool wayland);

} // namespace Platform::Linux

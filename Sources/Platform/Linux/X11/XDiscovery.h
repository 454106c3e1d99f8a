#pragma once

#include "Platform/Linux/X11/WindowDescription.h"
#include "Platform/Linux/X11/XConnection.h"
#include "Platform/ScreenCapture.h"

#include <optional>
#include <string>
#include <vector>

// Reads displays and windows from the X server into the plain values that
// WindowDescription turns into records. Requests are pipelined: a listing
// costs a few round trips, not a few per window. Any thread.

namespace Platform::Linux::X11 {

struct DisplayFacts {
  SCDisplay display;
  std::string name; // the RandR output's name ("HDMI-1"; "screen" on Xvfb)
};

// One display per RandR monitor, the primary one first; the whole screen as
// one display when the server has no RandR monitors.
std::vector<DisplayFacts> readDisplays(const XConnection& connection);

// The application windows, topmost first.
std::vector<WindowFacts> readWindows(const XConnection& connection);

DesktopFacts readDesktop(const XConnection& connection);

// The executable name of a local process (/proc/<pid>/comm), as UTF-8.
std::optional<std::string> processExecutableName(std::int32_t pid);

} // namespace Platform::Linux::X11

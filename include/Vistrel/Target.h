#pragma once

/// @file
/// What kind of source a recording captures.

namespace Vistrel {

/// What kind of source a recording captures. Which display, window or
/// device is meant travels in RecordingOptions::targetID.
enum class Target {
  screen,         ///< a display (Devices::screen()), optionally cropped
  window,         ///< one window (Devices::window())
  externalDevice, ///< an attached capture device (Devices::iOS())
  audioOnly,      ///< sound only, into an .m4a file; targetID is not looked at
};

} // namespace Vistrel

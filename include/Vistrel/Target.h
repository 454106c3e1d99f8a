#pragma once

// What kind of source a recording captures. Which display, window or device
// is meant travels in RecordingOptions::targetID. std::hash covers it.

namespace Vistrel {

enum class Target { screen, window, externalDevice, audioOnly };

} // namespace Vistrel

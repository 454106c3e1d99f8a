#pragma once

#include "Platform/ScreenCapture.h"

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

// Which playback streams of the audio server are one application's. A
// stream is the application's when the process that plays it is the
// application's process or one it started (browsers and Electron apps play
// from a child), or when the server names it with the application's
// identifier: a sandboxed application's processes have ids of their own
// namespace, which the window's do not match.
//
// Thread contract: none; pure but for reading /proc.

namespace Platform::Linux::Pulse {

// What the server tells of a playback stream (a sink input).
struct PlaybackStream {
  std::optional<pid_t> processID; // "application.process.id"
  std::string applicationID;      // "application.id", or the sandbox's app id
};

class ApplicationMatch {
public:
  explicit ApplicationMatch(SCRunningApplication application);
  bool owns(const PlaybackStream& stream) const;
  // For the log: the application's name and process.
  std::string description() const;

private:
  bool hasIdentifier(const std::string& applicationID) const;

  SCRunningApplication application_;
};

// Whether `process` is `ancestor` or one of its descendants, by the parent
// links of /proc; false when either is unknown or gone.
bool isProcessWithin(pid_t process, pid_t ancestor);

} // namespace Platform::Linux::Pulse

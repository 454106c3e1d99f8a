#pragma once

#include "Platform/Log.h"

#include <optional>

namespace Platform::FFmpeg {

// Sends the FFmpeg libraries' own messages through the platform log, at the
// matching level, one message per line, instead of their default of writing
// to standard error. Idempotent and safe from any thread.
void routeLibraryLog();

// The platform level of an FFmpeg level (AV_LOG_*); trace messages are
// below every level and yield nothing.
std::optional<LogLevel> logLevelOfLibraryLevel(int level);

} // namespace Platform::FFmpeg

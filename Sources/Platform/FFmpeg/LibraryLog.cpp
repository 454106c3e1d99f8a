#include "Platform/FFmpeg/LibraryLog.h"

#include <cstdarg>
#include <mutex>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

namespace Platform::FFmpeg {

namespace {

// FFmpeg may build one line from several calls; the pieces are kept per
// thread until the line ends.
thread_local std::string pendingLine;
thread_local int printPrefix = 1;

void logLibraryMessage(void* context, int level, const char* format, va_list arguments) {
  const std::optional<LogLevel> mapped = logLevelOfLibraryLevel(level);
  if (!mapped || !isLogged(*mapped))
    return;
  char piece[1024];
  av_log_format_line2(context, level, format, arguments, piece, sizeof piece, &printPrefix);
  pendingLine += piece;
  if (pendingLine.empty() || pendingLine.back() != '\n')
    return;
  pendingLine.pop_back();
  log(*mapped, "FFmpeg: " + pendingLine);
  pendingLine.clear();
}

} // namespace

std::optional<LogLevel> logLevelOfLibraryLevel(int level) {
  if (level <= AV_LOG_ERROR)
    return LogLevel::error;
  if (level <= AV_LOG_WARNING)
    return LogLevel::warning;
  if (level <= AV_LOG_INFO)
    return LogLevel::info;
  if (level <= AV_LOG_DEBUG)
    return LogLevel::debug;
  return std::nullopt;
}

void routeLibraryLog() {
  static std::once_flag routed;
  std::call_once(routed, [] {
    // The callback filters by the platform log's level; FFmpeg's own level
    // must let everything through to it.
    av_log_set_level(AV_LOG_DEBUG);
    av_log_set_callback(logLibraryMessage);
  });
}

} // namespace Platform::FFmpeg

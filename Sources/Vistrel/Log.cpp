#include "Vistrel/Log.h"

#include "Platform/Log.h"

// The library's diagnostics, as the platform's log carries them.

namespace Vistrel {

namespace {

static_assert(static_cast<int>(LogLevel::debug) == static_cast<int>(Platform::LogLevel::debug) &&
              static_cast<int>(LogLevel::error) == static_cast<int>(Platform::LogLevel::error));

Platform::LogLevel platformLevel(LogLevel level) {
  return static_cast<Platform::LogLevel>(level);
}

} // namespace

void setLogSink(LogSink sink) {
  if (!sink) {
    Platform::setLogSink({});
    return;
  }
  Platform::setLogSink(
      [sink = std::move(sink)](Platform::LogLevel level, std::string_view message) {
        sink(static_cast<LogLevel>(level), message);
      });
}

void setLogLevel(LogLevel level) {
  Platform::setLogLevel(platformLevel(level));
}

bool isLogged(LogLevel level) {
  return Platform::isLogged(platformLevel(level));
}

std::string_view logLevelName(LogLevel level) {
  return Platform::logLevelName(platformLevel(level));
}

} // namespace Vistrel

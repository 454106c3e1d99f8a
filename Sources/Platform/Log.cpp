#include "Platform/Log.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

namespace Platform {

namespace {

std::atomic<LogLevel> threshold{LogLevel::warning};

// The sink is copied out under the lock and called outside it, so a sink may
// log or replace itself without deadlock.
std::mutex sinkMutex;
std::shared_ptr<const LogSink> customSink;

void writeToStandardError(LogLevel level, std::string_view message) {
  std::string line = "Vistrel ";
  line += logLevelName(level);
  line += ": ";
  line += message;
  line += '\n';
  // One write per line, so lines from several threads never interleave.
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

} // namespace

void setLogSink(LogSink sink) {
  std::shared_ptr<const LogSink> replacement;
  if (sink)
    replacement = std::make_shared<const LogSink>(std::move(sink));
  std::lock_guard lock(sinkMutex);
  customSink = std::move(replacement);
}

void setLogLevel(LogLevel level) {
  threshold.store(level, std::memory_order_relaxed);
}

bool isLogged(LogLevel level) {
  return level >= threshold.load(std::memory_order_relaxed);
}

void log(LogLevel level, std::string_view message) {
  if (!isLogged(level))
    return;
  std::shared_ptr<const LogSink> sink;
  {
    std::lock_guard lock(sinkMutex);
    sink = customSink;
  }
  if (sink)
    (*sink)(level, message);
  else
    writeToStandardError(level, message);
}

std::string_view logLevelName(LogLevel level) {
  switch (level) {
  case LogLevel::debug:
    return "debug";
  case LogLevel::info:
    return "info";
  case LogLevel::warning:
    return "warning";
  case LogLevel::error:
    return "error";
  }
  return "error";
}

} // namespace Platform

#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace Platform {

// Diagnostics of the library and its backends: what was dropped, repaired,
// lost or found again. Never written to standard output, which belongs to the
// program that links the library.
enum class LogLevel { debug, info, warning, error };

// Receives each message that passes the level, one line without its ending.
// Called on the thread that logs, possibly several at once.
using LogSink = std::function<void(LogLevel, std::string_view message)>;

// Replaces the sink; an empty sink restores the default, which writes
// "Vistrel <level>: <message>" to standard error. Safe from any thread.
void setLogSink(LogSink sink);

// Messages below this level are discarded before they are formatted by the
// sink. The default is `warning`.
void setLogLevel(LogLevel level);
bool isLogged(LogLevel level);

void log(LogLevel level, std::string_view message);

std::string_view logLevelName(LogLevel level);

} // namespace Platform

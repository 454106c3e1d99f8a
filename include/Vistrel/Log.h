#pragma once

#include "Vistrel/Export.h"

#include <functional>
#include <string_view>

/// @file
/// Diagnostics of the library: what it drops, repairs, loses or finds again
/// while recording (frames dropped because the encoder is behind, full
/// queues, a re-anchored audio timeline, a device lost or back, a writer
/// failure), and the log of the FFmpeg libraries it records with.
///
/// By default messages of level `warning` and above go to standard error,
/// one line each, as "Vistrel <level>: <message>". Nothing is ever written to
/// standard output, which belongs to the program.

namespace Vistrel {

/// The weight of a message.
enum class LogLevel { debug, info, warning, error };

/// Receives each message that passes the level, one line without its
/// ending. Runs on the thread that logs (a capture or encoding thread, or the
/// caller's), possibly on several at once: it must be thread-safe, and must
/// not block for long, or capture falls behind. It may log or call
/// setLogSink itself.
using LogSink = std::function<void(LogLevel level, std::string_view message)>;

/// Replaces the sink; an empty sink restores the standard-error default.
/// Safe from any thread; a message being delivered may still reach the old
/// sink.
VISTREL_EXPORT void setLogSink(LogSink sink);

/// Discards messages below `level` before they reach the sink. The default
/// is `LogLevel::warning`. Safe from any thread.
VISTREL_EXPORT void setLogLevel(LogLevel level);

/// Whether a message of `level` would reach the sink now.
VISTREL_EXPORT bool isLogged(LogLevel level);

/// The lower-case name of a level ("debug", "info", "warning", "error").
VISTREL_EXPORT std::string_view logLevelName(LogLevel level);

} // namespace Vistrel

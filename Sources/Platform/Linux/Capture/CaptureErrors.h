#pragma once

#include "Platform/Error.h"

#include <cstdint>
#include <string>

// The error codes of the X11 screen-capture service, in the screen-capture
// domain, numbered like the desktop's own stream errors so callers can test
// for them the same way.

namespace Platform::Linux::Capture {

namespace CaptureErrorCode {
inline constexpr std::int64_t failedToStart = -3802;
inline constexpr std::int64_t connectionInvalid = -3804;
inline constexpr std::int64_t attemptToStartStreamState = -3807;
inline constexpr std::int64_t attemptToStopStreamState = -3808;
inline constexpr std::int64_t internalError = -3811;
inline constexpr std::int64_t invalidParameter = -3812;
inline constexpr std::int64_t noCaptureSource = -3815;
} // namespace CaptureErrorCode

inline ErrorRef captureError(std::int64_t code, std::string description) {
  return makeError(ErrorDomain::screenCapture, code, std::move(description));
}

[[noreturn]] inline void throwCaptureError(std::int64_t code, std::string description) {
  throw SystemError(ErrorDomain::screenCapture, code, std::move(description));
}

} // namespace Platform::Linux::Capture

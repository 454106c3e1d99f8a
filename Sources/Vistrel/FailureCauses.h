#pragma once

#include "Platform/Error.h"
#include "Vistrel/Error.h"

#include <exception>

namespace Vistrel {

// Where a failure while recording came from: the source tells what its
// platform errors mean when their codes say nothing more specific.
enum class FailureOrigin { stream, captureSession, writer };

// What a platform error's domain and code say about a failure, or the cause
// an engine error carries; `other` for any other error.
Error::Cause failureCause(const std::exception& error);

// The failure of a recording, as the error a program switches on: unknown,
// carrying the platform's error (which may be null: then `whenUnexplained`
// is its text), with the cause its domain and code tell.
Error recordingFailure(Platform::ErrorRef error, FailureOrigin origin, const char* whenUnexplained);

} // namespace Vistrel

#pragma once

#include "Platform/Error.h"

// Throws an injected error as the platform would: a SystemError keeps its
// domain, code and text; any other error is carried unchanged inside one.

namespace Platform::Simulated {

[[noreturn]] void raise(const ErrorRef& error);

} // namespace Platform::Simulated

#pragma once

#include "Vistrel/Error.h"

#include <exception>

namespace Vistrel {

// A shared copy of a caught error, keeping its type where the library knows
// it (a platform SystemError or an Error) and its description always.
Error::Underlying shareError(const std::exception& error);

} // namespace Vistrel

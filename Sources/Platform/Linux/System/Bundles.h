#pragma once

#include "Platform/SystemServices.h"

#include <filesystem>
#include <optional>

// Bundles on Linux: a directory, with the identifier of its Info.plist when it
// has one.
//
// Thread contract: callable from any thread; reads the file system only.

namespace Platform::Linux::System {

// A bundle for an existing directory (identifier from Contents/Info.plist,
// else Info.plist); absent for anything else.
std::optional<Bundle> bundleAtPath(const std::filesystem::path& path);

// The bundle of a running executable: the executable's directory, with the
// identifier of the nearest enclosing "*.app" directory that holds
// Contents/Info.plist, if any.
Bundle bundleOfExecutable(const std::filesystem::path& executable);

} // namespace Platform::Linux::System

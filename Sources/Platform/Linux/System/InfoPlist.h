#pragma once

#include <optional>
#include <string>
#include <string_view>

// Reading a bundle's Info.plist (the XML property-list form).
//
// Thread contract: pure, callable from any thread.

namespace Platform::Linux::System {

// The CFBundleIdentifier string of the top-level dictionary of an XML
// property list; absent when the document is malformed, is not XML (binary
// property lists are not read), has no such key, or its value is not a
// non-empty string.
std::optional<std::string> bundleIdentifierFromPlist(std::string_view document);

} // namespace Platform::Linux::System

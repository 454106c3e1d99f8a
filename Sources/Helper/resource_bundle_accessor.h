#pragma once

#include "Platform/SystemServices.h"

#include <functional>
#include <optional>
#include <string>

namespace tarsel_helper {

inline constexpr const char* resourceBundleName = "tarsel-helper_tarsel-helper.bundle";

// The module's resource bundle, found on first use and kept for the process.
struct ResourceBundle {
  // Never empty: stops the process with a fatal message when no bundle is found.
  static const Platform::Bundle& module();
};

// Tries the candidates in order and returns the first bundle that opens; the
// fatal message naming both candidates otherwise.
struct BundleSearch {
  std::optional<Platform::Bundle> bundle;
  std::string failureMessage;
};
BundleSearch searchResourceBundle(
    const std::string& mainBundleCandidate, const std::string& buildDirectoryCandidate,
    const std::function<std::optional<Platform::Bundle>(const std::string&)>& openBundle);

} // namespace tarsel_helper

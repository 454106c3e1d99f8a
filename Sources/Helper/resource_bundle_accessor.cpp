#include "resource_bundle_accessor.h"

#include "Platform/Platform.h"

#include <cstdio>
#include <cstdlib>

namespace tarsel_helper {

BundleSearch searchResourceBundle(
    const std::string& mainBundleCandidate, const std::string& buildDirectoryCandidate,
    const std::function<std::optional<Platform::Bundle>(const std::string&)>& openBundle) {
  for (const std::string* candidate : {&mainBundleCandidate, &buildDirectoryCandidate}) {
    if (auto bundle = openBundle(*candidate)) {
      return {std::move(bundle), {}};
    }
  }
  return {std::nullopt, "could not load resource bundle: from " + mainBundleCandidate + " or " +
                            buildDirectoryCandidate};
}

namespace {

Platform::Bundle locate() {
  auto& system = Platform::system();
  const auto mainBundle = system.mainBundle();
  const std::string mainBundlePath = mainBundle ? mainBundle->bundlePath : std::string(".");
  const std::string mainBundleCandidate = mainBundlePath + "/" + resourceBundleName;
  BundleSearch search = searchResourceBundle(
      mainBundleCandidate, TARSEL_BUILD_RESOURCE_BUNDLE_PATH,
      [&system](const std::string& path) { return system.bundleAtPath(path); });
  if (!search.bundle) {
    std::fprintf(stderr, "tarsel_helper/resource_bundle_accessor:12: Fatal error: %s\n",
                 search.failureMessage.c_str());
    std::abort();
  }
  return std::move(*search.bundle);
}

} // namespace

const Platform::Bundle& ResourceBundle::module() {
  // A function-local static is initialised once, even under concurrent first reads.
  static const Platform::Bundle bundle = locate();
  return bundle;
}

} // namespace tarsel_helper

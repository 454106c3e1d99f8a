#include "Platform/Linux/System/Bundles.h"

#include "Platform/Linux/System/InfoPlist.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace Platform::Linux::System {

namespace {

// An Info.plist is a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t largestPlistBytes = 1 << 20;

std::optional<std::string> identifierInPlistFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    return std::nullopt;
  }
  const auto size = std::filesystem::file_size(path, error);
  if (error || size > largestPlistBytes) {
    return std::nullopt;
  }
  std::ifstream file(path, std::ios::binary);
  const std::string document((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  if (!file.good() && !file.eof()) {
    return std::nullopt;
  }
  return bundleIdentifierFromPlist(document);
}

} // namespace

std::optional<Bundle> bundleAtPath(const std::filesystem::path& path) {
  std::error_code error;
  if (path.empty() || !std::filesystem::is_directory(path, error)) {
    return std::nullopt;
  }
  auto identifier = identifierInPlistFile(path / "Contents" / "Info.plist");
  if (!identifier) {
    identifier = identifierInPlistFile(path / "Info.plist");
  }
  return Bundle{path.string(), std::move(identifier)};
}

Bundle bundleOfExecutable(const std::filesystem::path& executable) {
  const auto directory = executable.parent_path();
  Bundle bundle{directory.string(), std::nullopt};
  for (auto candidate = directory; !candidate.empty(); candidate = candidate.parent_path()) {
    if (candidate.extension() == ".app") {
      if (auto identifier = identifierInPlistFile(candidate / "Contents" / "Info.plist")) {
        bundle.bundleIdentifier = std::move(identifier);
        break;
      }
    }
    if (candidate == candidate.root_path()) {
      break;
    }
  }
  return bundle;
}

} // namespace Platform::Linux::System

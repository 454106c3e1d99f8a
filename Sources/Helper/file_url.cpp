#include "file_url.h"

#include <cctype>
#include <cstring>
#include <filesystem>

namespace App {

namespace {

// Unreserved characters, sub-delimiters, ":", "@" and the path separator.
bool allowedInURLPath(unsigned char c) {
  return std::isalnum(c) != 0 || std::strchr("-._~!$&'()*+,;=:@/", c) != nullptr;
}

} // namespace

std::string fileURLText(const std::string& path) {
  std::string absolute = path;
  if (absolute.empty() || absolute.front() != '/') {
    std::error_code error;
    const auto base = std::filesystem::current_path(error);
    absolute = (error ? std::filesystem::path("/") : base).string() + "/" + path;
  }
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char ch : absolute) {
    const auto c = static_cast<unsigned char>(ch);
    if (c != 0 && c < 0x80 && allowedInURLPath(c)) {
      url += ch;
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 0xF];
    }
  }
  return url;
}

} // namespace App

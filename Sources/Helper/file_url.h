#pragma once

#include <string>

namespace App {

// The file-scheme URL text of a path (RFC 8089): "file://" and the absolute
// path with every byte that a URL path does not allow percent-encoded, so a
// blank becomes "%20". A relative path is taken from the working directory;
// a path ending in "/" names a directory and keeps its slash.
std::string fileURLText(const std::string& path);

} // namespace App

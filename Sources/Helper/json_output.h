#pragma once

#include <string>
#include <utility>
#include <vector>

namespace App {

// One JSON object of string members, in the order given.
using JSONObject = std::vector<std::pair<std::string, std::string>>;

// An array of such objects, pretty-printed: one member per line, nested
// levels indented by two blanks, members written as "key" : "value". Text
// from other programs is escaped as JSON requires; invalid UTF-8 becomes
// U+FFFD, so the document is always valid.
std::string prettyPrintedJSONArray(const std::vector<JSONObject>& objects);

} // namespace App

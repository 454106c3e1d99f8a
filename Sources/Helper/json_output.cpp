#include "json_output.h"

#include <nlohmann/json.hpp>

namespace App {

namespace {

std::string quoted(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace

std::string prettyPrintedJSONArray(const std::vector<JSONObject>& objects) {
  std::string out = "[\n";
  for (std::size_t i = 0; i < objects.size(); ++i) {
    out += "  {\n";
    const JSONObject& object = objects[i];
    for (std::size_t m = 0; m < object.size(); ++m) {
      out += "    " + quoted(object[m].first) + " : " + quoted(object[m].second);
      out += m + 1 < object.size() ? ",\n" : "\n";
    }
    out += i + 1 < objects.size() ? "  },\n" : "  }\n";
  }
  if (objects.empty()) {
    out += "\n";
  }
  out += "]";
  return out;
}

} // namespace App

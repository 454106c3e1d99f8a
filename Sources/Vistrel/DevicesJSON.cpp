#include "Vistrel/DevicesJSON.h"

namespace Vistrel::Devices {

namespace {

nlohmann::ordered_json encodeRect(const Platform::CGRect& rect) {
  return nlohmann::ordered_json::array({nlohmann::ordered_json::array({rect.x, rect.y}),
                                        nlohmann::ordered_json::array({rect.width, rect.height})});
}

Platform::CGRect decodeRect(const nlohmann::ordered_json& json) {
  const auto& origin = json.at(0);
  const auto& size = json.at(1);
  return Platform::CGRect{origin.at(0).get<double>(), origin.at(1).get<double>(),
                          size.at(0).get<double>(), size.at(1).get<double>()};
}

void encodeOptional(nlohmann::ordered_json& json, const char* key,
                    const std::optional<std::string>& value) {
  if (value) {
    json[key] = *value;
  }
}

std::optional<std::string> decodeOptional(const nlohmann::ordered_json& json, const char* key) {
  const auto found = json.find(key);
  if (found == json.end()) {
    return std::nullopt;
  }
  return found->get<std::string>();
}

} // namespace

void to_json(nlohmann::ordered_json& json, const Screen& screen) {
  json = nlohmann::ordered_json::object();
  json["id"] = screen.id;
  json["name"] = screen.name;
  json["width"] = screen.width;
  json["height"] = screen.height;
  json["frame"] = encodeRect(screen.frame);
}

void to_json(nlohmann::ordered_json& json, const Window& window) {
  json = nlohmann::ordered_json::object();
  json["id"] = window.id;
  encodeOptional(json, "title", window.title);
  encodeOptional(json, "appName", window.appName);
  encodeOptional(json, "appBundleIdentifier", window.appBundleIdentifier);
  json["isActive"] = window.isActive;
  json["isOnScreen"] = window.isOnScreen;
  json["layer"] = window.layer;
  json["frame"] = encodeRect(window.frame);
}

void to_json(nlohmann::ordered_json& json, const Audio& audio) {
  json = nlohmann::ordered_json{{"id", audio.id}, {"name", audio.name}};
}

void to_json(nlohmann::ordered_json& json, const IOS& device) {
  json = nlohmann::ordered_json{{"id", device.id}, {"name", device.name}};
}

void from_json(const nlohmann::ordered_json& json, Screen& screen) {
  screen = Screen{
      .id = json.at("id").get<std::string>(),
      .name = json.at("name").get<std::string>(),
      .width = json.at("width").get<std::int64_t>(),
      .height = json.at("height").get<std::int64_t>(),
      .frame = decodeRect(json.at("frame")),
  };
}

void from_json(const nlohmann::ordered_json& json, Window& window) {
  window = Window{
      .id = json.at("id").get<std::string>(),
      .title = decodeOptional(json, "title"),
      .appName = decodeOptional(json, "appName"),
      .appBundleIdentifier = decodeOptional(json, "appBundleIdentifier"),
      .isActive = json.at("isActive").get<bool>(),
      .isOnScreen = json.at("isOnScreen").get<bool>(),
      .layer = json.at("layer").get<std::int64_t>(),
      .frame = decodeRect(json.at("frame")),
  };
}

void from_json(const nlohmann::ordered_json& json, Audio& audio) {
  audio = Audio{.id = json.at("id").get<std::string>(), .name = json.at("name").get<std::string>()};
}

void from_json(const nlohmann::ordered_json& json, IOS& device) {
  device = IOS{.id = json.at("id").get<std::string>(), .name = json.at("name").get<std::string>()};
}

} // namespace Vistrel::Devices

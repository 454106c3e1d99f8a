#pragma once

#include "Vistrel/Devices.h"

#include <cstdint>
#include <optional>
#include <string>

/// @file
/// The discovery records' JSON form, for programs that use nlohmann-json
/// themselves. It needs no header of it: the conversions are templates that
/// nlohmann-json finds by argument-dependent lookup, for `nlohmann::json` and
/// `nlohmann::ordered_json` alike.

namespace Vistrel::Devices {

/// @cond internal
namespace Detail {

template <typename Json> Json encodeRect(const Rect& rect) {
  return Json::array({Json::array({rect.x, rect.y}), Json::array({rect.width, rect.height})});
}

template <typename Json> Rect decodeRect(const Json& json) {
  const auto& origin = json.at(0);
  const auto& size = json.at(1);
  return Rect{origin.at(0).template get<double>(), origin.at(1).template get<double>(),
              size.at(0).template get<double>(), size.at(1).template get<double>()};
}

template <typename Json>
void encodeOptional(Json& json, const char* key, const std::optional<std::string>& value) {
  if (value) {
    json[key] = *value;
  }
}

template <typename Json>
std::optional<std::string> decodeOptional(const Json& json, const char* key) {
  const auto found = json.find(key);
  if (found == json.end()) {
    return std::nullopt;
  }
  return found->template get<std::string>();
}

} // namespace Detail
/// @endcond

/// @name JSON form
/// Keys in field order, absent optionals left out, rectangles as
/// [[x, y], [width, height]]. Decoding reads a missing optional as absent
/// and throws nlohmann::json::exception on any other malformed input.
/// @{

/// A record to or from its JSON object.
template <typename Json> void to_json(Json& json, const Screen& screen) {
  json = Json::object();
  json["id"] = screen.id;
  json["name"] = screen.name;
  json["width"] = screen.width;
  json["height"] = screen.height;
  json["frame"] = Detail::encodeRect<Json>(screen.frame);
}

template <typename Json> void to_json(Json& json, const Window& window) {
  json = Json::object();
  json["id"] = window.id;
  Detail::encodeOptional(json, "title", window.title);
  Detail::encodeOptional(json, "appName", window.appName);
  Detail::encodeOptional(json, "appBundleIdentifier", window.appBundleIdentifier);
  json["isActive"] = window.isActive;
  json["isOnScreen"] = window.isOnScreen;
  json["layer"] = window.layer;
  json["frame"] = Detail::encodeRect<Json>(window.frame);
}

template <typename Json> void to_json(Json& json, const Audio& audio) {
  json = Json::object();
  json["id"] = audio.id;
  json["name"] = audio.name;
}

template <typename Json> void to_json(Json& json, const IOS& device) {
  json = Json::object();
  json["id"] = device.id;
  json["name"] = device.name;
}

template <typename Json> void from_json(const Json& json, Screen& screen) {
  screen = Screen{
      .id = json.at("id").template get<std::string>(),
      .name = json.at("name").template get<std::string>(),
      .width = json.at("width").template get<std::int64_t>(),
      .height = json.at("height").template get<std::int64_t>(),
      .frame = Detail::decodeRect(json.at("frame")),
  };
}

template <typename Json> void from_json(const Json& json, Window& window) {
  window = Window{
      .id = json.at("id").template get<std::string>(),
      .title = Detail::decodeOptional(json, "title"),
      .appName = Detail::decodeOptional(json, "appName"),
      .appBundleIdentifier = Detail::decodeOptional(json, "appBundleIdentifier"),
      .isActive = json.at("isActive").template get<bool>(),
      .isOnScreen = json.at("isOnScreen").template get<bool>(),
      .layer = json.at("layer").template get<std::int64_t>(),
      .frame = Detail::decodeRect(json.at("frame")),
  };
}

template <typename Json> void from_json(const Json& json, Audio& audio) {
  audio = Audio{.id = json.at("id").template get<std::string>(),
                .name = json.at("name").template get<std::string>()};
}

template <typename Json> void from_json(const Json& json, IOS& device) {
  device = IOS{.id = json.at("id").template get<std::string>(),
               .name = json.at("name").template get<std::string>()};
}
/// @}

} // namespace Vistrel::Devices

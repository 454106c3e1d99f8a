#pragma once

#include "Vistrel/Devices.h"

#include <nlohmann/json.hpp>

// The discovery records' JSON form, for programs that use nlohmann-json
// themselves; the library's other headers do not need it.

namespace Vistrel::Devices {

// JSON form: keys in field order, absent optionals left out, rectangles as
// [[x, y], [width, height]]. Decoding reads a missing optional as absent and
// throws nlohmann::json::exception on any other malformed input.
void to_json(nlohmann::ordered_json& json, const Screen& screen);
void to_json(nlohmann::ordered_json& json, const Window& window);
void to_json(nlohmann::ordered_json& json, const Audio& audio);
void to_json(nlohmann::ordered_json& json, const IOS& device);
void from_json(const nlohmann::ordered_json& json, Screen& screen);
void from_json(const nlohmann::ordered_json& json, Window& window);
void from_json(const nlohmann::ordered_json& json, Audio& audio);
void from_json(const nlohmann::ordered_json& json, IOS& device);

} // namespace Vistrel::Devices

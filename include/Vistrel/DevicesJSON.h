#pragma once

#include "Vistrel/Devices.h"

#include <nlohmann/json.hpp>

/// @file
/// The discovery records' JSON form, for programs that use nlohmann-json
/// themselves; the library's other headers do not need it.

namespace Vistrel::Devices {

/// @name JSON form
/// Keys in field order, absent optionals left out, rectangles as
/// [[x, y], [width, height]]. Decoding reads a missing optional as absent
/// and throws nlohmann::json::exception on any other malformed input.
/// @{

/// A record to or from its JSON object.
VISTREL_EXPORT void to_json(nlohmann::ordered_json& json, const Screen& screen);
VISTREL_EXPORT void to_json(nlohmann::ordered_json& json, const Window& window);
VISTREL_EXPORT void to_json(nlohmann::ordered_json& json, const Audio& audio);
VISTREL_EXPORT void to_json(nlohmann::ordered_json& json, const IOS& device);
VISTREL_EXPORT void from_json(const nlohmann::ordered_json& json, Screen& screen);
VISTREL_EXPORT void from_json(const nlohmann::ordered_json& json, Window& window);
VISTREL_EXPORT void from_json(const nlohmann::ordered_json& json, Audio& audio);
VISTREL_EXPORT void from_json(const nlohmann::ordered_json& json, IOS& device);
/// @}

} // namespace Vistrel::Devices

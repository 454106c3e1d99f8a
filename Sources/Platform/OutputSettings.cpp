#include "Platform/OutputSettings.h"

namespace Platform {

std::optional<std::int64_t> SettingValue::integer() const {
  if (const auto* value = std::get_if<std::int64_t>(&value_)) {
    return *value;
  }
  return std::nullopt;
}

std::optional<double> SettingValue::number() const {
  if (const auto* value = std::get_if<std::int64_t>(&value_)) {
    return static_cast<double>(*value);
  }
  if (const auto* value = std::get_if<double>(&value_)) {
    return *value;
  }
  return std::nullopt;
}

const std::string* SettingValue::text() const {
  return std::get_if<std::string>(&value_);
}

const OutputSettings* SettingValue::dictionary() const {
  const auto* value = std::get_if<std::shared_ptr<const OutputSettings>>(&value_);
  return value ? value->get() : nullptr;
}

bool operator==(const SettingValue& lhs, const SettingValue& rhs) {
  if (lhs.value_.index() != rhs.value_.index()) {
    return false;
  }
  if (const auto* left = lhs.dictionary()) {
    return *left == *rhs.dictionary();
  }
  return lhs.value_ == rhs.value_;
}

} // namespace Platform

#pragma once

#include "Vistrel/Export.h"

#include <cstdint>
#include <string>

/// @file
/// Which sound a recording's system-audio track holds.

namespace Vistrel {

/// What the system-audio track records. An immutable value.
class VISTREL_EXPORT SystemAudio {
public:
  /// The choices.
  enum Value : std::uint8_t {
    /// Everything the desktop plays.
    all,
    /// Only what the recorded window's application plays: its process, the
    /// processes it started, and streams the audio server names with its
    /// application id. Where the application cannot be known (a display, a
    /// desktop's own picker), everything, with a warning in the log.
    application,
  };

  /// The choice of a value; implicit, so `SystemAudio::application` is one.
  constexpr SystemAudio(Value value) : value_(value) {}

  /// The choice of a name ("all", "application"), matched exactly.
  /// @throws Error unsupportedSystemAudio for any other text.
  static SystemAudio fromRawValue(const std::string& name);

  /// The choice as an enumeration value.
  constexpr Value value() const { return value_; }
  /// The choice's name, as fromRawValue() reads it.
  std::string asString() const;

  /// Choices are equal when their values are.
  friend constexpr bool operator==(SystemAudio, SystemAudio) = default;

private:
  Value value_;
};

} // namespace Vistrel

#pragma once

#include "Vistrel/Export.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

/// @file
/// The video encoder of a recording.

namespace Vistrel {

/// The video encoder of a recording. An immutable value.
class VISTREL_EXPORT VideoCodec {
public:
  /// The codecs. ProRes needs a .mov file.
  enum Value : std::uint8_t { h264, hevc, proRes422, proRes4444 };

  /// The codec of a value; implicit, so `VideoCodec::hevc` is a VideoCodec.
  constexpr VideoCodec(Value value) : value_(value) {}

  /// The codec of a name ("h264", "hevc", "proRes422", "proRes4444"),
  /// matched exactly.
  /// @throws Error unsupportedVideoCodec for any other text.
  static VideoCodec fromRawValue(const std::string& name);

  /// The codec as an enumeration value.
  constexpr Value value() const { return value_; }
  /// The codec's name, as fromRawValue() reads it.
  std::string asString() const;
  /// The codec's identifier in the writer's output settings.
  std::string asAVVideoCodec() const;
  /// Whether this is one of the ProRes codecs.
  constexpr bool isProRes() const { return value_ == proRes422 || value_ == proRes4444; }

  /// Codecs are equal when their values are.
  friend constexpr bool operator==(VideoCodec, VideoCodec) = default;

private:
  Value value_;
};

} // namespace Vistrel

/// @cond internal
template <> struct std::hash<Vistrel::VideoCodec> {
  std::size_t operator()(Vistrel::VideoCodec codec) const noexcept {
    return std::hash<int>()(codec.value());
  }
};
/// @endcond

#pragma once

#include "Platform/OutputSettings.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// The video encoder of a recording. An immutable value.

namespace Vistrel {

class VideoCodec {
public:
  enum Value : std::uint8_t { h264, hevc, proRes422, proRes4444 };

  constexpr VideoCodec(Value value) : value_(value) {}

  // The codec of a name ("h264", "hevc", "proRes422", "proRes4444"), matched
  // exactly; throws Error::unsupportedVideoCodec for any other text.
  static VideoCodec fromRawValue(const std::string& name);

  constexpr Value value() const { return value_; }
  std::string asString() const;
  Platform::AVVideoCodecType asAVVideoCodec() const;
  constexpr bool isProRes() const { return value_ == proRes422 || value_ == proRes4444; }

  friend constexpr bool operator==(VideoCodec, VideoCodec) = default;

private:
  Value value_;
};

} // namespace Vistrel

template <> struct std::hash<Vistrel::VideoCodec> {
  std::size_t operator()(Vistrel::VideoCodec codec) const noexcept {
    return std::hash<int>()(codec.value());
  }
};

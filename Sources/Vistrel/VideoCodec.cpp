#include "Vistrel/VideoCodec.h"

#include "Vistrel/Error.h"

#include "Platform/OutputSettings.h"

namespace Vistrel {

VideoCodec VideoCodec::fromRawValue(const std::string& name) {
  for (const Value value : {h264, hevc, proRes422, proRes4444}) {
    if (VideoCodec(value).asString() == name) {
      return value;
    }
  }
  throw Error::unsupportedVideoCodec();
}

std::string VideoCodec::asString() const {
  switch (value_) {
  case h264:
    return "h264";
  case hevc:
    return "hevc";
  case proRes422:
    return "proRes422";
  case proRes4444:
    return "proRes4444";
  }
  return {};
}

std::string VideoCodec::asAVVideoCodec() const {
  switch (value_) {
  case h264:
    return Platform::AVVideoCodecTypeH264;
  case hevc:
    return Platform::AVVideoCodecTypeHEVC;
  case proRes422:
    return Platform::AVVideoCodecTypeAppleProRes422;
  case proRes4444:
    return Platform::AVVideoCodecTypeAppleProRes4444;
  }
  return {};
}

} // namespace Vistrel

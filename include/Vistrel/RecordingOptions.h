#pragma once

#include "Platform/Geometry.h"
#include "Vistrel/VideoCodec.h"

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

// The options of one recording: an immutable value, built from named fields.
//
//   RecordingOptions options({.destination = "/tmp/meeting.mp4",
//                             .targetID = "42",
//                             .cropRect = std::nullopt,
//                             .microphoneDeviceID = std::nullopt});
//
// destination, targetID, cropRect and microphoneDeviceID have no default and
// must be named (the last three possibly as std::nullopt); leaving one out
// does not compile. Nothing is validated here: a request that cannot work is
// refused when the recording starts.

namespace Vistrel {

// A field the caller must give; it has no default.
template <typename T> class Required {
public:
  template <typename U>
  requires std::constructible_from<T, U> Required(U&& value) : value_(std::forward<U>(value)) {}
  const T& get() const { return value_; }

private:
  T value_;
};

class RecordingOptions {
public:
  struct Fields {
    Required<std::string> destination; // file path; its extension picks the container
    Required<std::optional<std::string>> targetID;
    std::int64_t framesPerSecond = 60;
    Required<std::optional<Platform::CGRect>> cropRect; // display points
    bool showCursor = true;
    bool highlightClicks = false;
    VideoCodec videoCodec = VideoCodec::h264;
    bool losslessAudio = false;
    bool recordSystemAudio = false;
    Required<std::optional<std::string>> microphoneDeviceID;
  };

  explicit RecordingOptions(Fields fields) : fields_(std::move(fields)) {}

  const std::string& destination() const { return fields_.destination.get(); }
  const std::optional<std::string>& targetID() const { return fields_.targetID.get(); }
  std::int64_t framesPerSecond() const { return fields_.framesPerSecond; }
  const std::optional<Platform::CGRect>& cropRect() const { return fields_.cropRect.get(); }
  bool showCursor() const { return fields_.showCursor; }
  bool highlightClicks() const { return fields_.highlightClicks; }
  VideoCodec videoCodec() const { return fields_.videoCodec; }
  bool losslessAudio() const { return fields_.losslessAudio; }
  bool recordSystemAudio() const { return fields_.recordSystemAudio; }
  const std::optional<std::string>& microphoneDeviceID() const {
    return fields_.microphoneDeviceID.get();
  }

private:
  Fields fields_;
};

} // namespace Vistrel

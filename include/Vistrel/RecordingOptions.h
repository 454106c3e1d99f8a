#pragma once

#include "Vistrel/Rect.h"
#include "Vistrel/SystemAudio.h"
#include "Vistrel/VideoCodec.h"

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

/// @file
/// The options of one recording.

namespace Vistrel {

/// A field the caller must give; it has no default.
template <typename T> class Required {
public:
  /// Takes any value the field's type can be made from.
  template <typename U>
  requires std::constructible_from<T, U> Required(U&& value) : value_(std::forward<U>(value)) {}
  /// The value given.
  const T& get() const { return value_; }

private:
  T value_;
};

/// The options of one recording: an immutable value, built from named
/// fields.
///
/// @code
/// Vistrel::RecordingOptions options({.destination = "/tmp/meeting.mp4",
///                                    .targetID = "42",
///                                    .cropRect = std::nullopt,
///                                    .microphoneDeviceID = std::nullopt});
/// @endcode
///
/// destination, targetID, cropRect and microphoneDeviceID have no default
/// and must be named (the last three possibly as std::nullopt); leaving one
/// out does not compile. Nothing is validated here: a request that cannot
/// work is refused by Recorder::start().
class RecordingOptions {
public:
  /// The fields, named in designated initialisers in this order.
  struct Fields {
    /// The file to write; it must not exist. Its extension picks the
    /// container: "mp4", "mov" or "m4v" for video, "m4a" for audio only.
    Required<std::string> destination;
    /// Which display, window or device (a Devices record's id); absent only
    /// for Target::audioOnly.
    Required<std::optional<std::string>> targetID;
    /// Pictures per second; audio-only recordings ignore it.
    std::int64_t framesPerSecond = 60;
    /// The part of a display to record, in display points; absent for all
    /// of it. Only Target::screen looks at it.
    Required<std::optional<Rect>> cropRect;
    /// Whether the pointer is drawn into the picture.
    bool showCursor = true;
    /// Whether clicks are highlighted (where the platform can).
    bool highlightClicks = false;
    /// The video encoder.
    VideoCodec videoCodec = VideoCodec::h264;
    /// Apple Lossless audio instead of AAC.
    bool losslessAudio = false;
    /// Whether the system's own sound (what the speakers play) is recorded.
    bool recordSystemAudio = false;
    /// The microphone to record (a Devices::Audio id); absent for none.
    Required<std::optional<std::string>> microphoneDeviceID;
    /// What the system-audio track holds, when recordSystemAudio is on.
    SystemAudio systemAudio = SystemAudio::all;
    /// Whether the microphone is cleaned of what the speakers play (their
    /// echo in the room); off, the track is the microphone as it hears.
    bool echoCancellation = false;
  };

  /// Options from their fields.
  explicit RecordingOptions(Fields fields) : fields_(std::move(fields)) {}

  /// @name The fields as given
  /// @{

  /// The field of the same name in Fields.

  const std::string& destination() const { return fields_.destination.get(); }
  const std::optional<std::string>& targetID() const { return fields_.targetID.get(); }
  std::int64_t framesPerSecond() const { return fields_.framesPerSecond; }
  const std::optional<Rect>& cropRect() const { return fields_.cropRect.get(); }
  bool showCursor() const { return fields_.showCursor; }
  bool highlightClicks() const { return fields_.highlightClicks; }
  VideoCodec videoCodec() const { return fields_.videoCodec; }
  bool losslessAudio() const { return fields_.losslessAudio; }
  bool recordSystemAudio() const { return fields_.recordSystemAudio; }
  const std::optional<std::string>& microphoneDeviceID() const {
    return fields_.microphoneDeviceID.get();
  }
  SystemAudio systemAudio() const { return fields_.systemAudio; }
  bool echoCancellation() const { return fields_.echoCancellation; }
  /// @}

private:
  Fields fields_;
};

} // namespace Vistrel

#pragma once

#include "Vistrel/Export.h"

#include <exception>
#include <memory>
#include <string>

/// @file
/// The library's one error type.

namespace Vistrel {

/// What went wrong in a recording, thrown by the Recorder and handed to its
/// onError callback. Catch it as Vistrel::Error, or as std::exception
/// together with the platform's own errors (which the device queries throw
/// unchanged). A value is copied freely; an underlying error it carries is
/// shared, not copied. Immutable, so usable from any thread. what() and
/// localizedDescription() give its English message, for people; a program
/// that acts on a failure switches on kind() and cause(), never on the text:
///
/// @code
/// recorder.setOnError([](const Vistrel::Error& error) {
///   switch (error.cause()) {
///   case Vistrel::Error::Cause::targetGone: // offer to pick another window
///     break;
///   case Vistrel::Error::Cause::outputNotWritable: // ask for another place
///     break;
///   default:
///     break;
///   }
/// });
/// @endcode
class VISTREL_EXPORT Error final : public std::exception {
public:
  /// An error that another one carries: the platform's own error (its
  /// what() says what happened) or another Error.
  using Underlying = std::shared_ptr<const std::exception>;

  /// The case of an error, with what it means.
  enum class Kind {
    /// No display, window or device has the requested targetID (text()).
    /// "Target with id <id> not found."
    targetNotFound,
    /// The writer refused an input ("video", "systemAudio", "microphone":
    /// text()); only seen inside couldNotStartStream.
    couldNotAddInput,
    /// A start-up step failed inside the platform (listing what can be
    /// recorded, starting the capture, creating or starting the file);
    /// underlyingError() tells which, or is null, and cause() whether the
    /// pick was cancelled or the destination is taken or not writable. Also
    /// raised when no usable picture or sound arrives in time.
    /// "Could not start recording: ..."
    couldNotStartStream,
    /// No audio input device has the requested microphoneDeviceID (text()),
    /// or it offers no usable format. "Microphone with id <id> not found"
    microphoneNotFound,
    /// The destination's extension (text()) does not suit the target: .mp4,
    /// .mov or .m4v for video, .m4a for audio only (isAudioOnly()).
    unsupportedFileExtension,
    /// A ProRes codec (codecName()) with .mp4 or .m4v (text()); use .mov.
    invalidFileExtension,
    /// The recording failed while it ran (a window closed, a server lost, a
    /// write error); cause() tells which, underlyingError() how. The file
    /// keeps what was recorded. "An unknown error has occurred: ..."
    unknown,
    /// start() on a recorder that is recording, or whose recording failed.
    recorderAlreadyStarted,
    /// stop(), pause() or resume() on an idle recorder.
    recorderNotStarted,
    /// A target other than audioOnly without a targetID.
    /// "No target provider."
    noTargetProvided,
    /// An audio-only recording on a system that shows no display.
    noDisplaysConnected,
    /// The user or the system refused screen capture.
    noPermissions,
    /// VideoCodec::fromRawValue() with an unknown name.
    unsupportedVideoCodec,
    /// SystemAudio::fromRawValue() with an unknown name (text()).
    /// "System audio <name> not supported. Use all or application."
    unsupportedSystemAudio,
  };

  /// Why a recording failed while it ran (Kind::unknown) or could not start
  /// (Kind::couldNotStartStream), for a program to act on; `other` for every
  /// other case.
  enum class Cause {
    /// What was recorded went away: the window closed, the display was
    /// unplugged.
    targetGone,
    /// The display server or the audio server was lost (it stopped or the
    /// connection to it broke).
    serverLost,
    /// The file could not be written: the disk is full, the file was
    /// removed, the file system refused the write; at the start, its folder
    /// is missing or may not be written.
    outputNotWritable,
    /// The microphone or capture device was unplugged.
    deviceUnplugged,
    /// The start only: the user closed the desktop's picker without
    /// choosing, or a stop() closed it.
    pickCancelled,
    /// The start only: something already has the destination's name (a
    /// file, a folder, a link); it is never replaced.
    destinationExists,
    /// Anything else; the message says what.
    other,
  };

  /// @name Construction of each case with its payload
  /// @{

  /// An error of the case of the same name, carrying its payload.
  static Error targetNotFound(std::string targetID);
  static Error couldNotAddInput(std::string inputName);
  static Error couldNotStartStream(Underlying underlying = nullptr);
  static Error microphoneNotFound(std::string microphoneID);
  static Error unsupportedFileExtension(std::string extension, bool isAudioOnly);
  static Error invalidFileExtension(std::string extension, std::string codecName);
  static Error unknown(Underlying underlying, Cause cause = Cause::other);
  static Error recorderAlreadyStarted();
  static Error recorderNotStarted();
  static Error noTargetProvided();
  static Error noDisplaysConnected();
  static Error noPermissions();
  static Error unsupportedVideoCodec();
  static Error unsupportedSystemAudio(std::string name);
  /// @}

  /// Which case this is.
  Kind kind() const { return kind_; }
  /// Why the recording failed, for unknown and couldNotStartStream; `other`
  /// for every other case.
  Cause cause() const { return cause_; }
  /// The identifier, input name or file extension of the cases that carry one.
  const std::string& text() const { return text_; }
  /// The codec name of invalidFileExtension.
  const std::string& codecName() const { return codecName_; }
  /// The flag of unsupportedFileExtension.
  bool isAudioOnly() const { return isAudioOnly_; }
  /// The error carried by couldNotStartStream (may be null) and unknown.
  const Underlying& underlyingError() const { return underlying_; }

  /// The English message of the case, with its payload inserted verbatim;
  /// an underlying error contributes its what().
  std::string localizedDescription() const { return description_; }
  /// The same message.
  const char* what() const noexcept override { return description_.c_str(); }

private:
  explicit Error(Kind kind, std::string text = {}, Underlying underlying = nullptr,
                 std::string codecName = {}, bool isAudioOnly = false, Cause cause = Cause::other);
  std::string composeDescription() const;

  Kind kind_;
  Cause cause_;
  std::string text_;
  std::string codecName_;
  bool isAudioOnly_ = false;
  Underlying underlying_;
  std::string description_;
};

/// The exception being handled, as an unknown error: for a catch (...) where
/// a thread hands work to the library, so that nothing escapes to terminate.
VISTREL_EXPORT Error currentExceptionAsError();

} // namespace Vistrel

#pragma once

#include "Platform/Error.h"

#include <exception>
#include <string>

// The engine's one error type. A value is copied freely; an underlying error
// it carries is shared, not copied. Immutable, so usable from any thread.

namespace Vistrel {

class Error final : public Platform::Error {
public:
  enum class Kind {
    targetNotFound,
    couldNotAddInput,
    couldNotStartStream,
    microphoneNotFound,
    unsupportedFileExtension,
    invalidFileExtension,
    unknown,
    recorderAlreadyStarted,
    recorderNotStarted,
    noTargetProvided,
    noDisplaysConnected,
    noPermissions,
    unsupportedVideoCodec,
  };

  static Error targetNotFound(std::string targetID);
  static Error couldNotAddInput(std::string inputName);
  static Error couldNotStartStream(Platform::ErrorRef underlying = nullptr);
  static Error microphoneNotFound(std::string microphoneID);
  static Error unsupportedFileExtension(std::string extension, bool isAudioOnly);
  static Error invalidFileExtension(std::string extension, std::string codecName);
  static Error unknown(Platform::ErrorRef underlying);
  static Error recorderAlreadyStarted();
  static Error recorderNotStarted();
  static Error noTargetProvided();
  static Error noDisplaysConnected();
  static Error noPermissions();
  static Error unsupportedVideoCodec();

  Kind kind() const { return kind_; }
  // The identifier, input name or file extension of the cases that carry one.
  const std::string& text() const { return text_; }
  // The codec name of invalidFileExtension.
  const std::string& codecName() const { return codecName_; }
  // The flag of unsupportedFileExtension.
  bool isAudioOnly() const { return isAudioOnly_; }
  // The error carried by couldNotStartStream (may be null) and unknown.
  const Platform::ErrorRef& underlyingError() const { return underlying_; }

  std::string localizedDescription() const override;

private:
  explicit Error(Kind kind) : kind_(kind) {}

  Kind kind_;
  std::string text_;
  std::string codecName_;
  bool isAudioOnly_ = false;
  Platform::ErrorRef underlying_;
};

// A shared copy of a caught error, keeping its type where the engine knows
// it (a platform SystemError or an engine Error) and its description always.
Platform::ErrorRef shareError(const std::exception& error);

// The exception being handled as an unknown error: for a catch (...) where a
// thread hands work to the engine, so that nothing escapes to terminate.
Error currentExceptionAsError();

} // namespace Vistrel

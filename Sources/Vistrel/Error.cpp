#include "Vistrel/Error.h"

#include "Platform/Error.h"
#include "Vistrel/FailureCauses.h"
#include "Vistrel/SharedErrors.h"

#include <memory>

namespace Vistrel {

Error::Error(Kind kind, std::string text, Underlying underlying, std::string codecName,
             bool isAudioOnly, Cause cause)
    : kind_(kind), cause_(cause), text_(std::move(text)), codecName_(std::move(codecName)),
      isAudioOnly_(isAudioOnly), underlying_(std::move(underlying)),
      description_(composeDescription()) {}

Error Error::targetNotFound(std::string targetID) {
  return Error(Kind::targetNotFound, std::move(targetID));
}
Error Error::couldNotAddInput(std::string inputName) {
  return Error(Kind::couldNotAddInput, std::move(inputName));
}
Error Error::couldNotStartStream(Underlying underlying) {
  const Cause cause = underlying ? failureCause(*underlying) : Cause::other;
  return Error(Kind::couldNotStartStream, {}, std::move(underlying), {}, false, cause);
}
Error Error::microphoneNotFound(std::string microphoneID) {
  return Error(Kind::microphoneNotFound, std::move(microphoneID));
}
Error Error::unsupportedFileExtension(std::string extension, bool isAudioOnly) {
  return Error(Kind::unsupportedFileExtension, std::move(extension), nullptr, {}, isAudioOnly);
}
Error Error::invalidFileExtension(std::string extension, std::string codecName) {
  return Error(Kind::invalidFileExtension, std::move(extension), nullptr, std::move(codecName));
}
Error Error::unknown(Underlying underlying, Cause cause) {
  return Error(Kind::unknown, {}, std::move(underlying), {}, false, cause);
}
Error Error::recorderAlreadyStarted() {
  return Error(Kind::recorderAlreadyStarted);
}
Error Error::recorderNotStarted() {
  return Error(Kind::recorderNotStarted);
}
Error Error::noTargetProvided() {
  return Error(Kind::noTargetProvided);
}
Error Error::noDisplaysConnected() {
  return Error(Kind::noDisplaysConnected);
}
Error Error::noPermissions() {
  return Error(Kind::noPermissions);
}
Error Error::unsupportedVideoCodec() {
  return Error(Kind::unsupportedVideoCodec);
}
Error Error::unsupportedSystemAudio(std::string name) {
  return Error(Kind::unsupportedSystemAudio, std::move(name));
}

std::string Error::composeDescription() const {
  switch (kind_) {
  case Kind::targetNotFound:
    return "Target with id " + text_ + " not found.";
  case Kind::couldNotAddInput:
    return "Could not add " + text_ + " input.";
  case Kind::couldNotStartStream:
    // An engine error nests through its own description, which what() gives.
    return underlying_ ? "Could not start recording: " + std::string(underlying_->what())
                       : "Could not start recording.";
  case Kind::microphoneNotFound:
    return "Microphone with id " + text_ + " not found";
  case Kind::unsupportedFileExtension:
    return isAudioOnly_ ? "Invalid file extension. Only .m4a is supported for audio recordings. "
                          "Got " +
                              text_ + "."
                        : "Invalid file extension. Only .mp4, .mov and .m4v are supported for "
                          "video recordings. Got " +
                              text_ + ".";
  case Kind::invalidFileExtension:
    return "Invalid file extension. ." + text_ + " does not support " + codecName_ + ".";
  case Kind::unknown:
    return "An unknown error has occurred: " +
           (underlying_ ? std::string(underlying_->what()) : std::string());
  case Kind::recorderAlreadyStarted:
    return "Recorder has already started. Each recorder instance can only be started once.";
  case Kind::recorderNotStarted:
    return "Recorder needs to be started first.";
  case Kind::noTargetProvided:
    return "No target provider.";
  case Kind::noDisplaysConnected:
    return "At least one display must be connected.";
  case Kind::noPermissions:
    return "Missing screen capture permissions.";
  case Kind::unsupportedVideoCodec:
    return "VideoCodec not supported.";
  case Kind::unsupportedSystemAudio:
    return "System audio " + text_ + " not supported. Use all or application.";
  }
  return {};
}

Error::Underlying shareError(const std::exception& error) {
  if (const auto* engineError = dynamic_cast<const Error*>(&error)) {
    return std::make_shared<Error>(*engineError);
  }
  if (const auto* systemError = dynamic_cast<const Platform::SystemError*>(&error)) {
    return std::make_shared<Platform::SystemError>(*systemError);
  }
  return Platform::makeError("", 0, Platform::describe(error));
}

Error currentExceptionAsError() {
  try {
    throw;
  } catch (const std::exception& error) {
    // A writer that throws while it takes a sample fails the recording
    // like one that reports its failure.
    return Error::unknown(shareError(error), failureCause(error));
  } catch (...) {
    return Error::unknown(Platform::makeError("", 0, "An exception of an unknown type."));
  }
}

} // namespace Vistrel

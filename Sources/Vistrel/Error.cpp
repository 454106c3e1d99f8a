#include "Vistrel/Error.h"

#include <memory>

namespace Vistrel {

Error Error::targetNotFound(std::string targetID) {
  Error error(Kind::targetNotFound);
  error.text_ = std::move(targetID);
  return error;
}

Error Error::couldNotAddInput(std::string inputName) {
  Error error(Kind::couldNotAddInput);
  error.text_ = std::move(inputName);
  return error;
}

Error Error::couldNotStartStream(Platform::ErrorRef underlying) {
  Error error(Kind::couldNotStartStream);
  error.underlying_ = std::move(underlying);
  return error;
}

Error Error::microphoneNotFound(std::string microphoneID) {
  Error error(Kind::microphoneNotFound);
  error.text_ = std::move(microphoneID);
  return error;
}

Error Error::unsupportedFileExtension(std::string extension, bool isAudioOnly) {
  Error error(Kind::unsupportedFileExtension);
  error.text_ = std::move(extension);
  error.isAudioOnly_ = isAudioOnly;
  return error;
}

Error Error::invalidFileExtension(std::string extension, std::string codecName) {
  Error error(Kind::invalidFileExtension);
  error.text_ = std::move(extension);
  error.codecName_ = std::move(codecName);
  return error;
}

Error Error::unknown(Platform::ErrorRef underlying) {
  Error error(Kind::unknown);
  error.underlying_ = std::move(underlying);
  return error;
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

std::string Error::localizedDescription() const {
  switch (kind_) {
  case Kind::targetNotFound:
    return "Target with id " + text_ + " not found.";
  case Kind::couldNotAddInput:
    return "Could not add " + text_ + " input.";
  case Kind::couldNotStartStream:
    // An engine error nests through its own localizedDescription.
    return underlying_ ? "Could not start recording: " + underlying_->localizedDescription()
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
           (underlying_ ? underlying_->localizedDescription() : std::string());
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
  }
  return {};
}

Platform::ErrorRef shareError(const std::exception& error) {
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
    return Error::unknown(shareError(error));
  } catch (...) {
    return Error::unknown(Platform::makeError("", 0, "An exception of an unknown type."));
  }
}

} // namespace Vistrel

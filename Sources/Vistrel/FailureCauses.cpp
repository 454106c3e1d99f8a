#include "Vistrel/FailureCauses.h"

#include <cerrno>
#include <cstdlib>

// The platform's error domains and codes, read as the causes a program acts
// on. Backends raise their systems' own numbers; only this file interprets
// them.

namespace Vistrel {

namespace {

using Cause = Error::Cause;

Cause screenCaptureCause(std::int64_t code) {
  switch (code) {
  case Platform::captureSourceGoneCode:
    return Cause::targetGone;
  case Platform::displayConnectionLostCode:
    return Cause::serverLost;
  case Platform::userDeclinedScreenCaptureCode:
    return Cause::pickCancelled; // the picker's answer; a refused listing is noPermissions
  default:
    return Cause::other;
  }
}

Cause mediaCaptureCause(std::int64_t code) {
  switch (code) {
  case Platform::MediaCaptureCode::connectionRefused:
  case Platform::MediaCaptureCode::timeout:
  case Platform::MediaCaptureCode::connectionTerminated:
    return Cause::serverLost;
  case Platform::MediaCaptureCode::noSuchDevice:
  case Platform::MediaCaptureCode::deviceKilled:
    return Cause::deviceUnplugged;
  default:
    return Cause::other;
  }
}

// The errno values that say the file system would not take the file.
Cause mediaWritingCause(std::int64_t code) {
  switch (std::llabs(code)) {
  case EEXIST:
  case ELOOP: // a link has the name: it is not followed, so it is taken
    return Cause::destinationExists;
  case ENOSPC:
  case EDQUOT:
  case EFBIG:
  case EIO:
  case ENOENT:
  case EROFS:
  case EACCES:
  case EPERM:
  case ESTALE:
    return Cause::outputNotWritable;
  default:
    return Cause::other;
  }
}

} // namespace

Error::Cause failureCause(const std::exception& error) {
  if (const auto* nested = dynamic_cast<const Error*>(&error)) {
    return nested->cause();
  }
  const auto* system = dynamic_cast<const Platform::SystemError*>(&error);
  if (system == nullptr) {
    return Cause::other;
  }
  if (system->domain() == Platform::ErrorDomain::screenCapture) {
    return screenCaptureCause(system->code());
  }
  if (system->domain() == Platform::ErrorDomain::mediaCapture) {
    return mediaCaptureCause(system->code());
  }
  if (system->domain() == Platform::ErrorDomain::mediaWriting) {
    return mediaWritingCause(system->code());
  }
  return Cause::other;
}

namespace {

const char* domainOf(FailureOrigin origin) {
  switch (origin) {
  case FailureOrigin::stream:
    return Platform::ErrorDomain::screenCapture;
  case FailureOrigin::captureSession:
    return Platform::ErrorDomain::mediaCapture;
  case FailureOrigin::writer:
    return Platform::ErrorDomain::mediaWriting;
  }
  return "";
}

} // namespace

Error recordingFailure(Platform::ErrorRef error, FailureOrigin origin,
                       const char* whenUnexplained) {
  if (!error) {
    error = Platform::makeError(domainOf(origin), 0, whenUnexplained);
  }
  Cause cause = failureCause(*error);
  // A capture session ends by itself when its device goes away, whatever
  // number its platform gives that.
  if (cause == Cause::other && origin == FailureOrigin::captureSession) {
    cause = Cause::deviceUnplugged;
  }
  return Error::unknown(std::move(error), cause);
}

} // namespace Vistrel

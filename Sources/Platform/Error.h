#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace Platform {

// The root of every error that crosses the platform layer. The engine's own
// error is not one (it is the public API's, a std::exception); it carries a
// platform error as its underlying cause.
class Error : public std::exception {
public:
  // The human-readable text the platform attaches to the error.
  virtual std::string localizedDescription() const = 0;
  const char* what() const noexcept override;

private:
  mutable std::string whatText_;
};

using ErrorRef = std::shared_ptr<const Error>;

// An error produced by a platform service: a domain, a code and a text a user
// can act on ("Could not open X display \":7\"").
class SystemError final : public Error {
public:
  SystemError(std::string domain, std::int64_t code, std::string description);

  const std::string& domain() const { return domain_; }
  std::int64_t code() const { return code_; }
  std::string localizedDescription() const override { return description_; }

private:
  std::string domain_;
  std::int64_t code_;
  std::string description_;
};

// Error domains and the codes callers test for.
namespace ErrorDomain {
inline constexpr const char* screenCapture = "ScreenCapture";
inline constexpr const char* mediaCapture = "MediaCapture";
inline constexpr const char* mediaWriting = "MediaWriting";
inline constexpr const char* system = "System";
} // namespace ErrorDomain

// The screen-capture codes reported when the user has declined screen
// capture, when the captured window or display is gone, and when the
// connection to the display server is lost.
inline constexpr std::int64_t userDeclinedScreenCaptureCode = -3801;
inline constexpr std::int64_t captureSourceGoneCode = -3815;
inline constexpr std::int64_t displayConnectionLostCode = -3804;

// Media-capture codes are the audio server's own error numbers; these tell
// that the server is gone, or the device.
namespace MediaCaptureCode {
inline constexpr std::int64_t noSuchDevice = 5;          // no such entity
inline constexpr std::int64_t connectionRefused = 6;     // the server cannot be reached
inline constexpr std::int64_t timeout = 8;               // the server stopped answering
inline constexpr std::int64_t connectionTerminated = 11; // the connection broke
inline constexpr std::int64_t deviceKilled = 12;         // the device's stream was ended
} // namespace MediaCaptureCode

// Media-writing codes are errno values, or FFmpeg's negated ones.

ErrorRef makeError(std::string domain, std::int64_t code, std::string description);

// The description of any error, also of one that does not derive from Error.
std::string describe(const std::exception& error);

} // namespace Platform

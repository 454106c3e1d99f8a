#include "permissions.h"

#include "Platform/Dispatch.h"
#include "Platform/Platform.h"

#include <cctype>

namespace TCC {

std::string rawValue(TCCStatus status) {
  switch (status) {
  case TCCStatus::authorized:
    return "Authorized";
  case TCCStatus::denied:
    return "Denied";
  case TCCStatus::restricted:
    return "Restricted";
  case TCCStatus::notDetermined:
    return "Not determined";
  }
  return "Restricted";
}

std::optional<TCCStatus> fromRawValue(std::string_view text) {
  for (const TCCStatus status : {TCCStatus::authorized, TCCStatus::denied, TCCStatus::restricted,
                                 TCCStatus::notDetermined}) {
    if (text == rawValue(status)) {
      return status;
    }
  }
  return std::nullopt;
}

std::string caseName(TCCStatus status) {
  switch (status) {
  case TCCStatus::authorized:
    return "authorized";
  case TCCStatus::denied:
    return "denied";
  case TCCStatus::restricted:
    return "restricted";
  case TCCStatus::notDetermined:
    return "notDetermined";
  }
  return "restricted";
}

} // namespace TCC

namespace Permissions {

namespace {

void openSettingsLink(std::string_view link) {
  if (!formsURL(link)) {
    return;
  }
  // Whether a settings page opened is not the caller's concern.
  static_cast<void>(Platform::system().openURL(std::string(link)));
}

} // namespace

TCCStatus isMicrophoneAllowed() {
  switch (Platform::system().microphoneAuthorizationStatus()) {
  case 0:
    return TCCStatus::notDetermined;
  case 1:
    return TCCStatus::restricted;
  case 2:
    return TCCStatus::denied;
  case 3:
    return TCCStatus::authorized;
  default:
    return TCCStatus::restricted;
  }
}

bool requestMicrophoneAccess() {
  auto answer = std::make_shared<Platform::OneShot<bool>>();
  Platform::system().requestMicrophoneAccess([answer](bool granted) { answer->complete(granted); });
  return answer->wait();
}

void openMicrophoneSettings() {
  openSettingsLink(Platform::microphoneSettingsLink);
}

bool isScreenRecordingAllowed() {
  return Platform::system().preflightScreenCaptureAccess();
}

bool requestScreenRecordingAccess() {
  return Platform::system().requestScreenCaptureAccess();
}

void openScreenRecordingSettings() {
  openSettingsLink(Platform::screenRecordingSettingsLink);
}

bool formsURL(std::string_view text) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 ||
      !std::isalpha(static_cast<unsigned char>(text.front()))) {
    return false;
  }
  for (const char c : text.substr(0, colon)) {
    const auto u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '+' && c != '-' && c != '.') {
      return false;
    }
  }
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f) {
      return false;
    }
  }
  return true;
}

} // namespace Permissions

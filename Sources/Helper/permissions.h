#pragma once

#include <optional>
#include <string>
#include <string_view>

// The microphone and screen-recording permissions, and the settings pages
// where the user changes them.

enum class TCCStatus { authorized, denied, restricted, notDetermined };

namespace TCC {
// The raw value ("Authorized", "Denied", "Restricted", "Not determined").
std::string rawValue(TCCStatus status);
// Exactly one of the four raw values, case-sensitive; nothing otherwise.
std::optional<TCCStatus> fromRawValue(std::string_view rawValue);
// The case name, which is what the helper prints ("notDetermined").
std::string caseName(TCCStatus status);
} // namespace TCC

namespace Permissions {

TCCStatus isMicrophoneAllowed();
// Blocks until the platform has answered.
bool requestMicrophoneAccess();
void openMicrophoneSettings();
bool isScreenRecordingAllowed();
bool requestScreenRecordingAccess();
void openScreenRecordingSettings();

// Whether text forms a URL: a scheme (a letter, then letters, digits, "+",
// "-" or ".") followed by a colon, and no blank or control character.
bool formsURL(std::string_view text);

} // namespace Permissions

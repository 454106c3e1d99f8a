#pragma once

#include <optional>
#include <string>
#include <string_view>

// Window titles come from other programs and may be in any state: these turn
// the raw property bytes into valid UTF-8. Pure functions, any thread.

namespace Platform::Linux::X11 {

// How a text property's bytes are encoded, from the property's type atom.
enum class TextEncoding {
  utf8,     // UTF8_STRING
  latin1,   // STRING: ISO 8859-1 by definition
  compound, // COMPOUND_TEXT: Latin-1 in its initial state; escapes are dropped
  other,    // any other type: not text we can read
};

struct TextProperty {
  TextEncoding encoding = TextEncoding::other;
  std::string bytes;
};

// Latin-1 to UTF-8; every byte is a code point.
std::string latin1ToUtf8(std::string_view text);

// Valid UTF-8 with every invalid sequence (stray continuation bytes, truncated
// or overlong sequences, surrogates, code points past U+10FFFF) replaced by
// U+FFFD.
std::string repairUtf8(std::string_view text);

// Readable text of a property: stops at the first NUL (the C string the
// client meant), decodes by encoding; absent for an unreadable type.
std::optional<std::string> decodeText(const TextProperty& property);

// A window's title: _NET_WM_NAME when it is readable, else WM_NAME; absent
// when neither is set.
std::optional<std::string> decodeTitle(const std::optional<TextProperty>& netWmName,
                                       const std::optional<TextProperty>& wmName);

} // namespace Platform::Linux::X11

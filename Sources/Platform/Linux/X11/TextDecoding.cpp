#include "Platform/Linux/X11/TextDecoding.h"

#include <cstdint>

namespace Platform::Linux::X11 {

namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

void appendCodePoint(std::string& out, std::uint32_t codePoint) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

bool isContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// The length of the valid sequence starting at `text[at]`, or 0 when the bytes
// there do not start one.
std::size_t validSequenceLength(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  std::uint32_t codePoint = 0;
  std::uint32_t minimum = 0;
  if (lead < 0x80) {
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    codePoint = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    codePoint = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    codePoint = lead & 0x07;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < length) {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[at + i]);
    if (!isContinuation(byte)) {
      return 0;
    }
    codePoint = (codePoint << 6) | (byte & 0x3F);
  }
  const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  if (codePoint < minimum || codePoint > 0x10FFFF || surrogate) {
    return 0;
  }
  return length;
}

std::string_view untilNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

// Compound text starts in Latin-1; its escape sequences switch character
// sets we do not decode, so they are skipped and the rest read as Latin-1.
std::string compoundToUtf8(std::string_view text) {
  std::string latin1;
  latin1.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\x1B') {
      latin1.push_back(text[i]);
      continue;
    }
    // ESC, intermediate bytes 0x20-0x2F, one final byte 0x30-0x7E.
    ++i;
    while (i < text.size() && text[i] >= 0x20 && text[i] <= 0x2F) {
      ++i;
    }
  }
  return latin1ToUtf8(latin1);
}

} // namespace

std::string latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (const char byte : text) {
    appendCodePoint(out, static_cast<unsigned char>(byte));
  }
  return out;
}

std::string repairUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t length = validSequenceLength(text, at);
    if (length == 0) {
      out.append(replacementCharacter);
      // One replacement for the bad lead byte and the continuation bytes after it.
      ++at;
      while (at < text.size() && isContinuation(static_cast<unsigned char>(text[at]))) {
        ++at;
      }
      continue;
    }
    out.append(text.substr(at, length));
    at += length;
  }
  return out;
}

std::optional<std::string> decodeText(const TextProperty& property) {
  const std::string_view text = untilNul(property.bytes);
  switch (property.encoding) {
  case TextEncoding::utf8:
    return repairUtf8(text);
  case TextEncoding::latin1:
    return latin1ToUtf8(text);
  case TextEncoding::compound:
    return compoundToUtf8(text);
  case TextEncoding::other:
    break;
  }
  return std::nullopt;
}

std::optional<std::string> decodeTitle(const std::optional<TextProperty>& netWmName,
                                       const std::optional<TextProperty>& wmName) {
  if (netWmName) {
    if (auto title = decodeText(*netWmName)) {
      return title;
    }
  }
  if (wmName) {
    return decodeText(*wmName);
  }
  return std::nullopt;
}

} // namespace Platform::Linux::X11

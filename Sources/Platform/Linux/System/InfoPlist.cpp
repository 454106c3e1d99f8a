#include "Platform/Linux/System/InfoPlist.h"

#include <cstdint>

namespace Platform::Linux::System {

namespace {

struct Tag {
  std::string_view name;
  bool closing = false;
  bool selfClosing = false;
};

// A forward-only reader of the little XML a property list uses. Every
// operation fails (returns false or nothing) rather than read past the end.
class Reader {
public:
  explicit Reader(std::string_view text) : text_(text) {}

  // Skips white space, comments, processing instructions and the doctype.
  bool skipMisc() {
    for (;;) {
      while (position_ < text_.size() && isSpace(text_[position_])) {
        ++position_;
      }
      const std::string_view rest = text_.substr(position_);
      std::string_view end;
      if (rest.starts_with("<?")) {
        end = "?>";
      } else if (rest.starts_with("<!--")) {
        end = "-->";
      } else if (rest.starts_with("<!DOCTYPE")) {
        end = ">";
      } else {
        return true;
      }
      const auto found = text_.find(end, position_ + 2);
      if (found == std::string_view::npos) {
        return false;
      }
      position_ = found + end.size();
    }
  }

  std::optional<Tag> readTag() {
    if (!skipMisc() || position_ >= text_.size() || text_[position_] != '<') {
      return std::nullopt;
    }
    Tag tag;
    std::size_t cursor = position_ + 1;
    if (cursor < text_.size() && text_[cursor] == '/') {
      tag.closing = true;
      ++cursor;
    }
    const std::size_t nameStart = cursor;
    while (cursor < text_.size() && !isSpace(text_[cursor]) && text_[cursor] != '/' &&
           text_[cursor] != '>') {
      ++cursor;
    }
    tag.name = text_.substr(nameStart, cursor - nameStart);
    // Attributes may hold '>' inside quotes.
    char quote = 0;
    for (; cursor < text_.size(); ++cursor) {
      const char c = text_[cursor];
      if (quote != 0) {
        quote = c == quote ? 0 : quote;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        break;
      }
    }
    if (cursor >= text_.size() || tag.name.empty()) {
      return std::nullopt;
    }
    tag.selfClosing = text_[cursor - 1] == '/';
    position_ = cursor + 1;
    return tag;
  }

  bool expectOpen(std::string_view name) {
    const auto tag = readTag();
    return tag && !tag->closing && !tag->selfClosing && tag->name == name;
  }

  // Character data up to the next tag, decoded; CDATA sections and comments
  // inside are allowed.
  std::optional<std::string> readText() {
    std::string decoded;
    while (position_ < text_.size()) {
      const std::string_view rest = text_.substr(position_);
      if (rest.starts_with("<![CDATA[")) {
        const auto end = text_.find("]]>", position_ + 9);
        if (end == std::string_view::npos) {
          return std::nullopt;
        }
        decoded.append(text_.substr(position_ + 9, end - position_ - 9));
        position_ = end + 3;
      } else if (rest.starts_with("<!--")) {
        const auto end = text_.find("-->", position_ + 4);
        if (end == std::string_view::npos) {
          return std::nullopt;
        }
        position_ = end + 3;
      } else if (rest.front() == '<') {
        return decoded;
      } else if (rest.front() == '&') {
        if (!decodeEntity(decoded)) {
          return std::nullopt;
        }
      } else {
        decoded.push_back(rest.front());
        ++position_;
      }
    }
    return std::nullopt;
  }

  // <name>text</name>, the opening tag already read.
  std::optional<std::string> readTextElement(std::string_view name) {
    auto text = readText();
    const auto close = readTag();
    if (!text || !close || !close->closing || close->name != name) {
      return std::nullopt;
    }
    return text;
  }

  // Skips the content of an element whose opening tag was just read.
  bool skipElement(std::string_view name) {
    int depth = 1;
    while (depth > 0) {
      if (!readText()) {
        return false;
      }
      const auto tag = readTag();
      if (!tag) {
        return false;
      }
      if (tag->closing) {
        --depth;
        if (depth == 0 && tag->name != name) {
          return false;
        }
      } else if (!tag->selfClosing) {
        ++depth;
      }
    }
    return true;
  }

private:
  static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

  bool decodeEntity(std::string& out) {
    const auto end = text_.find(';', position_);
    if (end == std::string_view::npos || end - position_ > 12) {
      return false;
    }
    const std::string_view entity = text_.substr(position_ + 1, end - position_ - 1);
    position_ = end + 1;
    if (entity == "amp") {
      out.push_back('&');
    } else if (entity == "lt") {
      out.push_back('<');
    } else if (entity == "gt") {
      out.push_back('>');
    } else if (entity == "quot") {
      out.push_back('"');
    } else if (entity == "apos") {
      out.push_back('\'');
    } else if (entity.starts_with("#")) {
      return appendCodePoint(entity.substr(1), out);
    } else {
      return false;
    }
    return true;
  }

  static bool appendCodePoint(std::string_view digits, std::string& out) {
    int base = 10;
    if (digits.starts_with("x")) {
      base = 16;
      digits.remove_prefix(1);
    }
    if (digits.empty()) {
      return false;
    }
    std::uint32_t code = 0;
    for (const char c : digits) {
      int digit = -1;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (base == 16 && c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (base == 16 && c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      }
      if (digit < 0) {
        return false;
      }
      code = code * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
      if (code > 0x10FFFF) {
        return false;
      }
    }
    if (code == 0 || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
    return true;
  }

  std::string_view text_;
  std::size_t position_ = 0;
};

} // namespace

std::optional<std::string> bundleIdentifierFromPlist(std::string_view document) {
  Reader reader(document);
  if (!reader.expectOpen("plist") || !reader.expectOpen("dict")) {
    return std::nullopt;
  }
  for (;;) {
    const auto keyTag = reader.readTag();
    if (!keyTag || keyTag->closing || keyTag->selfClosing || keyTag->name != "key") {
      // The end of the dictionary, or something that is not a key.
      return std::nullopt;
    }
    const auto key = reader.readTextElement("key");
    const auto value = key ? reader.readTag() : std::nullopt;
    if (!value || value->closing) {
      return std::nullopt;
    }
    if (*key == "CFBundleIdentifier") {
      if (value->selfClosing || value->name != "string") {
        return std::nullopt;
      }
      auto identifier = reader.readTextElement("string");
      if (!identifier || identifier->empty()) {
        return std::nullopt;
      }
      return identifier;
    }
    if (!value->selfClosing && !reader.skipElement(value->name)) {
      return std::nullopt;
    }
  }
}

} // namespace Platform::Linux::System

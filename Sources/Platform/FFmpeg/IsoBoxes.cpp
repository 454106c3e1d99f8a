#include "Platform/FFmpeg/IsoBoxes.h"

#include <limits>

namespace Platform::FFmpeg {

std::string boxTypeName(std::uint32_t type) {
  std::string name;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto character = static_cast<char>((type >> shift) & 0xff);
    name += (character >= 0x20 && character < 0x7f) ? character : '?';
  }
  return name;
}

std::uint64_t ByteReader::unsignedValue(std::size_t width) {
  std::uint64_t value = 0;
  for (const std::uint8_t byte : take(width)) {
    value = (value << 8) | byte;
  }
  return value;
}

std::uint8_t ByteReader::u8() {
  return static_cast<std::uint8_t>(unsignedValue(1));
}

std::uint16_t ByteReader::u16() {
  return static_cast<std::uint16_t>(unsignedValue(2));
}

std::uint32_t ByteReader::u32() {
  return static_cast<std::uint32_t>(unsignedValue(4));
}

std::uint64_t ByteReader::u64() {
  return unsignedValue(8);
}

Bytes ByteReader::take(std::size_t count) {
  if (count > remaining()) {
    throw MalformedMovie("a box ends inside one of its fields");
  }
  const Bytes taken = bytes_.subspan(position_, count);
  position_ += count;
  return taken;
}

BoxHeader readBoxHeader(Bytes bytes, std::uint64_t available) {
  ByteReader reader(bytes);
  if (bytes.size() < 8 || available < 8) {
    throw MalformedMovie("the file ends inside a box header");
  }
  BoxHeader header;
  header.size = reader.u32();
  header.type = reader.u32();
  header.headerSize = 8;
  if (header.size == 1) {
    if (bytes.size() < 16 || available < 16) {
      throw MalformedMovie("the file ends inside a box header");
    }
    header.size = reader.u64();
    header.headerSize = 16;
  }
  if (header.size < header.headerSize) {
    throw MalformedMovie("the box '" + boxTypeName(header.type) + "' has an impossible size");
  }
  if (header.size > available) {
    throw MalformedMovie("the box '" + boxTypeName(header.type) +
                         "' runs past the end of its container");
  }
  return header;
}

std::vector<Box> readBoxes(Bytes bytes) {
  std::vector<Box> boxes;
  std::size_t position = 0;
  while (position < bytes.size()) {
    const Bytes rest = bytes.subspan(position);
    const BoxHeader header = readBoxHeader(rest, rest.size());
    const auto size = static_cast<std::size_t>(header.size);
    boxes.push_back(
        {header.type, rest.first(size), rest.subspan(header.headerSize, size - header.headerSize)});
    position += size;
  }
  return boxes;
}

const Box* findBox(const std::vector<Box>& boxes, std::uint32_t type) {
  for (const Box& box : boxes) {
    if (box.type == type) {
      return &box;
    }
  }
  return nullptr;
}

const Box& requireBox(const std::vector<Box>& boxes, std::uint32_t type, const char* where) {
  const Box* box = findBox(boxes, type);
  if (box == nullptr) {
    throw MalformedMovie(std::string("'") + where + "' has no '" + boxTypeName(type) + "' box");
  }
  return *box;
}

void BoxWriter::begin(std::uint32_t type) {
  openBoxes_.push_back(bytes_.size());
  u32(0);
  u32(type);
}

void BoxWriter::beginFull(std::uint32_t type, std::uint8_t version, std::uint32_t flags) {
  begin(type);
  u32((static_cast<std::uint32_t>(version) << 24) | (flags & 0xffffff));
}

void BoxWriter::end() {
  const std::size_t start = openBoxes_.back();
  openBoxes_.pop_back();
  const std::size_t size = bytes_.size() - start;
  if (size > std::numeric_limits<std::uint32_t>::max()) {
    throw MalformedMovie("an index box would exceed 4 GiB");
  }
  for (int i = 0; i < 4; ++i) {
    bytes_[start + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
  }
}

std::vector<std::uint8_t> BoxWriter::take() {
  return std::move(bytes_);
}

void BoxWriter::put(std::uint64_t value, int width) {
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) {
    bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

} // namespace Platform::FFmpeg

#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

// Reading and writing ISO base media boxes in memory. A file on disk may be
// torn or damaged, so every read is bounded: a box that does not fit its
// parent, or a field past the end of its box, is a MalformedMovie error,
// never a read out of bounds.

namespace Platform::FFmpeg {

using Bytes = std::span<const std::uint8_t>;

class MalformedMovie : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

constexpr std::uint32_t boxType(const char (&code)[5]) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

std::string boxTypeName(std::uint32_t type);

// Big-endian fields read one after the other from a bounded range.
class ByteReader {
public:
  explicit ByteReader(Bytes bytes) : bytes_(bytes) {}

  std::uint8_t u8();
  std::uint16_t u16();
  std::uint32_t u32();
  std::uint64_t u64();
  Bytes take(std::size_t count);
  void skip(std::size_t count) { take(count); }
  std::size_t remaining() const { return bytes_.size() - position_; }

private:
  std::uint64_t unsignedValue(std::size_t width);

  Bytes bytes_;
  std::size_t position_ = 0;
};

struct BoxHeader {
  std::uint32_t type = 0;
  std::uint64_t size = 0; // header included
  std::uint32_t headerSize = 0;
};

// The header at the start of `bytes` (8 or 16 bytes), for a box that may
// extend over at most `available` bytes. Boxes that run "to the end" (size
// 0) are refused: nothing here writes them, and a torn file could fake one.
BoxHeader readBoxHeader(Bytes bytes, std::uint64_t available);

struct Box {
  std::uint32_t type = 0;
  Bytes whole;   // header and payload
  Bytes payload; // after the header
};

// The boxes that exactly fill `bytes`.
std::vector<Box> readBoxes(Bytes bytes);
// The first box of `type`, or null.
const Box* findBox(const std::vector<Box>& boxes, std::uint32_t type);
// Like findBox, but a missing box is a MalformedMovie error naming `where`.
const Box& requireBox(const std::vector<Box>& boxes, std::uint32_t type, const char* where);

// Builds boxes into a byte vector; sizes are filled in when a box is ended.
class BoxWriter {
public:
  void begin(std::uint32_t type);
  void beginFull(std::uint32_t type, std::uint8_t version, std::uint32_t flags);
  void end();

  void u8(std::uint8_t value) { bytes_.push_back(value); }
  void u16(std::uint16_t value) { put(value, 2); }
  void u32(std::uint32_t value) { put(value, 4); }
  void u64(std::uint64_t value) { put(value, 8); }
  void append(Bytes bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }

  std::vector<std::uint8_t> take();

private:
  void put(std::uint64_t value, int width);

  std::vector<std::uint8_t> bytes_;
  std::vector<std::size_t> openBoxes_;
};

} // namespace Platform::FFmpeg

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Thread contract: a value type; a frame's memory is written by its maker
// before the frame is shared, and only read after.

namespace Platform {

// A frame's pixel memory: bytes of its own, or memory lent by whoever made
// the frame (a shared segment the X server drew into, passed on without a
// copy), which `keeper` holds until the frame is gone. A copy always owns
// its bytes.
class PixelMemory {
public:
  PixelMemory() = default;
  PixelMemory(std::vector<std::uint8_t> bytes); // NOLINT: bytes are pixel memory
  PixelMemory(std::uint8_t* data, std::size_t size, std::shared_ptr<void> keeper);
  PixelMemory(const PixelMemory& other);
  PixelMemory(PixelMemory&& other) noexcept;
  PixelMemory& operator=(PixelMemory other) noexcept;
  ~PixelMemory() = default;

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  // Owned bytes, zero-filled where they grow; lent memory becomes owned.
  void resize(std::size_t size);

private:
  void swap(PixelMemory& other) noexcept;

  std::vector<std::uint8_t> owned_;
  std::shared_ptr<void> keeper_;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

} // namespace Platform

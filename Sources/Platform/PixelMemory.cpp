#include "Platform/PixelMemory.h"

#include <utility>

namespace Platform {

PixelMemory::PixelMemory(std::vector<std::uint8_t> bytes)
    : owned_(std::move(bytes)), data_(owned_.data()), size_(owned_.size()) {}

PixelMemory::PixelMemory(std::uint8_t* data, std::size_t size, std::shared_ptr<void> keeper)
    : keeper_(std::move(keeper)), data_(data), size_(size) {}

PixelMemory::PixelMemory(const PixelMemory& other)
    : PixelMemory(std::vector<std::uint8_t>(other.data_, other.data_ + other.size_)) {}

PixelMemory::PixelMemory(PixelMemory&& other) noexcept {
  swap(other);
}

PixelMemory& PixelMemory::operator=(PixelMemory other) noexcept {
  swap(other);
  return *this;
}

void PixelMemory::swap(PixelMemory& other) noexcept {
  // A moved vector keeps its memory, so data_ stays valid for owned bytes.
  std::swap(owned_, other.owned_);
  std::swap(keeper_, other.keeper_);
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
}

void PixelMemory::resize(std::size_t size) {
  if (keeper_) {
    *this = PixelMemory(std::vector<std::uint8_t>(data_, data_ + std::min(size, size_)));
  }
  owned_.resize(size);
  data_ = owned_.data();
  size_ = owned_.size();
}

} // namespace Platform

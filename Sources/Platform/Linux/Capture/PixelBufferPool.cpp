#include "Platform/Linux/Capture/PixelBufferPool.h"

#include <algorithm>

namespace Platform::Linux::Capture {

std::shared_ptr<PixelBufferPool> PixelBufferPool::make(std::size_t capacity) {
  return std::make_shared<PixelBufferPool>(capacity);
}

std::shared_ptr<PixelBuffer> PixelBufferPool::acquire(std::uint32_t pixelFormat, std::int32_t width,
                                                      std::int32_t height) {
  const std::size_t bytesPerRow = static_cast<std::size_t>(width) * 4;
  const std::size_t size = bytesPerRow * static_cast<std::size_t>(height);
  std::unique_ptr<PixelBuffer> buffer;
  {
    Lock lock(mutex_);
    const auto match = std::find_if(free_.begin(), free_.end(), [&](const auto& candidate) {
      return candidate->pixelFormat == pixelFormat && candidate->width == width &&
             candidate->height == height;
    });
    if (match != free_.end()) {
      buffer = std::move(*match);
      free_.erase(match);
    }
  }
  if (!buffer) {
    buffer = std::make_unique<PixelBuffer>();
    buffer->pixelFormat = pixelFormat;
    buffer->width = width;
    buffer->height = height;
    buffer->bytesPerRow = bytesPerRow;
    buffer->bytes.resize(size);
  }
  std::weak_ptr<PixelBufferPool> pool = weak_from_this();
  return std::shared_ptr<PixelBuffer>(buffer.release(), [pool](PixelBuffer* released) {
    std::unique_ptr<PixelBuffer> owned(released);
    if (const auto alive = pool.lock()) {
      alive->giveBack(std::move(owned));
    }
  });
}

std::size_t PixelBufferPool::freeCount() const {
  Lock lock(mutex_);
  return free_.size();
}

void PixelBufferPool::giveBack(std::unique_ptr<PixelBuffer> buffer) {
  Lock lock(mutex_);
  if (free_.size() >= capacity_) {
    // Keep the newest sizes: a resized stream no longer needs the old ones.
    free_.erase(free_.begin());
  }
  free_.push_back(std::move(buffer));
}

} // namespace Platform::Linux::Capture

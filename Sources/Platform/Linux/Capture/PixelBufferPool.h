#pragma once

#include "Platform/SampleBuffer.h"
#include "Platform/ThreadSafety.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// A few frame-sized pixel buffers kept for reuse, so a stream does not
// allocate (and the kernel zero) megabytes for every frame. A buffer goes back
// to the pool when its last reference, wherever it is, is released. Any
// thread; buffers may outlive the pool.

namespace Platform::Linux::Capture {

class PixelBufferPool : public std::enable_shared_from_this<PixelBufferPool> {
public:
  // Keeps at most `capacity` released buffers.
  static std::shared_ptr<PixelBufferPool> make(std::size_t capacity);

  // A buffer of this size and format (four bytes a pixel, rows unpadded),
  // reused when one is free. Its pixels are whatever the last user left.
  std::shared_ptr<PixelBuffer> acquire(std::uint32_t pixelFormat, std::int32_t width,
                                       std::int32_t height);

  std::size_t freeCount() const;

  explicit PixelBufferPool(std::size_t capacity) : capacity_(capacity) {}

private:
  void giveBack(std::unique_ptr<PixelBuffer> buffer);

  const std::size_t capacity_;
  mutable Mutex mutex_;
  std::vector<std::unique_ptr<PixelBuffer>> free_ GUARDED_BY(mutex_);
};

} // namespace Platform::Linux::Capture

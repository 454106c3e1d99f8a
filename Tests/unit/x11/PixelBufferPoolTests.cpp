#include "Platform/Linux/X11/PixelBufferPool.h"

#include <gtest/gtest.h>

namespace Platform::Linux::X11 {
namespace {

TEST(PixelBufferPool, ReleasedBufferIsReusedForTheSameSizeOnly) {
  const auto pool = PixelBufferPool::make(2);
  auto first = pool->acquire(kCVPixelFormatType_32BGRA, 64, 32);
  ASSERT_EQ(first->bytes.size(), 64U * 32 * 4);
  EXPECT_EQ(first->bytesPerRow, 256U);
  const std::uint8_t* memory = first->bytes.data();
  first.reset();
  EXPECT_EQ(pool->freeCount(), 1U);

  const auto otherSize = pool->acquire(kCVPixelFormatType_32BGRA, 32, 32);
  const auto otherFormat = pool->acquire(kCVPixelFormatType_ARGB2101010LEPacked, 64, 32);
  EXPECT_NE(otherSize->bytes.data(), memory);
  EXPECT_NE(otherFormat->bytes.data(), memory);
  const auto again = pool->acquire(kCVPixelFormatType_32BGRA, 64, 32);
  EXPECT_EQ(again->bytes.data(), memory);
  EXPECT_EQ(pool->freeCount(), 0U);
}

TEST(PixelBufferPool, KeepsAtMostItsCapacity) {
  const auto pool = PixelBufferPool::make(2);
  {
    auto a = pool->acquire(kCVPixelFormatType_32BGRA, 8, 8);
    auto b = pool->acquire(kCVPixelFormatType_32BGRA, 8, 8);
    auto c = pool->acquire(kCVPixelFormatType_32BGRA, 8, 8);
  }
  EXPECT_EQ(pool->freeCount(), 2U);
}

TEST(PixelBufferPool, BufferMayOutliveThePool) {
  auto pool = PixelBufferPool::make(1);
  std::shared_ptr<const PixelBuffer> held = pool->acquire(kCVPixelFormatType_32BGRA, 4, 4);
  pool.reset();
  EXPECT_EQ(held->width, 4);
  held.reset(); // freed, not returned: must not touch the dead pool
}

} // namespace
} // namespace Platform::Linux::X11

#include "Platform/Linux/Capture/PixelBufferPool.h"

#include <gtest/gtest.h>

namespace Platform::Linux::Capture {
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

// A frame made of memory the X server drew into holds that memory until the
// frame is gone; a copy of such a frame has bytes of its own.
TEST(PixelMemory, LentMemoryLivesWithTheFrameAndCopiesOwnTheirBytes) {
  std::vector<std::uint8_t> segment{1, 2, 3, 4};
  auto returned = std::make_shared<bool>(false);
  std::shared_ptr<void> lease(segment.data(), [returned](void*) { *returned = true; });
  auto frame = std::make_unique<PixelBuffer>();
  frame->bytes = PixelMemory(segment.data(), segment.size(), std::move(lease));
  EXPECT_EQ(frame->bytes.data(), segment.data());

  PixelBuffer copy = *frame;
  copy.bytes.data()[0] = 9;
  EXPECT_NE(copy.bytes.data(), segment.data());
  EXPECT_EQ(segment[0], 1);
  PixelMemory moved = std::move(frame->bytes);
  frame.reset();
  EXPECT_FALSE(*returned) << "the memory went back while still in use";
  EXPECT_EQ(moved.data()[3], 4);
  moved.resize(2); // owned from here on
  EXPECT_TRUE(*returned);
  EXPECT_EQ(moved.size(), 2U);
  EXPECT_EQ(moved.data()[1], 2);
}

} // namespace
} // namespace Platform::Linux::Capture

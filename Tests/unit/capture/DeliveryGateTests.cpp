#include "Platform/DeliveryGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace Platform::Linux::Capture {
namespace {

using namespace std::chrono_literals;

TEST(DeliveryGate, WorkQueuedBeforeCloseDoesNotDeliver) {
  const auto gate = std::make_shared<DeliveryGate>();
  int delivered = 0;
  auto first = gate->wrap([&] { ++delivered; });
  auto second = gate->wrap([&] { ++delivered; });
  EXPECT_EQ(gate->outstanding(), 2U);

  first();
  gate->close();
  second();

  EXPECT_EQ(delivered, 1);
  EXPECT_EQ(gate->outstanding(), 0U);
}

TEST(DeliveryGate, CloseWaitsForTheRunningDelivery) {
  const auto gate = std::make_shared<DeliveryGate>();
  std::promise<void> entered;
  std::promise<void> release;
  std::atomic<bool> finished{false};
  auto work = gate->wrap([&] {
    entered.set_value();
    release.get_future().wait();
    finished = true;
  });
  std::thread deliverer(work);
  entered.get_future().wait();

  auto closing = std::async(std::launch::async, [&] { gate->close(); });
  EXPECT_EQ(closing.wait_for(100ms), std::future_status::timeout);
  release.set_value();
  closing.get();

  EXPECT_TRUE(finished);
  deliverer.join();
}

TEST(DeliveryGate, ClosingFromInsideADeliveryDoesNotWaitForItself) {
  const auto gate = std::make_shared<DeliveryGate>();
  auto work = gate->wrap([&] { gate->close(); });
  auto running = std::async(std::launch::async, work);
  ASSERT_EQ(running.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(gate->isOpen());
}

TEST(DeliveryGate, AThrowingOutputDoesNotBlockClose) {
  const auto gate = std::make_shared<DeliveryGate>();
  auto work = gate->wrap([] { throw std::runtime_error("output failed"); });
  EXPECT_THROW(work(), std::runtime_error);
  auto closing = std::async(std::launch::async, [&] { gate->close(); });
  EXPECT_EQ(closing.wait_for(5s), std::future_status::ready);
}

} // namespace
} // namespace Platform::Linux::Capture

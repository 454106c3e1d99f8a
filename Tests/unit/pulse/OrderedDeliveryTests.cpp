#include "Platform/Linux/Pulse/OrderedDelivery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace {

using Platform::Linux::Pulse::OrderedDelivery;

TEST(OrderedDelivery, RunsItemsInOrderOnOneOtherThreadAndDrainsOnClose) {
  std::vector<int> seen;
  std::vector<std::thread::id> threads;
  {
    OrderedDelivery delivery;
    for (int i = 0; i < 1000; ++i) {
      delivery.post([&seen, &threads, i] {
        seen.push_back(i);
        threads.push_back(std::this_thread::get_id());
      });
    }
    delivery.close();
    // Everything posted before close has run by the time it returns.
    ASSERT_EQ(seen.size(), 1000U);
    delivery.post([&seen] { seen.push_back(-1); });
  }
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(seen[static_cast<std::size_t>(i)], i);
  }
  EXPECT_NE(threads.front(), std::this_thread::get_id());
  EXPECT_EQ(std::count(threads.begin(), threads.end(), threads.front()), 1000);
}

TEST(OrderedDelivery, CloseFromInsideAnItemReturnsAndDropsTheRest) {
  auto delivery = std::make_shared<OrderedDelivery>();
  std::promise<void> released;
  auto gate = released.get_future().share();
  std::atomic<int> laterRuns{0};
  auto closedInside = std::make_shared<std::promise<void>>();
  auto closed = closedInside->get_future();

  delivery->post([&delivery, gate, closedInside] {
    gate.wait();
    delivery->close(); // must not wait for itself
    closedInside->set_value();
  });
  delivery->post([&laterRuns] { ++laterRuns; });
  released.set_value();

  ASSERT_EQ(closed.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  delivery.reset(); // destroying a closed delivery from another thread is fine
  EXPECT_EQ(laterRuns.load(), 0);
}

} // namespace

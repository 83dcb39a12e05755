#include "platform/CountingSemaphore.h"

#include <gtest/gtest.h>

#include <future>

namespace varnel {
namespace {

using namespace std::chrono_literals;

TEST(CountingSemaphoreTest, ReleaseAtTheMaximumLeavesTheCountThere) {
  CountingSemaphore gate(1, 1);
  gate.Release();
  gate.Release();
  EXPECT_EQ(gate.Count(), 1);
  EXPECT_TRUE(gate.TryAcquireFor(0ms));
  // Only one acquire was paid for, however many releases came.
  EXPECT_FALSE(gate.TryAcquireFor(0ms));
  EXPECT_EQ(gate.Count(), 0);
}

TEST(CountingSemaphoreTest, CountsUpToItsMaximum) {
  CountingSemaphore sem(0, 2);
  for (int i = 0; i < 5; ++i) sem.Release();
  EXPECT_EQ(sem.Count(), 2);
  EXPECT_TRUE(sem.TryAcquireFor(0ms));
  EXPECT_TRUE(sem.TryAcquireFor(0ms));
  EXPECT_FALSE(sem.TryAcquireFor(0ms));
}

TEST(CountingSemaphoreTest, AcquireWaitsForAReleaseOnAnotherThread) {
  CountingSemaphore gate(0, 1);
  std::promise<void> waiting;
  auto acquired = std::async(std::launch::async, [&] {
    waiting.set_value();
    gate.Acquire();
  });
  waiting.get_future().wait();
  gate.Release();
  ASSERT_EQ(acquired.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(gate.Count(), 0);
}

}  // namespace
}  // namespace varnel

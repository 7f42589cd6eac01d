#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>

#include <atomic>

using namespace dispatch;

namespace {

TEST(DispatchGroup, NotifyRunsOnceEveryBlockHasLeft) {
  DispatchGroup group;
  DispatchSemaphore gate(0);
  std::atomic<int> ran{0};
  for (int i = 0; i < 8; ++i) {
    group.async(DispatchQueue::global(), [&] {
      gate.wait();
      ++ran;
    });
  }
  std::atomic<int> seenByNotify{-1};
  group.notify(DispatchQueue::main(), [&] { seenByNotify = ran.load(); });
  MainLoop::drain();
  EXPECT_EQ(seenByNotify.load(), -1);
  EXPECT_FALSE(group.wait(0.01));
  for (int i = 0; i < 8; ++i) gate.signal();
  EXPECT_TRUE(MainLoop::runUntil([&] { return seenByNotify.load() >= 0; }, 30));
  EXPECT_EQ(seenByNotify.load(), 8);
}

TEST(DispatchGroup, NotifyOnAnEmptyGroupRunsAtOnce) {
  DispatchGroup group;
  bool ran = false;
  group.notify(DispatchQueue::main(), [&] { ran = true; });
  MainLoop::drain();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(group.wait(0.0));
}

TEST(DispatchGroupDeathTest, LeaveWithoutEnterAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(DispatchGroup().leave(), "leave without a matching enter");
}

TEST(DispatchSemaphore, CountsSignalsAndTimesOut) {
  DispatchSemaphore semaphore(1);
  EXPECT_TRUE(semaphore.wait(0.0));
  EXPECT_FALSE(semaphore.wait(0.01));
  semaphore.signal();
  semaphore.signal();
  EXPECT_TRUE(semaphore.wait(0.0));
  EXPECT_TRUE(semaphore.wait(0.0));
  EXPECT_FALSE(semaphore.wait(0.0));
}

TEST(DispatchSemaphore, WakesAWaiterOnAnotherQueue) {
  DispatchSemaphore semaphore(0);
  DispatchGroup group;
  std::atomic<bool> woke{false};
  group.async(DispatchQueue("test.waiter"), [&] { woke = semaphore.wait(30); });
  semaphore.signal();
  ASSERT_TRUE(group.wait(30));
  EXPECT_TRUE(woke);
}

}  // namespace

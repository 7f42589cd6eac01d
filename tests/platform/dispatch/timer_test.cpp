#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

using namespace dispatch;

namespace {

class ManualClock : public ::testing::Test {
 protected:
  void SetUp() override { clock::useManualClock(); }
  void TearDown() override { clock::useRealClock(); }
};

TEST_F(ManualClock, MainQueueTimersFireInDeadlineOrderOnlyAfterAdvance) {
  std::vector<std::string> fired;
  auto& main = DispatchQueue::main();
  const auto start = DispatchTime::now();
  main.asyncAfter(start + 3.0, [&] { fired.push_back("3"); });
  main.asyncAfter(start + 1.0, [&] { fired.push_back("1a"); });
  main.asyncAfter(start + 2.0, [&] { fired.push_back("2"); });
  main.asyncAfter(start + 1.0, [&] { fired.push_back("1b"); });
  main.asyncAfter(DispatchTime::distantFuture(), [&] { fired.push_back("never"); });

  MainLoop::drain();
  EXPECT_TRUE(fired.empty());
  clock::advance(1.5);
  MainLoop::drain();
  EXPECT_EQ(fired, (std::vector<std::string>{"1a", "1b"}));
  clock::advance(std::chrono::hours(24 * 365));
  MainLoop::drain();
  EXPECT_EQ(fired, (std::vector<std::string>{"1a", "1b", "2", "3"}));
  EXPECT_EQ(DispatchTime::now(), start + std::chrono::hours(24 * 365) + 1.5);
}

TEST_F(ManualClock, TimersOnOtherQueuesAreSubmittedInDeadlineOrder) {
  DispatchQueue queue("test.timers");
  std::vector<int> fired;  // touched only on the serial queue
  DispatchGroup group;
  const auto start = DispatchTime::now();
  for (int i : {5, 1, 4, 2, 3}) {
    group.enter();
    queue.asyncAfter(start + std::chrono::milliseconds(i), [&, i] {
      fired.push_back(i);
      group.leave();
    });
  }
  EXPECT_FALSE(group.wait(0.05));
  clock::advance(0.01);
  ASSERT_TRUE(group.wait(30));
  EXPECT_EQ(fired, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(ManualClock, AlreadyDueTimerFiresWithoutAdvance) {
  bool fired = false;
  DispatchQueue::main().asyncAfter(DispatchTime::now(), [&] { fired = true; });
  MainLoop::drain();
  EXPECT_TRUE(fired);
}

TEST(RealClock, RunUntilWakesForADueMainQueueTimer) {
  std::atomic<bool> fired{false};
  DispatchQueue::main().asyncAfter(DispatchTime::now() + 0.01, [&] { fired = isMainThread(); });
  EXPECT_TRUE(MainLoop::runUntil([&] { return fired.load(); }, 30));
}

}  // namespace

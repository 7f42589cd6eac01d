#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace dispatch;

namespace {

TEST(MainLoop, DrainRunsBlocksQueuedByBlocksInOrder) {
  std::vector<std::string> order;
  auto& main = DispatchQueue::main();
  main.async([&] {
    order.push_back("a");
    main.async([&] {
      order.push_back("c");
      main.async([&] { order.push_back("d"); });
    });
  });
  main.async([&] { order.push_back("b"); });
  MainLoop::drain();
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST(MainLoop, RunUntilReturnsFalseOnTimeout) {
  EXPECT_FALSE(MainLoop::runUntil([] { return false; }, 0.02));
}

TEST(MainLoop, SyncFromAWorkerRunsOnTheMainThreadWhenTheLoopTurns) {
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    DispatchQueue::main().sync([&] { ranOnMain = isMainThread(); });
    returned = true;
  });
  EXPECT_TRUE(MainLoop::runUntil([&] { return returned.load(); }, 30));
  worker.join();
  EXPECT_TRUE(ranOnMain);
}

TEST(MainLoop, RunReturnsAfterStopFromAnotherQueue) {
  std::atomic<int> ran{0};
  DispatchQueue::main().async([&] { ++ran; });
  DispatchQueue("test.stopper").async([&] {
    DispatchQueue::main().sync([&] { ++ran; });
    MainLoop::stop();
  });
  MainLoop::run();
  EXPECT_EQ(ran.load(), 2);
}

TEST(MainThread, WorkersAreNotTheMainThread) {
  EXPECT_TRUE(isMainThread());
  std::atomic<int> onMain{-1};
  DispatchGroup group;
  group.async(DispatchQueue("test.worker"), [&] { onMain = isMainThread(); });
  ASSERT_TRUE(group.wait(30));
  EXPECT_EQ(onMain.load(), 0);
  // sync runs the block on the calling thread, as the platform does.
  EXPECT_TRUE(DispatchQueue("test.worker").sync([] { return isMainThread(); }));
}

TEST(MainThreadDeathTest, AssertMainThreadFailsOffTheMainThread) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        DispatchQueue("test.worker").async([] { assertMainThread("UIView::setFrame"); });
        DispatchSemaphore(0).wait(30);
      },
      "UIView::setFrame called off the main thread");
}

}  // namespace

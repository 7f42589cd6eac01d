#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

using namespace dispatch;

namespace {

constexpr double kLimitSeconds = 30;

// Runs `producers` threads that each call submit(producer, n) for n in [0, perProducer).
template <class F>
void produce(int producers, int perProducer, F submit) {
  std::vector<std::thread> threads;
  for (int p = 0; p < producers; ++p) {
    threads.emplace_back([&, p] {
      for (int n = 0; n < perProducer; ++n) submit(p, n);
    });
  }
  for (auto& t : threads) t.join();
}

class QueueAtThreadCounts : public ::testing::TestWithParam<int> {};

TEST_P(QueueAtThreadCounts, SerialQueueKeepsEachProducersOrderAndRunsOneBlockAtATime) {
  const int producers = GetParam();
  constexpr int kPerProducer = 2000;
  DispatchQueue queue("test.serial");
  DispatchGroup group;
  std::vector<std::pair<int, int>> seen;  // touched only on the queue
  std::atomic<int> inFlight{0};
  std::atomic<bool> overlapped{false};
  produce(producers, kPerProducer, [&](int p, int n) {
    group.async(queue, [&, p, n] {
      if (inFlight.fetch_add(1) != 0) overlapped = true;
      seen.emplace_back(p, n);
      inFlight.fetch_sub(1);
    });
  });
  ASSERT_TRUE(group.wait(kLimitSeconds));
  EXPECT_FALSE(overlapped);
  ASSERT_EQ(seen.size(), static_cast<size_t>(producers * kPerProducer));
  std::vector<int> next(producers, 0);
  for (auto [p, n] : seen) ASSERT_EQ(n, next[p]++) << "producer " << p;
}

TEST_P(QueueAtThreadCounts, NothingIsLostOnAnyKindOfQueue) {
  const int producers = GetParam();
  constexpr int kPerProducer = 3000;
  DispatchQueue serial("test.serial");
  DispatchQueue concurrent("test.concurrent", {.concurrent = true});
  DispatchQueue global = DispatchQueue::global(DispatchQoS::utility);
  DispatchGroup group;
  std::atomic<int> ran{0};
  produce(producers, kPerProducer, [&](int, int n) {
    const DispatchQueue& target = n % 3 == 0 ? serial : n % 3 == 1 ? concurrent : global;
    group.async(target, [&] { ran.fetch_add(1); });
  });
  ASSERT_TRUE(group.wait(kLimitSeconds));
  EXPECT_EQ(ran.load(), producers * kPerProducer);
}

TEST_P(QueueAtThreadCounts, BarrierRunsAloneBetweenTheBlocksAroundIt) {
  const int producers = GetParam();
  constexpr int kRounds = 50;
  DispatchQueue queue("test.barrier", {.concurrent = true});
  std::atomic<int> inFlight{0};
  std::atomic<bool> faulty{false};
  std::mutex mutex;
  std::vector<int> finishedPerRound(kRounds, 0);
  DispatchGroup group;
  for (int round = 0; round < kRounds; ++round) {
    produce(producers, 4, [&](int, int) {
      group.async(queue, [&, round] {
        inFlight.fetch_add(1);
        std::this_thread::yield();
        inFlight.fetch_sub(1);
        std::lock_guard lock(mutex);
        ++finishedPerRound[round];
      });
    });
    group.enter();
    queue.async(
        [&, round] {
          if (inFlight.load() != 0) faulty = true;
          {
            std::lock_guard lock(mutex);
            if (finishedPerRound[round] != producers * 4) faulty = true;
            if (round > 0 && finishedPerRound[round - 1] != producers * 4 + 1) faulty = true;
            ++finishedPerRound[round];  // marks the barrier as done for the next round
          }
          inFlight.fetch_add(1);
          std::this_thread::yield();
          if (inFlight.load() != 1) faulty = true;
          inFlight.fetch_sub(1);
          group.leave();
        },
        DispatchWorkItemFlags::barrier);
  }
  ASSERT_TRUE(group.wait(kLimitSeconds));
  EXPECT_FALSE(faulty);
}

INSTANTIATE_TEST_SUITE_P(Producers, QueueAtThreadCounts, ::testing::Values(1, 2, 4, 8));

TEST(ConcurrentQueue, RunsBlocksInParallel) {
  constexpr int kWidth = 4;
  DispatchQueue queue("test.parallel", {.concurrent = true});
  std::atomic<int> arrived{0};
  DispatchSemaphore allArrived(0);
  DispatchGroup group;
  for (int i = 0; i < kWidth; ++i) {
    group.async(queue, [&] {
      if (arrived.fetch_add(1) + 1 == kWidth) {
        for (int n = 0; n < kWidth; ++n) allArrived.signal();
      }
      allArrived.wait(kLimitSeconds);  // only returns early if every block is running at once
    });
  }
  ASSERT_TRUE(group.wait(kLimitSeconds));
  EXPECT_EQ(arrived.load(), kWidth);
  EXPECT_FALSE(allArrived.wait(0.0)) << "signals left over: the blocks did not meet";
}

TEST(ThreadPool, GrowsWhenEveryWorkerIsBlocked) {
  // More blocked blocks than cores: the releasing block only runs if the pool grows.
  constexpr int kBlocked = 24;
  DispatchSemaphore gate(0);
  DispatchGroup group;
  auto global = DispatchQueue::global();
  for (int i = 0; i < kBlocked; ++i) group.async(global, [&] { gate.wait(); });
  DispatchQueue("test.releaser").async([&] {
    for (int i = 0; i < kBlocked; ++i) gate.signal();
  });
  EXPECT_TRUE(group.wait(kLimitSeconds));
}

TEST(SerialQueue, PendingBlocksStillRunAfterTheLastHandleGoes) {
  DispatchSemaphore gate(0);
  std::atomic<int> ran{0};
  DispatchGroup group;
  {
    DispatchQueue queue("test.dropped");
    group.async(queue, [&] { gate.wait(); });
    for (int i = 0; i < 100; ++i) group.async(queue, [&] { ran.fetch_add(1); });
  }
  gate.signal();
  ASSERT_TRUE(group.wait(kLimitSeconds));
  EXPECT_EQ(ran.load(), 100);
}

TEST(SerialQueue, SyncReturnsValuesAndNamesTheCurrentQueue) {
  DispatchQueue outer("test.outer");
  DispatchQueue inner("test.inner");
  auto labels = outer.sync([&] {
    auto innerLabel = inner.sync([] { return DispatchQueue::currentLabel(); });
    return std::make_pair(DispatchQueue::currentLabel(), innerLabel);
  });
  EXPECT_EQ(labels.first, "test.outer");
  EXPECT_EQ(labels.second, "test.inner");
  EXPECT_EQ(DispatchQueue::currentLabel(), std::nullopt);
}

TEST(Queues, SyncWaitsForEverythingQueuedBeforeIt) {
  DispatchQueue serial("test.serial");
  DispatchQueue concurrent("test.concurrent", {.concurrent = true});
  for (const auto& queue : {serial, concurrent}) {
    std::atomic<int> done{0};
    for (int i = 0; i < 200; ++i) {
      queue.async([&] {
        std::this_thread::yield();
        done.fetch_add(1);
      });
    }
    const int seen = queue.sync([&] { return done.load(); }, DispatchWorkItemFlags::barrier);
    EXPECT_EQ(seen, 200) << queue.label();
  }
}

using QueueDeathTest = ::testing::Test;

TEST(QueueDeathTest, SyncOntoTheCurrentSerialQueueAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        DispatchQueue queue("test.self");
        queue.sync([&] { queue.sync([] {}); });
      },
      "sync onto queue 'test.self'");
}

TEST(QueueDeathTest, SyncChainThatComesBackToItsStartAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        DispatchQueue a("test.a");
        DispatchQueue b("test.b");
        a.sync([&] { b.sync([&] { a.sync([] {}); }); });
      },
      "sync onto queue 'test.a'");
}

TEST(QueueDeathTest, SyncOntoTheMainQueueFromTheMainThreadAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(DispatchQueue::main().sync([] {}), "main queue 'main-thread'");
  EXPECT_DEATH(DispatchQueue("test.hop").sync([] { DispatchQueue::main().sync([] {}); }), "main queue");
}

TEST(QueueDeathTest, EscapingExceptionNamesTheQueue) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(DispatchQueue("test.throws").sync([] { throw std::runtime_error("boom"); }),
               "queue 'test.throws': boom");
}

}  // namespace

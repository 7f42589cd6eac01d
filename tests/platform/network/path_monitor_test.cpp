#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/network.h>

#include <memory>
#include <mutex>
#include <vector>

using namespace network;

namespace {

constexpr double kLimitSeconds = 30;

NWPath pathWith(NWPath::Status status) { return NWPath{status}; }

class PathMonitorTest : public ::testing::Test {
 protected:
  void TearDown() override { testhooks::injectPath(std::nullopt); }

  // Updates seen by a handler, checked to arrive on the monitor's queue.
  struct Recorder {
    std::mutex mutex;
    std::vector<NWPath::Status> statuses;
    bool offQueue = false;
    std::vector<NWPath::Status> snapshot() {
      std::lock_guard lock(mutex);
      return statuses;
    }
  };

  std::shared_ptr<Recorder> attach(NWPathMonitor& monitor) {
    auto recorder = std::make_shared<Recorder>();
    monitor.setPathUpdateHandler([recorder](const NWPath& path) {
      std::lock_guard lock(recorder->mutex);
      if (dispatch::DispatchQueue::currentLabel() != "test.monitor") recorder->offQueue = true;
      recorder->statuses.push_back(path.status);
    });
    return recorder;
  }

  dispatch::DispatchQueue queue_{"test.monitor"};
};

TEST_F(PathMonitorTest, DeliversTheCurrentPathThenEveryChangeOnItsQueue) {
  testhooks::injectPath(pathWith(NWPath::Status::satisfied));
  NWPathMonitor monitor;
  auto recorder = attach(monitor);
  monitor.start(queue_);
  testhooks::injectPath(pathWith(NWPath::Status::satisfied));  // no change: not delivered
  testhooks::injectPath(pathWith(NWPath::Status::unsatisfied));
  testhooks::injectPath(pathWith(NWPath::Status::satisfied));
  queue_.sync([] {});
  EXPECT_EQ(recorder->snapshot(),
            (std::vector{NWPath::Status::satisfied, NWPath::Status::unsatisfied, NWPath::Status::satisfied}));
  EXPECT_FALSE(recorder->offQueue);
  EXPECT_EQ(monitor.currentPath().status, NWPath::Status::satisfied);
}

TEST_F(PathMonitorTest, CancelDropsQueuedUpdatesAndStopsDelivery) {
  testhooks::injectPath(pathWith(NWPath::Status::satisfied));
  NWPathMonitor monitor;
  auto recorder = attach(monitor);
  dispatch::DispatchSemaphore gate(0);
  queue_.async([&] { gate.wait(); });  // holds the queue so the first update stays queued
  monitor.start(queue_);
  monitor.cancel();
  gate.signal();
  testhooks::injectPath(pathWith(NWPath::Status::unsatisfied));
  monitor.start(queue_);  // a cancelled monitor stays cancelled
  testhooks::injectPath(pathWith(NWPath::Status::satisfied));
  queue_.sync([] {});
  EXPECT_TRUE(recorder->snapshot().empty());
}

TEST_F(PathMonitorTest, DestroyingTheMonitorCancelsIt) {
  testhooks::injectPath(pathWith(NWPath::Status::unsatisfied));
  std::shared_ptr<Recorder> recorder;
  dispatch::DispatchSemaphore gate(0);
  queue_.async([&] { gate.wait(); });
  {
    NWPathMonitor monitor;
    recorder = attach(monitor);
    monitor.start(queue_);
  }
  gate.signal();
  testhooks::injectPath(pathWith(NWPath::Status::satisfied));
  queue_.sync([] {});
  EXPECT_TRUE(recorder->snapshot().empty());
}

TEST_F(PathMonitorTest, KernelPathIsReportedWithoutInjection) {
  // Whatever this machine's network is, a started monitor reports it once.
  NWPathMonitor monitor;
  auto recorder = attach(monitor);
  monitor.start(queue_);
  queue_.sync([] {});
  const auto seen = recorder->snapshot();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], monitor.currentPath().status);
  EXPECT_NE(seen[0], NWPath::Status::requiresConnection);
}

TEST_F(PathMonitorTest, ManyMonitorsFollowChangesFromSeveralThreads) {
  for (int threads : {1, 4}) {
    testhooks::injectPath(pathWith(NWPath::Status::unsatisfied));
    std::vector<std::unique_ptr<NWPathMonitor>> monitors;
    std::vector<std::shared_ptr<Recorder>> recorders;
    for (int i = 0; i < 8; ++i) {
      monitors.push_back(std::make_unique<NWPathMonitor>());
      recorders.push_back(attach(*monitors.back()));
      monitors.back()->start(queue_);
    }
    dispatch::DispatchGroup group;
    for (int t = 0; t < threads; ++t) {
      group.async(dispatch::DispatchQueue::global(), [] {
        for (int n = 0; n < 50; ++n) {
          testhooks::injectPath(pathWith(n % 2 ? NWPath::Status::unsatisfied : NWPath::Status::satisfied));
        }
      });
    }
    ASSERT_TRUE(group.wait(kLimitSeconds));
    testhooks::injectPath(pathWith(NWPath::Status::requiresConnection));
    queue_.sync([] {});
    for (auto& recorder : recorders) {
      const auto seen = recorder->snapshot();
      ASSERT_FALSE(seen.empty());
      EXPECT_EQ(seen.front(), NWPath::Status::unsatisfied);
      EXPECT_EQ(seen.back(), NWPath::Status::requiresConnection);
      for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_NE(seen[i], seen[i - 1]) << "repeated update";
    }
  }
}

}  // namespace

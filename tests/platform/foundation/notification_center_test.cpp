#include <gtest/gtest.h>
#include <morvik/platform/dispatch/Dispatch.h>
#include <morvik/platform/foundation/NotificationCenter.h>

#include <atomic>
#include <thread>
#include <vector>

namespace foundation {
namespace {

TEST(NotificationCenter, DeliversByNameAndSenderSynchronously) {
  NotificationCenter center;
  auto sender = std::make_shared<int>(5);
  auto other = std::make_shared<int>(6);
  int observer = 0;
  std::vector<std::string> seen;
  center.addObserver(&observer, std::string("rotated"), nullptr, [&](const Notification& n) {
    seen.push_back("any:" + n.name + ":" + std::to_string(*n.objectAs<int>()));
  });
  center.addObserver(&observer, std::string("rotated"), sender.get(),
                     [&](const Notification& n) { seen.push_back("sender:" + n.name); });
  center.addObserver(&observer, std::nullopt, nullptr, [&](const Notification& n) {
    seen.push_back("all:" + n.name + ":" + std::any_cast<std::string>(n.userInfo.at("k")));
  });

  center.post("rotated", sender, {{"k", std::string("v")}});
  EXPECT_EQ(seen, (std::vector<std::string>{"any:rotated:5", "sender:rotated", "all:rotated:v"}));
  seen.clear();
  center.post("rotated", other, {{"k", std::string("w")}});
  EXPECT_EQ(seen, (std::vector<std::string>{"any:rotated:6", "all:rotated:w"}));
}

TEST(NotificationCenter, RemovingAnObserverDropsEveryRegistrationAtOnce) {
  NotificationCenter center;
  int overlay = 0, keeper = 0;
  int overlayCalls = 0, keeperCalls = 0;
  // Each show registers again, as the loading overlay does.
  for (int i = 0; i < 3; ++i) {
    center.addObserver(&overlay, std::string("UIDeviceOrientationDidChangeNotification"), nullptr,
                       [&](const Notification&) { ++overlayCalls; });
  }
  center.addObserver(&overlay, std::string("other"), nullptr, [&](const Notification&) { ++overlayCalls; });
  center.addObserver(&keeper, std::string("UIDeviceOrientationDidChangeNotification"), nullptr,
                     [&](const Notification&) { ++keeperCalls; });
  center.post("UIDeviceOrientationDidChangeNotification");
  EXPECT_EQ(overlayCalls, 3);

  center.removeObserver(&overlay, "other");
  EXPECT_EQ(center.registrationCount(&overlay), 3u);
  center.removeObserver(&overlay);
  EXPECT_EQ(center.registrationCount(&overlay), 0u);
  center.post("UIDeviceOrientationDidChangeNotification");
  center.post("other");
  EXPECT_EQ(overlayCalls, 3);
  EXPECT_EQ(keeperCalls, 2);
}

TEST(NotificationCenter, AnObserverRemovedDuringAPostIsNotCalledAfterwards) {
  NotificationCenter center;
  int first = 0, second = 0;
  std::vector<std::string> calls;
  center.addObserver(&first, std::string("n"), nullptr, [&](const Notification&) {
    calls.push_back("first");
    center.removeObserver(&second);
    center.removeObserver(&first);
  });
  center.addObserver(&second, std::string("n"), nullptr,
                     [&](const Notification&) { calls.push_back("second"); });
  center.post("n");
  center.post("n");
  EXPECT_EQ(calls, std::vector<std::string>{"first"});
}

TEST(NotificationCenter, BlockObserversOnAQueueRunThereAndCanBeCancelledBeforeDelivery) {
  NotificationCenter center;
  std::vector<std::string> seen;
  auto token = center.addObserverForName(std::string("reachabilityChanged"), nullptr,
                                         dispatch::DispatchQueue::main(), [&](const Notification& n) {
                                           EXPECT_TRUE(dispatch::isMainThread());
                                           seen.push_back(n.name);
                                         });
  std::thread poster([&] { center.post("reachabilityChanged"); });
  poster.join();
  EXPECT_TRUE(seen.empty());  // queued, not called on the posting thread
  dispatch::MainLoop::drain();
  EXPECT_EQ(seen, std::vector<std::string>{"reachabilityChanged"});

  // Removed after the post but before the queue ran: dropped.
  center.post("reachabilityChanged");
  center.removeObserver(token.get());
  dispatch::MainLoop::drain();
  EXPECT_EQ(seen.size(), 1u);
}

TEST(NotificationCenter, ConcurrentPostsAndRemovalsAreSafe) {
  for (int threads : {2, 4, 8}) {
    NotificationCenter center;
    std::atomic<int> delivered{0};
    int observer = 0;
    center.addObserver(&observer, std::string("tick"), nullptr, [&](const Notification&) { ++delivered; });
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
      pool.emplace_back([&, t] {
        int mine = 0;
        for (int i = 0; i < 300; ++i) {
          center.post("tick");
          center.addObserver(&mine, std::string("tick"), nullptr, [](const Notification&) {});
          if (t == 0 && i == 150) {
            center.removeObserver(&observer);
          }
        }
        center.removeObserver(&mine);
      });
    }
    for (auto& th : pool) th.join();
    const int before = delivered.load();
    center.post("tick");
    EXPECT_EQ(delivered.load(), before);
    EXPECT_GT(before, 0);
    EXPECT_EQ(center.registrationCount(&observer), 0u);
  }
}

TEST(NotificationCenter, DefaultCenterIsShared) {
  EXPECT_EQ(NotificationCenter::defaultCenter(), NotificationCenter::default_());
}

}  // namespace
}  // namespace foundation

#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/foundation/NotificationCenter.h>
#include <morvik/platform/network.h>
#include <morvik/support/ConnectivityMonitor.h>
#include <netinet/in.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

using morvik::ConnectivityError;
using morvik::ConnectivityMonitor;
using Connection = ConnectivityMonitor::Connection;
using Flags = network::SCNetworkReachabilityFlags;

namespace {

network::SCNetworkReachabilityRef zeroAddressTarget() {
  sockaddr_in zero{};
  zero.sin_family = AF_INET;
  return network::SCNetworkReachabilityCreateWithAddress(reinterpret_cast<sockaddr*>(&zero));
}

// A monitor over a target whose flags the test sets, reporting to a centre of
// its own, with every callback and notification recorded.
class ConnectivityMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override { target_->injectFlagsForTesting(Flags::reachable); }

  std::shared_ptr<ConnectivityMonitor> makeMonitor(
      std::optional<dispatch::DispatchQueue> notificationQueue = dispatch::DispatchQueue::main()) {
    auto monitor = ConnectivityMonitor::create(target_, dispatch::DispatchQoS::default_, std::nullopt,
                                               std::move(notificationQueue));
    monitor->setNotificationCenter(center_);
    monitor->setWhenReachable([this](const auto& m) { events_.push_back("reachable " + m->description()); });
    monitor->setWhenUnreachable(
        [this](const auto& m) { events_.push_back("unreachable " + m->description()); });
    center_->addObserver(this, morvik::reachabilityChanged, nullptr,
                         [this](const foundation::Notification& n) {
                           events_.push_back(n.object ? "notification" : "notification without object");
                         });
    return monitor;
  }

  // Events are recorded on the main thread only (main notification queue or
  // inline on the test's thread).
  std::vector<std::string> drained() {
    dispatch::MainLoop::drain();
    return events_;
  }

  // Lets queued evaluations of the target reach the monitor's serial queue.
  void settle(const std::shared_ptr<ConnectivityMonitor>& monitor) {
    for (int i = 0; i < 3; ++i) {
      dispatch::DispatchQueue("network.flush").sync([] {});
      monitor->reachabilitySerialQueue().sync([] {});
    }
  }

  network::SCNetworkReachabilityRef target_ = zeroAddressTarget();
  std::shared_ptr<foundation::NotificationCenter> center_ =
      std::make_shared<foundation::NotificationCenter>();
  std::vector<std::string> events_;
};

TEST_F(ConnectivityMonitorTest, FirstConnectionReadsOnceAndReportsOneChangeOnTheNotificationQueue) {
  auto monitor = makeMonitor();
  EXPECT_EQ(monitor->description(), "unavailable flags");
  EXPECT_EQ(monitor->connection(), Connection::wifi);
  EXPECT_TRUE(events_.empty()) << "the change must wait for the main queue";
  EXPECT_EQ(drained(), (std::vector<std::string>{"reachable -R -------", "notification"}));

  target_->injectFlagsForTesting(Flags{});  // not read again while stopped
  EXPECT_EQ(monitor->connection(), Connection::wifi);
  EXPECT_EQ(monitor->currentReachabilityString(), "WiFi");
  EXPECT_EQ(drained().size(), 2u);
}

TEST_F(ConnectivityMonitorTest, UnreachableFlagsRunWhenUnreachable) {
  target_->injectFlagsForTesting(Flags::connectionRequired | Flags::isDirect);
  auto monitor = makeMonitor();
  EXPECT_EQ(monitor->connection(), Connection::unavailable);
  EXPECT_FALSE(monitor->isReachable());
  EXPECT_EQ(monitor->currentReachabilityString(), "No Connection");
  EXPECT_EQ(drained(), (std::vector<std::string>{"unreachable -- c-----d", "notification"}));
}

TEST_F(ConnectivityMonitorTest, CellularFlagsStillAnswerWifi) {
  target_->injectFlagsForTesting(Flags::reachable | Flags::isWWAN);
  auto monitor = makeMonitor();
  EXPECT_EQ(monitor->connection(), Connection::wifi);
  EXPECT_TRUE(monitor->isReachableViaWiFi());
  EXPECT_FALSE(monitor->isReachableViaWWAN());
  EXPECT_EQ(monitor->description(), "WR -------");
}

TEST_F(ConnectivityMonitorTest, WithoutANotificationQueueTheFirstReadReportsOnTheCallersThread) {
  auto monitor = makeMonitor(std::nullopt);
  EXPECT_EQ(monitor->connection(), Connection::wifi);
  EXPECT_EQ(events_, (std::vector<std::string>{"reachable -R -------", "notification"}));
}

TEST_F(ConnectivityMonitorTest, RunningNotifierReportsEachRealChangeOnce) {
  auto monitor = makeMonitor();
  monitor->startNotifier();
  monitor->startNotifier();  // already running: nothing
  EXPECT_TRUE(monitor->notifierRunning());
  EXPECT_EQ(drained().size(), 2u);  // the first read

  target_->injectFlagsForTesting(Flags::reachable);  // identical: nothing
  target_->injectFlagsForTesting(Flags{});
  ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return events_.size() >= 4; }, 30));
  settle(monitor);
  EXPECT_EQ(drained(), (std::vector<std::string>{"reachable -R -------", "notification",
                                                 "unreachable -- -------", "notification"}));
  EXPECT_EQ(monitor->connection(), Connection::unavailable);

  monitor->stopNotifier();
  target_->injectFlagsForTesting(Flags::reachable);
  settle(monitor);
  EXPECT_EQ(drained().size(), 4u);
  EXPECT_EQ(monitor->connection(), Connection::unavailable) << "a stopped monitor keeps its last flags";
}

TEST_F(ConnectivityMonitorTest, ReleasedMonitorIgnoresLaterChanges) {
  std::weak_ptr<ConnectivityMonitor> weak;
  {
    auto monitor = makeMonitor();
    monitor->startNotifier();
    weak = monitor;
  }
  EXPECT_TRUE(weak.expired()) << "the installed callback must not keep the monitor alive";
  target_->injectFlagsForTesting(Flags{});
  dispatch::DispatchQueue("network.flush").sync([] {});
  drained();
  EXPECT_EQ(events_.size(), 0u) << "the change work holds the monitor weakly";
  EXPECT_EQ(target_->description().find("context"), std::string::npos) << "release stops the notifier";
}

TEST_F(ConnectivityMonitorTest, StartFailuresThrowAndLeaveTheNotifierStopped) {
  auto monitor = makeMonitor();
  using Failures = network::SCNetworkReachability::FailuresForTesting;
  const std::pair<Failures, ConnectivityError::Kind> cases[] = {
      {{.setCallback = true}, ConnectivityError::Kind::unableToSetCallback},
      {{.setDispatchQueue = true}, ConnectivityError::Kind::unableToSetDispatchQueue},
      {{.getFlags = true}, ConnectivityError::Kind::unableToGetFlags},
  };
  for (const auto& [failures, kind] : cases) {
    target_->injectFailuresForTesting(failures);
    try {
      monitor->startNotifier();
      ADD_FAILURE() << "no error thrown";
    } catch (const ConnectivityError& error) {
      EXPECT_EQ(error.kind(), kind);
      EXPECT_EQ(error.code(), network::kSCStatusFailed);
    }
    EXPECT_FALSE(monitor->notifierRunning());
  }
  EXPECT_EQ(monitor->connection(), Connection::unavailable) << "unreadable flags are not an error here";
  EXPECT_EQ(monitor->description(), "unavailable flags");
}

TEST(ConnectivityMonitorCreation, BadHostNameThrowsWithTheNameAndCode) {
  try {
    ConnectivityMonitor::createWithHostname("not a host");
    ADD_FAILURE() << "no error thrown";
  } catch (const ConnectivityError& error) {
    EXPECT_EQ(error.kind(), ConnectivityError::Kind::failedToCreateWithHostname);
    EXPECT_EQ(error.hostname(), "not a host");
    EXPECT_EQ(error.code(), network::kSCStatusInvalidArgument);
  }
  auto monitor = ConnectivityMonitor::create();
  EXPECT_EQ(monitor->reachabilitySerialQueue().label(), "ConnectivityMonitor.serialQueue");
  EXPECT_TRUE(monitor->reachableOnWWAN());
}

TEST(ConnectivityMonitorTexts, FlagsStringAndDescriptions) {
  EXPECT_EQ(morvik::flagsDescription(Flags{0x7003F}), "WR ctiCDld");
  EXPECT_EQ(morvik::flagsDescription(Flags::isLocalAddress | Flags::connectionOnTraffic), "-- ---C-l-");
  EXPECT_STREQ(morvik::description(Connection::none), "No Connection");
  EXPECT_STREQ(morvik::description(Connection::cellular), "Cellular");
  EXPECT_STREQ(morvik::description(ConnectivityMonitor::NetworkStatus::reachableViaWWAN), "Cellular");
}

}  // namespace

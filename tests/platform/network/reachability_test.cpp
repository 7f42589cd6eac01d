#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/network.h>
#include <netinet/in.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

using namespace network;
using Flags = SCNetworkReachabilityFlags;

namespace {

constexpr double kArrivalLimitSeconds = 30;

sockaddr_in ipv4(const char* text) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, text, &address.sin_addr);
  return address;
}

TEST(ReachabilityFlags, BitValuesAreThePlatforms) {
  EXPECT_EQ(Flags::transientConnection.rawValue, 1u);
  EXPECT_EQ(Flags::reachable.rawValue, 2u);
  EXPECT_EQ(Flags::connectionRequired.rawValue, 4u);
  EXPECT_EQ(Flags::connectionOnTraffic.rawValue, 8u);
  EXPECT_EQ(Flags::interventionRequired.rawValue, 16u);
  EXPECT_EQ(Flags::connectionOnDemand.rawValue, 32u);
  EXPECT_EQ(Flags::isLocalAddress.rawValue, 65536u);
  EXPECT_EQ(Flags::isDirect.rawValue, 131072u);
  EXPECT_EQ(Flags::isWWAN.rawValue, 262144u);
  const Flags both = Flags::reachable | Flags::isWWAN;
  EXPECT_TRUE(both.contains(Flags::reachable));
  EXPECT_FALSE(both.contains(Flags::reachable | Flags::isDirect));
}

TEST(Reachability, CreationRejectsBadTargetsWithAnError) {
  EXPECT_EQ(SCNetworkReachabilityCreateWithName(""), nullptr);
  EXPECT_EQ(SCError(), kSCStatusInvalidArgument);
  EXPECT_EQ(SCNetworkReachabilityCreateWithName(nullptr), nullptr);
  EXPECT_EQ(SCNetworkReachabilityCreateWithName("bad host name"), nullptr);
  EXPECT_EQ(SCNetworkReachabilityCreateWithName("a..b"), nullptr);
  EXPECT_EQ(SCNetworkReachabilityCreateWithName(std::string(300, 'a').c_str()), nullptr);
  EXPECT_EQ(SCNetworkReachabilityCreateWithAddress(nullptr), nullptr);
  sockaddr unix{};
  unix.sa_family = AF_UNIX;
  EXPECT_EQ(SCNetworkReachabilityCreateWithAddress(&unix), nullptr);

  EXPECT_NE(SCNetworkReachabilityCreateWithName("example.com."), nullptr);
  EXPECT_EQ(SCError(), kSCStatusOK);
  EXPECT_NE(SCNetworkReachabilityCreateWithName("::1"), nullptr);
}

TEST(Reachability, LoopbackTargetsAreLocalAndDirect) {
  auto loopback = ipv4("127.0.0.1");
  auto byAddress = SCNetworkReachabilityCreateWithAddress(reinterpret_cast<sockaddr*>(&loopback));
  auto byName = SCNetworkReachabilityCreateWithName("localhost");
  for (const auto& target : {byAddress, byName}) {
    ASSERT_NE(target, nullptr);
    Flags flags;
    ASSERT_TRUE(SCNetworkReachabilityGetFlags(target, &flags));
    EXPECT_EQ(flags, Flags::reachable | Flags::isLocalAddress | Flags::isDirect) << target->description();
  }
}

TEST(Reachability, ZeroAddressFollowsTheDefaultRoute) {
  auto zero = ipv4("0.0.0.0");
  auto target = SCNetworkReachabilityCreateWithAddress(reinterpret_cast<sockaddr*>(&zero));
  Flags flags;
  ASSERT_TRUE(target->getFlags(flags));
  // No local or direct bits for the zero address, whatever this machine's routes.
  EXPECT_TRUE(flags == Flags{} || flags == Flags::reachable || flags == (Flags::reachable | Flags::isWWAN));
}

class ReachabilityCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto zero = ipv4("0.0.0.0");
    target_ = SCNetworkReachabilityCreateWithAddress(reinterpret_cast<sockaddr*>(&zero));
    target_->injectFlagsForTesting(Flags{});
  }
  void TearDown() override {
    // The callback records into this fixture: remove it and let a delivery
    // already running finish before the fixture goes.
    target_->setCallback(nullptr, nullptr);
    queue_.sync([] {});
    testhooks::injectReachabilityFlags(std::nullopt);
  }

  void install() {
    SCNetworkReachabilityContext context;
    context.info = info_;
    context.copyDescription = [](const void* info) { return *static_cast<const std::string*>(info); };
    ASSERT_TRUE(target_->setCallback(
        [this](const SCNetworkReachabilityRef& target, Flags flags, void* info) {
          std::lock_guard lock(mutex_);
          onQueue_ = onQueue_ && dispatch::DispatchQueue::currentLabel() == "test.callbacks";
          rightTargetAndInfo_ = rightTargetAndInfo_ && target == target_ && info == info_.get();
          seen_.push_back(flags);
          arrived_.signal();
        },
        &context));
    ASSERT_TRUE(target_->setDispatchQueue(queue_));
  }

  std::vector<Flags> waitFor(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) EXPECT_TRUE(arrived_.wait(kArrivalLimitSeconds));
    std::lock_guard lock(mutex_);
    return seen_;
  }

  // Lets every queued evaluation and delivery finish.
  void settle() {
    for (int i = 0; i < 3; ++i) {
      dispatch::DispatchQueue("test.flush").sync([] {});
      queue_.sync([] {});
    }
  }

  SCNetworkReachabilityRef target_;
  std::shared_ptr<std::string> info_ = std::make_shared<std::string>("monitor info");
  dispatch::DispatchQueue queue_{"test.callbacks"};
  dispatch::DispatchSemaphore arrived_{0};
  std::mutex mutex_;
  std::vector<Flags> seen_;
  bool onQueue_ = true;
  bool rightTargetAndInfo_ = true;
};

TEST_F(ReachabilityCallbackTest, InjectedChangesReachTheCallbackOnItsQueue) {
  install();
  target_->injectFlagsForTesting(Flags::reachable);
  EXPECT_EQ(waitFor(1), std::vector<Flags>{Flags::reachable});
  target_->injectFlagsForTesting(Flags::reachable);  // same flags: nothing
  target_->injectFlagsForTesting(Flags::reachable | Flags::isWWAN);
  EXPECT_EQ(waitFor(1), (std::vector<Flags>{Flags::reachable, Flags::reachable | Flags::isWWAN}));
  std::lock_guard lock(mutex_);
  EXPECT_TRUE(onQueue_);
  EXPECT_TRUE(rightTargetAndInfo_);
  EXPECT_NE(target_->description().find("monitor info"), std::string::npos);
}

TEST_F(ReachabilityCallbackTest, RemovingTheCallbackOrQueueStopsDelivery) {
  install();
  dispatch::DispatchSemaphore gate(0);
  queue_.async([&] { gate.wait(); });
  target_->injectFlagsForTesting(Flags::reachable);
  dispatch::DispatchQueue("test.flush").sync([] {});
  ASSERT_TRUE(target_->setDispatchQueue(std::nullopt));
  gate.signal();
  target_->injectFlagsForTesting(Flags{});
  settle();
  ASSERT_TRUE(target_->setCallback(nullptr, nullptr));
  ASSERT_TRUE(target_->setDispatchQueue(queue_));
  target_->injectFlagsForTesting(Flags::reachable);
  settle();
  std::lock_guard lock(mutex_);
  EXPECT_TRUE(seen_.empty());
  EXPECT_EQ(info_.use_count(), 1) << "context info still retained after the callback was removed";
}

TEST_F(ReachabilityCallbackTest, InjectedFailuresReportAnError) {
  target_->injectFailuresForTesting({.getFlags = true, .setCallback = true, .setDispatchQueue = true});
  Flags flags;
  EXPECT_FALSE(target_->getFlags(flags));
  EXPECT_EQ(SCError(), kSCStatusFailed);
  EXPECT_FALSE(target_->setCallback([](auto&&...) {}, nullptr));
  EXPECT_FALSE(target_->setDispatchQueue(queue_));
  target_->injectFailuresForTesting({});
  EXPECT_TRUE(target_->getFlags(flags));
  EXPECT_EQ(SCError(), kSCStatusOK);
}

TEST_F(ReachabilityCallbackTest, ProcessWideInjectionReachesTargetsWithoutTheirOwn) {
  target_->injectFlagsForTesting(std::nullopt);
  testhooks::injectReachabilityFlags(Flags{});
  install();
  testhooks::injectReachabilityFlags(Flags::reachable | Flags::isDirect);
  EXPECT_EQ(waitFor(1), std::vector<Flags>{Flags::reachable | Flags::isDirect});
}

}  // namespace

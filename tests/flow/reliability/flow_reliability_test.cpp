// Whole document verifications, one after another in one process, and flows
// closed at awkward moments: nothing may be left alive, grow, or be reported
// twice.
#include <gtest/gtest.h>
#include <malloc.h>
#include <morvik/MorvikVerify.h>
#include <morvik/flow/IDCaptureVC.h>
#include <morvik/platform/dispatch.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "FlowDriver.h"
#include "api/models/FullVerdictReply.h"
#include "fixtures/server/LoopbackServer.h"

namespace {

using fixtures::LoopbackServer;
using fixtures::ScriptedReply;
using flowdriver::FlowDriver;

// Release builds run a hundred, ASan five (a run costs it about fifteen
// seconds of CPU, mostly the face step), TSan two (about forty seconds).
// MORVIK_SOAK_RUNS overrides.
int soakRuns() {
  if (const char* runs = std::getenv("MORVIK_SOAK_RUNS")) return std::max(2, std::atoi(runs));
#if defined(__SANITIZE_THREAD__)
  return 2;
#elif defined(__SANITIZE_ADDRESS__)
  return 5;
#else
  return 100;
#endif
}

class FlowReliabilityTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Frame-sized buffers go back to the system when freed and every thread
    // shares one arena, so resident memory follows what is really kept
    // rather than the allocator's caching.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_ARENA_MAX, 1);
  }

  void SetUp() override {
    avf::VirtualCamera::unregisterAll();
    dispatch::clock::useManualClock();
    server.setDefaultReply(ScriptedReply::json(200, std::string(morvik::samples::kFullVerdictReply)));
    server.setRecordBodies(false);  // the server's own record must not look like growth
    driver = std::make_unique<FlowDriver>(server);
  }
  void TearDown() override {
    driver.reset();
    avf::VirtualCamera::unregisterAll();
    dispatch::clock::useRealClock();
  }

  // One verification from the start call to the delivered result.
  void runOne() {
    ASSERT_TRUE(driver->startDocumentScan()) << driver->failure();
    ASSERT_TRUE(driver->captureAllSteps()) << driver->failure();
    ASSERT_TRUE(driver->submitAndWaitForResult()) << driver->failure();
    const auto before = driver->outcomes().size();
    ASSERT_TRUE(driver->tapDone()) << driver->failure();
    ASSERT_TRUE(driver->awaitOutcomes(before + 1));
    ASSERT_TRUE(driver->outcomes().back().isVerified());
    ASSERT_FALSE(driver->flow());
  }

  LoopbackServer server{LoopbackServer::Scheme::https};
  std::unique_ptr<FlowDriver> driver;
};

TEST_F(FlowReliabilityTest, ConsecutiveVerificationsLeaveNothingBehind) {
  const int runs = soakRuns();
  // Lazily started pools (models, HTTP, dispatch workers) settle in the first
  // ten runs; from then on nothing may grow. A run's transient buffers make
  // single readings jump by several per cent, so medians of ten are compared.
  std::vector<std::size_t> rss;
  int baselineThreads = 0;
  for (int run = 1; run <= runs; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    runOne();
    if (HasFatalFailure()) return;
    FlowDriver::settle();
    // Every screen, controller and camera session of the flow is gone.
    ASSERT_TRUE(driver->footprint().allReleased()) << driver->footprint().alive() << " objects alive";
    driver->footprint().objects.clear();
    if (run == std::min(10, runs - 1)) baselineThreads = flowdriver::threadCount();
    if (run > 10) rss.push_back(flowdriver::residentBytes());
    if (std::getenv("MORVIK_SOAK_STAGES")) {
      for (const auto& stage : driver->stages) std::printf("%s %.3f\n", stage.name.c_str(), stage.seconds);
      std::printf("rss %zu KB, heap %zu KB, %d threads\n", flowdriver::residentBytes() / 1024,
                  mallinfo2().uordblks / 1024, flowdriver::threadCount());
    }
  }
  EXPECT_EQ(server.requestCount(), static_cast<std::size_t>(runs));
  EXPECT_EQ(driver->outcomes().size(), static_cast<std::size_t>(runs));
  // Give finished workers a moment to leave, then count.
  dispatch::MainLoop::runUntil([&] { return flowdriver::threadCount() <= baselineThreads; }, 5);
  EXPECT_LE(flowdriver::threadCount(), baselineThreads);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // (The sanitizers keep freed memory in quarantine; LeakSanitizer checks those builds.)
  if (rss.size() >= 20) {
    auto median = [](std::vector<std::size_t> v) {
      std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
      return double(v[v.size() / 2]);
    };
    const double growth = median({rss.end() - 10, rss.end()}) / median({rss.begin(), rss.begin() + 10}) - 1;
    RecordProperty("rss_growth_percent", std::to_string(growth * 100));
    EXPECT_LT(growth, 0.05) << "resident memory grew " << growth * 100 << " %";
  }
#endif
}

// Close while the photo is being taken: the photo's delivery finds no flow.
TEST_F(FlowReliabilityTest, CloseWhileAPhotoIsInFlight) {
  ASSERT_TRUE(driver->startDocumentScan()) << driver->failure();
  ASSERT_TRUE(driver->runUntilPhotoInFlight()) << driver->failure();
  ASSERT_TRUE(driver->tapClose()) << driver->failure();
  ASSERT_TRUE(driver->awaitOutcomes(1));
  dispatch::MainLoop::runUntil([&] { return driver->footprint().allReleased(); }, 10);
  FlowDriver::settle();
  EXPECT_EQ(driver->events(), (std::vector<std::string>{"delegate:cancel", "completion"}));
  EXPECT_TRUE(driver->footprint().allReleased()) << driver->footprint().alive() << " objects alive";
  EXPECT_EQ(server.requestCount(), 0u);
}

// Close while the upload runs: the reply finds no step list and is dropped.
TEST_F(FlowReliabilityTest, CloseWhileTheUploadRuns) {
  auto slow = ScriptedReply::json(200, std::string(morvik::samples::kFullVerdictReply));
  slow.delay = std::chrono::milliseconds(300);
  server.setDefaultReply(slow);
  ASSERT_TRUE(driver->startDocumentScan()) << driver->failure();
  ASSERT_TRUE(driver->captureAllStepsByCallback()) << driver->failure();
  ASSERT_TRUE(driver->tapSubmit()) << driver->failure();
  ASSERT_TRUE(server.waitForRequestCount(1, std::chrono::seconds(10)));
  ASSERT_TRUE(driver->tapClose()) << driver->failure();
  ASSERT_TRUE(driver->awaitOutcomes(1));
  // The reply lands after the flow has gone.
  dispatch::MainLoop::runUntil([] { return false; }, 0.6);
  FlowDriver::settle();
  dispatch::MainLoop::runUntil([&] { return driver->footprint().allReleased(); }, 10);
  EXPECT_EQ(driver->events(), (std::vector<std::string>{"delegate:cancel", "completion"}));
  EXPECT_FALSE(driver->outcomes().at(0).isVerified());
  EXPECT_TRUE(driver->footprint().allReleased()) << driver->footprint().alive() << " objects alive";
}

// Close during Done's dismissal: the verified outcome is the only one.
TEST_F(FlowReliabilityTest, CloseWhileDonesDismissalRuns) {
  ASSERT_TRUE(driver->startDocumentScan()) << driver->failure();
  ASSERT_TRUE(driver->captureAllStepsByCallback()) << driver->failure();
  ASSERT_TRUE(driver->submitAndWaitForResult()) << driver->failure();
  ASSERT_TRUE(driver->tapDone()) << driver->failure();
  ASSERT_TRUE(driver->tapClose()) << driver->failure();
  ASSERT_TRUE(driver->awaitOutcomes(1));
  FlowDriver::settle();
  dispatch::MainLoop::runUntil([&] { return driver->footprint().allReleased(); }, 10);
  EXPECT_EQ(driver->events(), (std::vector<std::string>{"delegate:complete", "completion"}));
  EXPECT_TRUE(driver->outcomes().at(0).isVerified());
  EXPECT_FALSE(driver->flow());
  EXPECT_TRUE(driver->footprint().allReleased()) << driver->footprint().alive() << " objects alive";
}

// A capture screen whose last owner lets go on another thread (the frame or
// the photo queue) is destroyed on the main thread, views and all.
TEST(CaptureScreenRelease, LastReferenceOffTheMainThreadDestroysOnTheMainThread) {
  auto screen = morvik::IDCaptureVC::make(morvik::IDDocumentType::driversLicenseOrIDCard, 0,
                                          morvik::IDScanStep("Document Front"));
  std::weak_ptr<uikit::UIView> view = screen->view();
  std::weak_ptr<morvik::IDCaptureVC> weak = screen;
  std::thread([held = std::move(screen)]() mutable { held.reset(); }).join();
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(view.expired()) << "destroyed on the releasing thread";
  dispatch::MainLoop::drain();
  EXPECT_TRUE(view.expired());
}

}  // namespace

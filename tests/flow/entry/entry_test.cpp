// The SDK entry: configuration, the start calls and their refusals, the face
// road against the loopback server over HTTPS, delivery order and Close.
#include <gtest/gtest.h>
#include <morvik/MorvikVerify.h>
#include <morvik/api/APIManager.h>
#include <morvik/flow/MorvikVerifyInternal.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>
#include <morvik/support/LoadingOverlay.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "api/ApiTestSupport.h"
#include "api/models/FullVerdictReply.h"
#include "fixtures/generators/Generators.h"
#include "fixtures/host/ConfigureSDK.h"
#include "fixtures/host/HostJournal.h"
#include "fixtures/server/LoopbackServer.h"
#include "flow/steps/StepListTestSupport.h"

namespace morvik {
struct MorvikVerifyTestAccess {
  static void unconfigure() {
    auto& state = *MorvikVerify::shared().state_;
    std::lock_guard lock(state.mutex);
    state.config.reset();
  }
};
}  // namespace morvik

namespace {

using fixtures::LoopbackServer;
using fixtures::ScriptedReply;
using fixtures::host::describe;
using fixtures::host::Journal;
using fixtures::host::selfie;
using morvik::IDCaptureVC;
using morvik::MorvikEnvironment;
using morvik::MorvikVerificationResult;
using morvik::MorvikVerificationType;
using morvik::MorvikVerify;
using morvik::MorvikVerifyConfig;
using morvik::MorvikVerifyError;

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatch::clock::useManualClock();
    apitest::setPath(morvik::APIManager::shared(), true);
    scene = uikit::UIApplication::shared().connectWindowScene();
    window = scene->makeWindow();
    host = std::make_shared<uikit::UIViewController>();
    window->setRootViewController(host);
    window->makeKeyAndVisible();
    settle();
    // The configured environment is not reachable from here: the loopback
    // server stands in for it, trusted through the throwaway authority.
    fixtures::host::configureSDK(server, "test-key");
    journal = std::make_shared<Journal>();
    MorvikVerify::shared().setDelegate(journal);
  }

  void TearDown() override {
    settle();
    if (scene) uikit::UIApplication::shared().disconnect(scene);
    host.reset();
    window.reset();
    scene.reset();
    settle();
    auto& api = morvik::APIManager::shared();
    api.setTrustedCertificateForTesting("");
    apitest::setPath(api, true);
    dispatch::clock::useRealClock();
  }

  // Runs the main queue and moves the manual clock past every transition
  // and overlay animation until nothing more happens.
  static void settle() {
    for (int i = 0; i < 8; ++i) {
      dispatch::MainLoop::drain();
      dispatch::clock::advance(0.5);
    }
    dispatch::MainLoop::drain();
  }

  // Waits (bounded, real time) for the host to have heard `count` events.
  bool awaitEvents(std::size_t count) {
    for (int i = 0; i < 400 && journal->events.size() < count; ++i) {
      dispatch::MainLoop::runUntil([&] { return journal->events.size() >= count; }, 0.025);
      dispatch::clock::advance(0.1);
    }
    settle();
    return journal->events.size() >= count;
  }

  std::shared_ptr<uikit::UINavigationController> flow() const {
    return std::dynamic_pointer_cast<uikit::UINavigationController>(host->presentedViewController());
  }
  std::shared_ptr<IDCaptureVC> faceScreen() const {
    auto navigation = flow();
    if (!navigation || navigation->viewControllers().empty()) return nullptr;
    return std::dynamic_pointer_cast<IDCaptureVC>(navigation->viewControllers().front());
  }
  void startFace(std::optional<std::string> email) {
    MorvikVerify::shared().startVerification(*host, MorvikVerificationType::faceDetection, std::move(email),
                                             journal->handler("completion"));
    settle();
    ASSERT_TRUE(faceScreen());
  }
  // What the face-only screen hands over when it has taken the selfie.
  void deliverPhoto(std::shared_ptr<uikit::UIImage> image) {
    auto screen = faceScreen();
    ASSERT_TRUE(screen && screen->onCaptured);
    screen->onCaptured(std::move(image));
  }
  void tapClose() {
    auto screen = faceScreen();
    ASSERT_TRUE(screen && screen->navigationItem().leftBarButtonItem);
    ASSERT_TRUE(screen->navigationItem().leftBarButtonItem->sendAction());
    settle();
  }

  static bool overlayShown() { return morvik::LoadingOverlay::shared()->superview() != nullptr; }
  void replyAfter(int milliseconds) {
    auto reply = ScriptedReply::json(200, std::string(morvik::samples::kFullVerdictReply));
    reply.delay = std::chrono::milliseconds(milliseconds);
    server.setDefaultReply(reply);
  }
  void restart() {
    journal->events.clear();
    journal->results.clear();
    server.clearRequests();
  }

  LoopbackServer server{LoopbackServer::Scheme::https};
  std::shared_ptr<uikit::UIWindowScene> scene;
  std::shared_ptr<uikit::UIWindow> window;
  std::shared_ptr<uikit::UIViewController> host;
  std::shared_ptr<Journal> journal;
};

TEST(MorvikTypesTest, ErrorDescriptionsAreTheFixedTexts) {
  const std::pair<MorvikVerifyError, std::string> rows[] = {
      {MorvikVerifyError::verificationFailed("No face"), "Verification failed: No face"},
      {MorvikVerifyError::verificationFailed(""), "Verification failed: "},
      {MorvikVerifyError::networkError("timed out"), "Network error: timed out"},
      {MorvikVerifyError::notConfigured(),
       "MorvikVerify SDK is not configured. Call MorvikVerify.configure() first."},
      {MorvikVerifyError::userCancelled(), "User cancelled the verification process."},
      {MorvikVerifyError::cameraAccessDenied(), "Camera access is required for document verification."},
      {MorvikVerifyError::invalidDocument(), "The document could not be verified. Please try again."},
  };
  for (const auto& [error, text] : rows) EXPECT_EQ(error.errorDescription(), text);
}

TEST_F(EntryTest, ConfigureReplacesKeyAndEndpointAndKeepsTheColour) {
  const auto colour = uikit::UIColor(0.1, 0.2, 0.3, 1);
  const std::pair<MorvikEnvironment, std::string> rows[] = {
      {MorvikEnvironment::production, "https://api.morvik.example/api"},
      {MorvikEnvironment::staging, "https://staging.api.morvik.example/api"},
      {MorvikEnvironment::development, "https://dev.api.morvik.example:3035/api"},
  };
  for (const auto& [environment, base] : rows) {
    MorvikVerify::configure(MorvikVerifyConfig("key-" + base, environment, colour));
    EXPECT_EQ(morvik::APIManager::shared().baseURL()->absoluteString(), base);
    EXPECT_EQ(morvik::APIManager::shared().apiKey(), "key-" + base);
    ASSERT_TRUE(MorvikVerify::shared().currentConfig());
    EXPECT_EQ(MorvikVerify::shared().currentConfig()->environment(), environment);
    EXPECT_TRUE(MorvikVerify::shared().currentConfig()->primaryColor() == colour);
  }
  // A value outside the enumeration is refused; the last configuration stays.
  const std::string kept = "key-" + rows[2].second;
  EXPECT_THROW(MorvikVerify::configure(MorvikVerifyConfig("bad", static_cast<MorvikEnvironment>(7), colour)),
               std::invalid_argument);
  EXPECT_EQ(MorvikVerify::shared().currentConfig()->apiKey(), kept);
  EXPECT_EQ(morvik::APIManager::shared().apiKey(), kept);
  // From another thread it runs on the main queue.
  std::thread([&] {
    MorvikVerify::configure(MorvikVerifyConfig("from-a-thread", MorvikEnvironment::staging, colour));
  }).join();
  EXPECT_EQ(MorvikVerify::shared().currentConfig()->apiKey(), kept);
  settle();
  EXPECT_EQ(MorvikVerify::shared().currentConfig()->apiKey(), "from-a-thread");
}

// The face road's outcomes, one row per kind of reply.
TEST_F(EntryTest, FaceReplyDecidesTheOutcomeAfterTheFlowIsDismissed) {
  const std::string verdict(morvik::samples::kFullVerdictReply);
  const std::string noRecord = R"({"success": false, "message": "Face does not match"})";
  const std::string recordNoMessage = R"({"success": false, "data": {"requestId": 7}})";
  struct Row {
    const char* name;
    ScriptedReply reply;
    bool offline;
    bool verified;
    bool record;
    std::string error;  // description, or a prefix when it ends with '*'
  };
  const Row rows[] = {
      {"200 with record", ScriptedReply::json(200, verdict), false, true, true, "none"},
      {"200 without record", ScriptedReply::json(200, noRecord), false, false, false,
       "Verification failed: Face does not match"},
      {"200 without record or message", ScriptedReply::json(200, "{}"), false, false, false,
       "Verification failed: Verification failed"},
      {"404 with record", ScriptedReply::json(404, recordNoMessage), false, false, true,
       "Verification failed: Verification failed"},
      {"500 without message", ScriptedReply::json(500, R"({"success": false})"), false, false, false,
       "Verification failed: Verification failed"},
      {"transport failure", ScriptedReply::hangUp(), false, false, false, "Verification failed: *"},
      {"offline", ScriptedReply::json(200, verdict), true, false, false,
       "Verification failed: No internet connection available"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    journal->events.clear();
    journal->results.clear();
    server.clearRequests();
    server.setDefaultReply(row.reply);
    apitest::setPath(morvik::APIManager::shared(), !row.offline);
    startFace("ada@example.com");
    deliverPhoto(selfie());
    ASSERT_TRUE(awaitEvents(2));
    EXPECT_EQ(journal->events, (std::vector<std::string>{
                                   row.verified ? "delegate:verified" : "delegate:failed", "completion"}));
    const auto& result = journal->results.at(0);
    EXPECT_EQ(result.isVerified(), row.verified);
    EXPECT_EQ(result.documentData().has_value(), row.record);
    if (!row.error.empty() && row.error.back() == '*') {
      EXPECT_EQ(describe(result).rfind(row.error.substr(0, row.error.size() - 1), 0), 0u) << describe(result);
      EXPECT_GT(describe(result).size(), row.error.size());
    } else {
      EXPECT_EQ(describe(result), row.error);
    }
    EXPECT_FALSE(host->presentedViewController()) << "the flow is dismissed before the outcome";
    if (!row.offline) {
      const auto requests = server.requests();
      ASSERT_FALSE(requests.empty());
      const auto& request = requests.front();
      EXPECT_EQ(request.path, "/api/reverify");
      ASSERT_TRUE(request.part("email") && request.part("age") && request.part("livePhoto"));
      EXPECT_EQ(request.part("email")->bytes, "ada@example.com");
      EXPECT_EQ(request.part("age")->bytes, "0");
      EXPECT_EQ(request.part("livePhoto")->bytes.substr(0, 2), "\xFF\xD8");  // a JPEG
    } else {
      EXPECT_EQ(server.requestCount(), 0u);
    }
    // Nothing more arrives later.
    settle();
    EXPECT_EQ(journal->events.size(), 2u);
  }
}

// The same road over plain HTTP (no certificate authority involved).
TEST_F(EntryTest, FaceRoadOverPlainHTTP) {
  LoopbackServer plain(LoopbackServer::Scheme::http);
  plain.setDefaultReply(ScriptedReply::json(200, std::string(morvik::samples::kFullVerdictReply)));
  morvik::APIManager::shared().setBaseURL(foundation::URL::string(plain.baseURL()));
  startFace("ada@example.com");
  deliverPhoto(selfie());
  ASSERT_TRUE(awaitEvents(2));
  EXPECT_EQ(journal->events, (std::vector<std::string>{"delegate:verified", "completion"}));
  EXPECT_EQ(plain.requestCount(), 1u);
}

// Early refusals keep the screen open; every further photo is refused again,
// to the same completion, and a Close after them still reaches it.
TEST_F(EntryTest, EarlyRefusalsRepeatAndCloseStillReachesTheSameCompletion) {
  struct Row {
    std::optional<std::string> email;
    bool withImage;
    std::string error;
  };
  const Row rows[] = {
      {std::nullopt, true, "Verification failed: Email is required for face detection"},
      {"", true, "Verification failed: Email is required for face detection"},
      {"ada@example.com", false, "Verification failed: Failed to capture face image"},
  };
  for (const auto& row : rows) {
    journal->events.clear();
    journal->results.clear();
    startFace(row.email);
    for (int photo = 1; photo <= 2; ++photo) {
      deliverPhoto(row.withImage ? selfie() : nullptr);
      ASSERT_TRUE(awaitEvents(2 * photo));
      EXPECT_EQ(describe(journal->results.back()), row.error);
      EXPECT_TRUE(faceScreen()) << "the screen stays";
    }
    tapClose();
    ASSERT_TRUE(awaitEvents(6));
    EXPECT_EQ(journal->events, (std::vector<std::string>{"delegate:failed", "completion", "delegate:failed",
                                                         "completion", "delegate:cancel", "completion"}));
    EXPECT_EQ(describe(journal->results.back()), "User cancelled the verification process.");
    EXPECT_FALSE(host->presentedViewController());
  }
  EXPECT_EQ(server.requestCount(), 0u);
}

// Close before any photo, and while the upload is running: one outcome,
// userCancelled; a reply arriving after Close delivers nothing more.
TEST_F(EntryTest, CloseReportsCancelOnceAtEachPoint) {
  for (bool uploading : {false, true}) {
    SCOPED_TRACE(uploading ? "while uploading" : "before a photo");
    journal->events.clear();
    journal->results.clear();
    server.clearRequests();
    server.setDefaultReply([] {
      auto reply = ScriptedReply::json(200, std::string(morvik::samples::kFullVerdictReply));
      reply.delay = std::chrono::milliseconds(300);
      return reply;
    }());
    startFace("ada@example.com");
    if (uploading) {
      deliverPhoto(selfie());
      ASSERT_TRUE(server.waitForRequestCount(1, std::chrono::seconds(10)));
    }
    tapClose();
    ASSERT_TRUE(awaitEvents(2));
    EXPECT_EQ(journal->events, (std::vector<std::string>{"delegate:cancel", "completion"}));
    EXPECT_EQ(describe(journal->results.at(0)), "User cancelled the verification process.");
    if (uploading) {
      // Let the reply land and its handling run out.
      dispatch::MainLoop::runUntil([] { return false; }, 0.6);
      settle();
    }
    EXPECT_EQ(journal->events.size(), 2u);
    EXPECT_FALSE(host->presentedViewController());
  }
}

TEST_F(EntryTest, StartRefusalsAnswerAtOnceOnTheCallersThreadWithoutTheDelegate) {
  // Configured, but the only window is not key: no top view controller.
  auto other = uikit::UIApplication::shared().connectWindowScene();
  uikit::UIApplication::shared().disconnect(scene);
  scene = other;
  window = scene->makeWindow();
  window->setRootViewController(host);  // present but never made key
  std::vector<std::string> answers;
  auto record = [&](const MorvikVerificationResult& result) {
    answers.push_back((dispatch::isMainThread() ? "" : "off-main:") + describe(result));
  };
  MorvikVerify::startDocumentScan("a@b.c", record);
  MorvikVerify::startFaceDetection("a@b.c", record);
  MorvikVerify::start(MorvikVerificationType::faceDetection, std::nullopt, record);
  // A controller in no window has nothing to present from either, and blocks no later start.
  auto loose = std::make_shared<uikit::UIViewController>();
  morvik::presentMorvikFaceDetection(*loose, "a@b.c", record);
  EXPECT_FALSE(loose->presentedViewController());
  EXPECT_FALSE(MorvikVerify::Internal::isFlowShown());
  const std::string unable = "Verification failed: Unable to present verification screen";
  EXPECT_EQ(answers, (std::vector<std::string>{unable, unable, unable, unable}));

  // Not configured: the static start still answers "unable" without a key
  // window, and notConfigured with one; the per-controller calls answer
  // notConfigured. Nothing is stored, nothing presented.
  morvik::MorvikVerifyTestAccess::unconfigure();
  answers.clear();
  MorvikVerify::start(MorvikVerificationType::documentScan, "a@b.c", record);
  window->makeKeyAndVisible();
  settle();
  MorvikVerify::start(MorvikVerificationType::documentScan, "a@b.c", record);
  morvik::presentMorvikDocumentScan(*host, "a@b.c", record);
  morvik::presentMorvikFaceDetection(*host, "a@b.c", record);
  morvik::presentMorvikVerification(*host, MorvikVerificationType::faceDetection, "a@b.c", record);
  const std::string notConfigured =
      "MorvikVerify SDK is not configured. Call MorvikVerify.configure() first.";
  EXPECT_EQ(answers,
            (std::vector<std::string>{unable, notConfigured, notConfigured, notConfigured, notConfigured}));
  EXPECT_FALSE(host->presentedViewController());
  EXPECT_FALSE(MorvikVerify::shared().isConfigured());
  EXPECT_FALSE(MorvikVerify::shared().currentConfig());
  settle();
  EXPECT_TRUE(journal->events.empty());
}

// presented, then visible, then selected, recursively; the first key window
// decides even without a root.
TEST_F(EntryTest, TopViewControllerFollowsPresentedVisibleAndSelected) {
  auto tabs = std::make_shared<uikit::UITabBarController>();
  auto first = std::make_shared<uikit::UIViewController>();
  auto second = std::make_shared<uikit::UIViewController>();
  tabs->setViewControllers({first, second});
  tabs->setSelectedIndex(1);
  auto modal = std::make_shared<uikit::UINavigationController>(tabs);
  modal->setModalPresentationStyle(uikit::UIModalPresentationStyle::fullScreen);
  host->present(modal, false);
  settle();
  EXPECT_EQ(MorvikVerify::Internal::topViewController(), second);

  // A static start presents from there, with a Close item on the first screen.
  MorvikVerify::startFaceDetection("ada@example.com", journal->handler("completion"));
  settle();
  auto flow = std::dynamic_pointer_cast<uikit::UINavigationController>(second->presentedViewController());
  ASSERT_TRUE(flow);
  EXPECT_EQ(flow->modalPresentationStyle(), uikit::UIModalPresentationStyle::fullScreen);
  auto screen = std::dynamic_pointer_cast<IDCaptureVC>(flow->viewControllers().at(0));
  ASSERT_TRUE(screen);
  EXPECT_TRUE(screen->isFaceOnlyMode);
  EXPECT_EQ(screen->step().title(), "Face");
  EXPECT_FALSE(screen->onComplete);
  ASSERT_TRUE(screen->navigationItem().leftBarButtonItem);
  EXPECT_EQ(screen->navigationItem().leftBarButtonItem->systemItem(),
            uikit::UIBarButtonItem::SystemItem::close);
  EXPECT_EQ(MorvikVerify::Internal::currentEmail(), "ada@example.com");

  // Close dismisses from the first window's root: the host's own modal goes too.
  ASSERT_TRUE(screen->navigationItem().leftBarButtonItem->sendAction());
  settle();
  EXPECT_FALSE(host->presentedViewController());
  EXPECT_EQ(journal->events, (std::vector<std::string>{"delegate:cancel", "completion"}));

  // A key window without a root yields nothing, even when another window has one.
  auto keyWithoutRoot = scene->makeWindow();
  scene->windows();  // host's window stays first
  keyWithoutRoot->makeKeyAndVisible();
  EXPECT_FALSE(MorvikVerify::Internal::topViewController());
}

TEST_F(EntryTest, DeliveryGoesToTheDelegateFirstAndSkipsAGoneDelegate) {
  MorvikVerify::Internal::setCompletionHandler(journal->handler("completion"));
  MorvikVerify::Internal::completeVerification(std::nullopt);
  ASSERT_TRUE(awaitEvents(2));
  EXPECT_EQ(journal->events, (std::vector<std::string>{"delegate:failed", "completion"}));
  EXPECT_FALSE(journal->results.at(0).isVerified());
  EXPECT_FALSE(journal->results.at(0).error());

  MorvikVerify::Internal::completeVerification(morvik::DocumentVerificationData{});
  ASSERT_TRUE(awaitEvents(4));
  EXPECT_TRUE(journal->results.at(1).isVerified());

  // The delegate is held weakly: once the host lets go it hears nothing.
  auto completion = journal->handler("completion");
  std::vector<std::string> after;
  MorvikVerify::Internal::setCompletionHandler(
      [&](const MorvikVerificationResult& r) { after.push_back(describe(r)); });
  std::weak_ptr<Journal> weak = journal;
  auto keep = std::move(journal);
  keep.reset();
  EXPECT_TRUE(weak.expired());
  MorvikVerify::Internal::completeWithError(MorvikVerifyError::verificationFailed("x"));
  settle();
  EXPECT_EQ(after, (std::vector<std::string>{"Verification failed: x"}));
  journal = std::make_shared<Journal>();
}

// One photo, one upload: photos the screen takes while the reply is awaited
// are dropped; the overlay is up exactly as long as the upload runs.
TEST_F(EntryTest, FaceRoadUploadsOnePhotoUnderItsOverlay) {
  for (bool verdict : {true, false}) {
    SCOPED_TRACE(verdict ? "verdict" : "refusal");
    restart();
    auto reply =
        ScriptedReply::json(verdict ? 200 : 500, verdict ? std::string(morvik::samples::kFullVerdictReply)
                                                         : R"({"message": "No match"})");
    reply.delay = std::chrono::milliseconds(400);
    server.setDefaultReply(reply);
    startFace("ada@example.com");
    EXPECT_FALSE(overlayShown());
    deliverPhoto(selfie());
    settle();
    EXPECT_TRUE(overlayShown());
    ASSERT_TRUE(server.waitForRequestCount(1, std::chrono::seconds(10)));
    EXPECT_TRUE(faceScreen()->isCapturePaused) << "the camera takes no further photo";
    for (int more = 0; more < 3; ++more) deliverPhoto(selfie());
    settle();
    ASSERT_TRUE(awaitEvents(2));
    EXPECT_EQ(journal->events,
              (std::vector<std::string>{verdict ? "delegate:verified" : "delegate:failed", "completion"}));
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_FALSE(overlayShown());
    EXPECT_FALSE(host->presentedViewController());
  }
}

// A flow the host takes away (in code, or with its window) reports
// userCancelled once and drops its overlay at once; the late reply adds
// nothing.
TEST_F(EntryTest, AFlowTakenAwayReportsCancelOnce) {
  enum class How { dismissBeforePhoto, dismissWhileUploading, windowGoneWhileUploading };
  for (How how : {How::dismissBeforePhoto, How::dismissWhileUploading, How::windowGoneWhileUploading}) {
    SCOPED_TRACE(static_cast<int>(how));
    restart();
    replyAfter(1500);
    startFace("ada@example.com");
    const bool uploading = how != How::dismissBeforePhoto;
    if (uploading) {
      deliverPhoto(selfie());
      ASSERT_TRUE(server.waitForRequestCount(1, std::chrono::seconds(10)));
      settle();
      ASSERT_TRUE(overlayShown());
    }
    if (how == How::windowGoneWhileUploading) {
      uikit::UIApplication::shared().disconnect(scene);
      host.reset();
      window.reset();
      scene.reset();
    } else {
      host->dismiss(true);
    }
    settle();
    EXPECT_EQ(journal->events, (std::vector<std::string>{"delegate:cancel", "completion"}));
    EXPECT_EQ(describe(journal->results.at(0)), "User cancelled the verification process.");
    EXPECT_FALSE(overlayShown());
    if (uploading) {
      dispatch::MainLoop::runUntil([] { return false; }, 1.7);
      settle();
    }
    EXPECT_EQ(journal->events.size(), 2u);
  }
}

// A start while a flow is shown is refused at once and the shown flow goes
// on, also when eight threads start together (one flow, seven refusals, all
// answered on the main thread).
TEST_F(EntryTest, AStartWhileAFlowIsShownIsRefused) {
  const std::string busy = "Verification failed: A verification is already in progress";
  for (int threads : {0, 8}) {
    SCOPED_TRACE(threads);
    restart();
    std::mutex mutex;
    std::vector<std::string> answers;
    auto record = [&](const MorvikVerificationResult& result) {
      std::lock_guard lock(mutex);
      answers.push_back((dispatch::isMainThread() ? "" : "off-main:") + describe(result));
    };
    if (threads == 0) {
      MorvikVerify::startFaceDetection("first@example.com", journal->handler("completion"));
      settle();
      MorvikVerify::startFaceDetection("second@example.com", record);
      morvik::presentMorvikDocumentScan(*host, "third@example.com", record);
      EXPECT_EQ(answers, (std::vector<std::string>{busy, busy}));
      EXPECT_EQ(MorvikVerify::Internal::currentEmail(), "first@example.com");
    } else {
      std::vector<std::thread> starters;
      for (int t = 0; t < threads; ++t) {
        starters.emplace_back([&] { MorvikVerify::startFaceDetection("t@example.com", record); });
      }
      for (auto& starter : starters) starter.join();
      settle();
      EXPECT_EQ(answers, std::vector<std::string>(threads - 1, busy));
    }
    ASSERT_TRUE(faceScreen());
    EXPECT_FALSE(flow()->presentedViewController()) << "one flow, nothing stacked on it";
    tapClose();
    EXPECT_FALSE(host->presentedViewController());
    // One answer per start: the accepted one hears of the Close.
    const std::string cancelled = "User cancelled the verification process.";
    if (threads == 0) {
      EXPECT_EQ(journal->events, (std::vector<std::string>{"delegate:cancel", "completion"}));
      EXPECT_EQ(answers.size(), 2u);
    } else {
      EXPECT_EQ(answers.size(), static_cast<std::size_t>(threads));
      EXPECT_EQ(answers.back(), cancelled);
    }
  }
}

// A per-controller start from a controller that is already presenting
// presents from the top of what it presents.
TEST_F(EntryTest, AStartFromAPresentingControllerPresentsOnTop) {
  auto modal = std::make_shared<uikit::UIViewController>();
  modal->setModalPresentationStyle(uikit::UIModalPresentationStyle::fullScreen);
  host->present(modal, false);
  settle();
  morvik::presentMorvikFaceDetection(*host, "ada@example.com", journal->handler("completion"));
  settle();
  auto navigation =
      std::dynamic_pointer_cast<uikit::UINavigationController>(modal->presentedViewController());
  ASSERT_TRUE(navigation);
  auto screen = navigation->viewControllers().at(0);
  ASSERT_TRUE(screen->navigationItem().leftBarButtonItem->sendAction());
  settle();
  EXPECT_EQ(journal->events, (std::vector<std::string>{"delegate:cancel", "completion"}));
}

// Close takes the flow away wherever it was presented from, and reports it.
TEST_F(EntryTest, CloseWorksFromAnyWindow) {
  for (bool firstWindowHasRoot : {false, true}) {
    SCOPED_TRACE(firstWindowHasRoot ? "flow in a second window" : "first window without a root");
    restart();
    auto other = uikit::UIApplication::shared().connectWindowScene();
    uikit::UIApplication::shared().disconnect(scene);
    scene = other;
    window = scene->makeWindow();
    if (firstWindowHasRoot) window->setRootViewController(std::make_shared<uikit::UIViewController>());
    auto second = scene->makeWindow();
    host = std::make_shared<uikit::UIViewController>();
    second->setRootViewController(host);
    second->makeKeyAndVisible();
    settle();
    startFace("ada@example.com");
    tapClose();
    EXPECT_FALSE(host->presentedViewController());
    EXPECT_EQ(journal->events, (std::vector<std::string>{"delegate:cancel", "completion"}));
  }
}

// The document road from the static start to the result screen's Done.
TEST_F(EntryTest, DocumentScanEndsThroughTheResultScreensDone) {
  using Access = morvik::IDScanStepsVCTestAccess;
  server.setDefaultReply(ScriptedReply::json(200, std::string(morvik::samples::kFullVerdictReply)));
  MorvikVerify::startDocumentScan("ada@example.com", journal->handler("completion"));
  settle();
  auto navigation = flow();
  ASSERT_TRUE(navigation);
  auto list = std::dynamic_pointer_cast<morvik::IDScanStepsVC>(navigation->viewControllers().at(0));
  ASSERT_TRUE(list);
  EXPECT_EQ(list->documentType(), morvik::IDDocumentType::driversLicenseOrIDCard);
  ASSERT_TRUE(list->navigationItem().leftBarButtonItem);

  ASSERT_NO_FATAL_FAILURE(steptest::captureEveryStep(*list, *navigation, settle));
  ASSERT_EQ(navigation->topViewController(), list);
  Access::button(*list, "Submit")->sendActions(uikit::UIControlEvents::touchUpInside);
  settle();
  std::shared_ptr<morvik::VerifiedScreen> result;
  for (int i = 0; i < 400 && !result; ++i) {
    dispatch::MainLoop::runUntil([] { return false; }, 0.025);
    settle();
    result = std::dynamic_pointer_cast<morvik::VerifiedScreen>(navigation->topViewController());
  }
  ASSERT_TRUE(result);
  EXPECT_EQ(server.requests().at(0).part("email")->bytes, "ada@example.com");
  EXPECT_TRUE(journal->events.empty());
  ASSERT_TRUE(result->doneButton());
  result->doneButton()->sendActions(uikit::UIControlEvents::touchUpInside);
  ASSERT_TRUE(awaitEvents(2));
  EXPECT_EQ(journal->events, (std::vector<std::string>{"delegate:verified", "completion"}));
  EXPECT_TRUE(journal->results.at(0).documentData());
  EXPECT_FALSE(host->presentedViewController());
}

}  // namespace

// The declarative integration hosted in a window: the modifier, the button,
// the manager with its auto-presenter and the demo screen, driven through
// the test driver against the loopback server over HTTPS. Photos reach the
// flows through the capture screens' own callbacks (the camera road is
// covered by tests/flow/capture and by the demo).
#include <gtest/gtest.h>
#include <morvik/MorvikVerify.h>
#include <morvik/api/APIManager.h>
#include <morvik/flow/MorvikVerifyInternal.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/swiftui/Testing.h>
#include <morvik/platform/uikit.h>
#include <morvik/support/LoadingOverlay.h>

#include <string>
#include <vector>

#include "api/ApiTestSupport.h"
#include "api/models/FullVerdictReply.h"
#include "fixtures/generators/Generators.h"
#include "fixtures/host/ConfigureSDK.h"
#include "fixtures/host/HostJournal.h"
#include "fixtures/server/LoopbackServer.h"
#include "flow/steps/StepListTestSupport.h"

namespace {

using fixtures::LoopbackServer;
using fixtures::ScriptedReply;
using fixtures::host::describe;
using fixtures::host::Journal;
using fixtures::host::selfie;
using morvik::IDCaptureVC;
using morvik::MorvikVerificationResult;
using morvik::MorvikVerificationType;
using morvik::MorvikVerify;
using morvik::MorvikVerifyManager;
using swiftui::AnyView;
using swiftui::State;
namespace driver = swiftui::testing;

const std::string kCancelled = "User cancelled the verification process.";
const std::string kEmailRequired = "Verification failed: Email is required for face detection";

// A host screen that carries the modifier (or a button) over its content.
struct ModifierHost : swiftui::View {
  enum class Kind { documentScan, faceDetection, verify, button };
  Kind kind;
  std::shared_ptr<Journal> journal;
  State<bool> presented{false};
  State<std::optional<std::string>> email;
  ModifierHost(Kind kind, std::shared_ptr<Journal> journal, std::optional<std::string> address)
      : kind(kind), journal(std::move(journal)), email(std::move(address)) {}
  AnyView body() const override {
    AnyView content = swiftui::Text::verbatim("Host content");
    auto onResult = journal->handler("onResult");
    switch (kind) {
      case Kind::documentScan:
        return morvik::morvikDocumentScan(content, presented.projectedValue(), email.get(), onResult);
      case Kind::faceDetection:
        return morvik::morvikFaceDetection(content, presented.projectedValue(), email.get().value_or(""),
                                           onResult);
      case Kind::verify:
        return morvik::morvikVerify(content, presented.projectedValue(),
                                    MorvikVerificationType::faceDetection, email.get(), onResult);
      case Kind::button:
        return swiftui::VStack(
            {content, morvik::MorvikVerifyButton("Verify me", MorvikVerificationType::faceDetection,
                                                 email.get(), onResult)});
    }
    return content;
  }
};

// A screen that attaches the auto-presenter.
struct AutoHost : swiftui::View {
  AnyView body() const override { return morvik::morvikVerifyEnabled(swiftui::Text("Managed")); }
};

class DeclarativeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    avf::VirtualCamera::unregisterAll();  // capture screens find no camera: nothing runs behind them
    dispatch::clock::useManualClock();
    apitest::setPath(morvik::APIManager::shared(), true);
    fixtures::host::configureSDK(server, "test-key");
    server.setDefaultReply(ScriptedReply::json(200, std::string(morvik::samples::kFullVerdictReply)));
    journal = std::make_shared<Journal>();
    MorvikVerify::shared().setDelegate(journal);
    scene = uikit::UIApplication::shared().connectWindowScene();
    window = scene->makeWindow();
  }

  void TearDown() override {
    settle();
    auto manager = MorvikVerifyManager::shared();
    manager->isPresented = false;
    if (scene) uikit::UIApplication::shared().disconnect(scene);
    host.reset();
    window.reset();
    scene.reset();
    settle();
    MorvikVerify::Internal::setCompletionHandler(nullptr);
    auto& api = morvik::APIManager::shared();
    api.setTrustedCertificateForTesting("");
    dispatch::clock::useRealClock();
  }

  template <class V>
  void show(V view) {
    host = std::make_shared<swiftui::UIHostingController<V>>(std::move(view));
    window->setRootViewController(host);
    window->makeKeyAndVisible();
    settle();
  }
  template <class V>
  V& rootOf() {
    return const_cast<V&>(static_cast<swiftui::UIHostingController<V>&>(*host).rootView());
  }

  // Runs the main queue and moves the manual clock past every transition.
  static void settle() {
    for (int i = 0; i < 6; ++i) {
      dispatch::MainLoop::drain();
      dispatch::clock::advance(0.5);
    }
    dispatch::MainLoop::drain();
  }
  // Waits (bounded, real time) until `done` holds, for replies of the server.
  static bool await(const std::function<bool()>& done) {
    for (int i = 0; i < 400 && !done(); ++i) {
      dispatch::MainLoop::runUntil(done, 0.025);
      dispatch::clock::advance(0.1);
    }
    settle();
    return done();
  }

  // The hosted flow: the navigation controller inside the cover.
  std::shared_ptr<uikit::UINavigationController> flow() const {
    auto cover = host ? host->presentedViewController() : nullptr;
    if (!cover || cover->children().empty()) return nullptr;
    return std::dynamic_pointer_cast<uikit::UINavigationController>(cover->children().front());
  }
  std::shared_ptr<uikit::UIViewController> flowRoot() const {
    auto navigation = flow();
    return navigation && !navigation->viewControllers().empty() ? navigation->viewControllers().front()
                                                                : nullptr;
  }
  std::shared_ptr<IDCaptureVC> faceScreen() const {
    return std::dynamic_pointer_cast<IDCaptureVC>(flowRoot());
  }
  void deliverPhoto(std::shared_ptr<uikit::UIImage> image) {
    auto screen = faceScreen();
    ASSERT_TRUE(screen && screen->onCaptured);
    screen->onCaptured(std::move(image));
  }
  void tapClose() {
    auto root = flowRoot();
    ASSERT_TRUE(root && root->navigationItem().leftBarButtonItem);
    EXPECT_EQ(root->navigationItem().leftBarButtonItem->systemItem(),
              uikit::UIBarButtonItem::SystemItem::close);
    ASSERT_TRUE(root->navigationItem().leftBarButtonItem->sendAction());
    settle();
  }
  // Walks the document road: each step's capture, Submit, then the result
  // screen's Done.
  void walkDocumentRoad() {
    using Access = morvik::IDScanStepsVCTestAccess;
    auto navigation = flow();
    ASSERT_TRUE(navigation);
    auto list = std::dynamic_pointer_cast<morvik::IDScanStepsVC>(flowRoot());
    ASSERT_TRUE(list);
    ASSERT_NO_FATAL_FAILURE(steptest::captureEveryStep(*list, *navigation, settle));
    Access::button(*list, "Submit")->sendActions(uikit::UIControlEvents::touchUpInside);
    settle();
    std::shared_ptr<morvik::VerifiedScreen> result;
    ASSERT_TRUE(await([&] {
      result = std::dynamic_pointer_cast<morvik::VerifiedScreen>(navigation->topViewController());
      return result != nullptr;
    }));
    result->doneButton()->sendActions(uikit::UIControlEvents::touchUpInside);
  }

  LoopbackServer server{LoopbackServer::Scheme::https};
  std::shared_ptr<Journal> journal;
  std::shared_ptr<uikit::UIWindowScene> scene;
  std::shared_ptr<uikit::UIWindow> window;
  std::shared_ptr<swiftui::UIHostingControllerBase> host;
};

using Kind = ModifierHost::Kind;

// Close, and the end of each road, each deliver exactly one onResult, lower
// the host's flag and take the cover away.
TEST_F(DeclarativeTest, EveryWayOutDeliversOneResultAndLowersTheFlag) {
  struct Row {
    const char* name;
    Kind kind;
    std::optional<std::string> email;
    std::string how;  // close, face, document
    ScriptedReply reply;
    std::vector<std::string> events;
    bool verified;
    bool record;
    std::string error;
    std::size_t uploads;
  };
  const std::string verdict(morvik::samples::kFullVerdictReply);
  const Row rows[] = {
      {"close, document scan",
       Kind::documentScan,
       "ada@example.com",
       "close",
       ScriptedReply::json(200, verdict),
       {"onResult"},
       false,
       false,
       kCancelled,
       0},
      {"close, face",
       Kind::faceDetection,
       "ada@example.com",
       "close",
       ScriptedReply::json(200, verdict),
       {"onResult"},
       false,
       false,
       kCancelled,
       0},
      {"face, 200 with verdict",
       Kind::faceDetection,
       "ada@example.com",
       "face",
       ScriptedReply::json(200, verdict),
       {"delegate:verified", "onResult"},
       true,
       true,
       "none",
       1},
      {"face, 201 without verdict",
       Kind::verify,
       "ada@example.com",
       "face",
       ScriptedReply::json(201, R"({"success": false, "message": "Face does not match"})"),
       {"delegate:failed", "onResult"},
       false,
       false,
       "Verification failed: Face does not match",
       1},
      {"face, 201 without message",
       Kind::verify,
       "ada@example.com",
       "face",
       ScriptedReply::json(201, "{}"),
       {"delegate:failed", "onResult"},
       false,
       false,
       "Verification failed: Verification failed",
       1},
      {"face, 300 with verdict",
       Kind::faceDetection,
       "ada@example.com",
       "face",
       ScriptedReply::json(300, verdict),
       {"delegate:failed", "onResult"},
       false,
       true,
       "Verification failed: Document verified successfully",
       1},
      {"face, empty address",
       Kind::faceDetection,
       "",
       "face",
       ScriptedReply::json(200, verdict),
       {"delegate:failed", "onResult"},
       false,
       false,
       kEmailRequired,
       0},
      {"document road, Done",
       Kind::documentScan,
       std::nullopt,
       "document",
       ScriptedReply::json(200, verdict),
       {"delegate:verified", "onResult"},
       true,
       true,
       "none",
       1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    journal->events.clear();
    journal->results.clear();
    server.clearRequests();
    server.setDefaultReply(row.reply);
    show(ModifierHost(row.kind, journal, row.email));
    auto& view = rootOf<ModifierHost>();
    view.presented.set(true);
    settle();
    ASSERT_TRUE(flow()) << window->recursiveDescription();
    EXPECT_EQ(MorvikVerify::Internal::currentEmail(), row.email);

    if (row.how == "close") {
      tapClose();
    } else if (row.how == "face") {
      deliverPhoto(selfie());
      // The result comes once the flow's dismissal has finished.
      ASSERT_TRUE(await([&] { return !journal->events.empty() && journal->events.back() == "onResult"; }));
    } else {
      walkDocumentRoad();
      ASSERT_TRUE(await([&] { return !journal->events.empty() && journal->events.back() == "onResult"; }));
    }
    settle();
    EXPECT_EQ(journal->events, row.events);
    ASSERT_EQ(journal->results.size(), 1u);
    const auto& result = journal->results[0];
    EXPECT_EQ(result.isVerified(), row.verified);
    EXPECT_EQ(result.documentData().has_value(), row.record);
    EXPECT_EQ(describe(result), row.error);
    EXPECT_FALSE(view.presented.get());
    EXPECT_FALSE(host->presentedViewController());
    EXPECT_EQ(server.requestCount(), row.uploads);
  }
}

// The declarative face road sends one upload however many photos the screen
// takes meanwhile; a cover the host lowers during the upload takes the
// overlay with it, and the late reply adds nothing (no result, as for any
// cover the host lowers).
TEST_F(DeclarativeTest, FaceRoadUploadsOncePerPhotoAndDropsItsOverlayWithTheCover) {
  auto overlayShown = [] { return morvik::LoadingOverlay::shared()->superview() != nullptr; };
  for (bool lowered : {false, true}) {
    SCOPED_TRACE(lowered ? "cover lowered during the upload" : "reply awaited");
    journal->events.clear();
    server.clearRequests();
    auto reply = ScriptedReply::json(200, std::string(morvik::samples::kFullVerdictReply));
    reply.delay = std::chrono::milliseconds(lowered ? 1500 : 400);
    server.setDefaultReply(reply);
    show(ModifierHost(Kind::faceDetection, journal, "ada@example.com"));
    auto& view = rootOf<ModifierHost>();
    view.presented.set(true);
    settle();
    deliverPhoto(selfie());
    ASSERT_TRUE(server.waitForRequestCount(1, std::chrono::seconds(10)));
    settle();
    EXPECT_TRUE(overlayShown());
    for (int more = 0; more < 3; ++more) deliverPhoto(selfie());
    if (lowered) {
      view.presented.set(false);
      settle();
      EXPECT_FALSE(overlayShown());
      dispatch::MainLoop::runUntil([] { return false; }, 1.7);
      settle();
      EXPECT_TRUE(journal->events.empty());
    } else {
      ASSERT_TRUE(await([&] { return !journal->events.empty(); }));
      EXPECT_EQ(journal->events, (std::vector<std::string>{"delegate:verified", "onResult"}));
    }
    EXPECT_FALSE(overlayShown());
    EXPECT_EQ(server.requestCount(), 1u);
  }
}

TEST_F(DeclarativeTest, FlowIsBuiltFromTheValuesItWasShownWith) {
  // An earlier presentation's address is replaced, by nil too.
  MorvikVerify::Internal::setCurrentEmail("earlier@example.com");
  show(ModifierHost(Kind::documentScan, journal, std::nullopt));
  auto& view = rootOf<ModifierHost>();
  view.presented.set(true);
  settle();
  ASSERT_TRUE(flow());
  EXPECT_EQ(MorvikVerify::Internal::currentEmail(), std::nullopt);
  auto shown = flow();

  // Later changes to the view's fields reach nothing in the running flow.
  view.email.set("later@example.com");
  settle();
  EXPECT_EQ(flow(), shown);
  EXPECT_EQ(MorvikVerify::Internal::currentEmail(), std::nullopt);

  // The host lowering its flag removes the cover without a result.
  view.presented.set(false);
  settle();
  EXPECT_FALSE(host->presentedViewController());
  EXPECT_TRUE(journal->events.empty());
}

TEST_F(DeclarativeTest, ButtonShowsItsTitleUnchangedAndPresentsOnEveryTap) {
  swiftui::setLocalizedStrings({{"Verify me", "Translated"}});
  show(ModifierHost(Kind::button, journal, "ada@example.com"));
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(driver::tapButton(window, "Verify me")) << window->recursiveDescription();
    settle();
    ASSERT_TRUE(faceScreen());
    tapClose();
    EXPECT_FALSE(host->presentedViewController());
    ASSERT_EQ(journal->results.size(), static_cast<std::size_t>(round + 1));
    EXPECT_EQ(describe(journal->results.back()), kCancelled);
  }
  swiftui::setLocalizedStrings({});
}

TEST_F(DeclarativeTest, ManagerHandsEachResultToTheLatestStartOnce) {
  auto manager = MorvikVerifyManager::shared();
  std::vector<bool> published;
  auto watch = manager->lastResult.projectedValue().sink(
      [&](const std::optional<MorvikVerificationResult>& r) { published.push_back(r.has_value()); });
  published.clear();

  // No view carries the auto-presenter: the flag rises, nothing is shown.
  show(ModifierHost(Kind::documentScan, journal, "x@example.com"));
  int firstCalls = 0;
  manager->startFaceDetection("ada@example.com", [&](const MorvikVerificationResult&) { ++firstCalls; });
  settle();
  EXPECT_TRUE(manager->isPresented.get());
  EXPECT_FALSE(host->presentedViewController());

  // Shown by the auto-presenter; a second start while it is up replaces the
  // completion, and the cover keeps the flow built from the first.
  show(AutoHost());
  ASSERT_TRUE(faceScreen());
  EXPECT_EQ(MorvikVerify::Internal::currentEmail(), "ada@example.com");
  manager->startDocumentScan(std::nullopt, journal->handler("second"));
  settle();
  EXPECT_TRUE(faceScreen());
  EXPECT_EQ(MorvikVerify::Internal::currentEmail(), "ada@example.com");

  tapClose();
  EXPECT_EQ(firstCalls, 0);
  EXPECT_EQ(journal->events, (std::vector<std::string>{"second"}));
  EXPECT_EQ(describe(journal->results.at(0)), kCancelled);
  EXPECT_EQ(published, (std::vector<bool>{true, true}));  // Close publishes the cancellation twice
  EXPECT_FALSE(manager->isPresented.get());
  EXPECT_EQ(manager->email, std::nullopt);
  EXPECT_FALSE(host->presentedViewController());

  // A verified face: the type stays, the address goes.
  journal->events.clear();
  manager->startFaceDetection("ada@example.com", journal->handler("face"));
  settle();
  deliverPhoto(selfie());
  ASSERT_TRUE(await([&] { return !journal->events.empty(); }));
  EXPECT_EQ(journal->events, (std::vector<std::string>{"delegate:verified", "face"}));
  EXPECT_EQ(manager->verificationType, MorvikVerificationType::faceDetection);
  EXPECT_EQ(manager->email, std::nullopt);

  // A document scan with no address builds its view with none.
  MorvikVerify::Internal::setCurrentEmail("stale@example.com");
  manager->startDocumentScan(std::nullopt, journal->handler("doc"));
  settle();
  ASSERT_TRUE(std::dynamic_pointer_cast<morvik::IDScanStepsVC>(flowRoot()));
  EXPECT_EQ(MorvikVerify::Internal::currentEmail(), std::nullopt);

  // The host lowering the flag removes the cover; the result and the
  // completion stay as they were.
  journal->events.clear();
  published.clear();
  manager->isPresented = false;
  settle();
  EXPECT_FALSE(host->presentedViewController());
  EXPECT_TRUE(published.empty());
  EXPECT_TRUE(journal->events.empty());
  MorvikVerify::Internal::completeVerification(
      std::nullopt);  // a late outcome still finds the stored completion
  settle();
  EXPECT_EQ(journal->events, (std::vector<std::string>{"delegate:failed", "doc"}));
}

TEST_F(DeclarativeTest, StartFromInsideACloseCompletionKeepsTheNewStart) {
  auto manager = MorvikVerifyManager::shared();
  show(AutoHost());
  int retries = 0;
  manager->startFaceDetection("ada@example.com", [&](const MorvikVerificationResult&) {
    manager->startFaceDetection("ada@example.com", journal->handler("retry"));
    ++retries;
  });
  settle();
  tapClose();
  EXPECT_EQ(retries, 1);
  // The retry is neither lowered nor handed the first flow's cancellation.
  EXPECT_TRUE(journal->events.empty());
  EXPECT_TRUE(manager->isPresented.get());
  EXPECT_EQ(manager->email, "ada@example.com");
  settle();
  ASSERT_TRUE(faceScreen());
  tapClose();
  EXPECT_EQ(journal->events, (std::vector<std::string>{"retry"}));
}

class ExampleViewTest : public DeclarativeTest {
 protected:
  std::string status() const {
    // The grey line between the field and the buttons.
    auto field = driver::findTextField(host->view(), "Email");
    auto stack = field ? field->superview()->superview() : nullptr;
    auto stackView = std::dynamic_pointer_cast<uikit::UIStackView>(stack);
    if (!stackView || stackView->arrangedSubviews().size() < 3) return "?";
    auto label = std::dynamic_pointer_cast<uikit::UILabel>(stackView->arrangedSubviews()[2]);
    return label && label->text() ? *label->text() : "?";
  }
};

TEST_F(ExampleViewTest, StatusLineFollowsEachFinishedVerification) {
  show(morvik::MorvikVerifyExampleView());
  auto root = host->view();
  std::string tree = root->recursiveDescription();
  ASSERT_TRUE(driver::findLabel(root, "MorvikVerify SDK")) << tree;
  EXPECT_EQ(driver::findLabel(root, "MorvikVerify SDK")->font().pointSize(), 28);
  auto field = driver::findTextField(root, "Email");
  ASSERT_TRUE(field && field->hasRoundedBorder());
  EXPECT_FALSE(field->text().empty());
  EXPECT_EQ(status(), "Not verified");
  auto docButton = driver::findButton(root, "Document Scan");
  auto faceButton = driver::findButton(root, "Face Detection");
  ASSERT_TRUE(docButton && faceButton);
  EXPECT_EQ(docButton->superview()->backgroundColor(), uikit::UIColor::systemBlue());
  EXPECT_EQ(faceButton->superview()->backgroundColor(), uikit::UIColor::systemGreen());
  EXPECT_EQ(docButton->currentTitleColor(), uikit::UIColor::white());

  // Close.
  ASSERT_TRUE(driver::tapButton(root, "Face Detection"));
  settle();
  tapClose();
  EXPECT_EQ(status(), "Error: " + kCancelled);

  // A verified document scan, after Done.
  ASSERT_TRUE(driver::tapButton(root, "Document Scan"));
  settle();
  walkDocumentRoad();
  ASSERT_TRUE(await([&] { return status() == "Document Verified"; })) << status();
  EXPECT_EQ(server.requests().at(0).part("email")->bytes, field->text());

  // A negative result without an error leaves the line as it was.
  ASSERT_TRUE(driver::tapButton(root, "Document Scan"));
  settle();
  MorvikVerify::Internal::completeVerification(std::nullopt);
  settle();
  EXPECT_FALSE(host->presentedViewController());
  EXPECT_EQ(status(), "Document Verified");

  // The e-mail field emptied: the face road refuses after the capture.
  ASSERT_TRUE(driver::typeText(root, "Email", ""));
  settle();
  ASSERT_TRUE(driver::tapButton(root, "Face Detection"));
  settle();
  deliverPhoto(selfie());
  settle();
  EXPECT_EQ(status(), "Error: " + kEmailRequired);
  EXPECT_FALSE(host->presentedViewController());
}

TEST_F(ExampleViewTest, HostReleasedWhileItsCoverIsUp) {
  show(morvik::MorvikVerifyExampleView());
  ASSERT_TRUE(driver::tapButton(host->view(), "Face Detection"));
  settle();
  ASSERT_TRUE(faceScreen());
  std::weak_ptr<swiftui::UIHostingControllerBase> weak = host;
  window->setRootViewController(std::make_shared<uikit::UIViewController>());
  host.reset();
  settle();
  // The flow's outcome still arrives: nothing of the released screen is
  // touched, and nothing crashes.
  MorvikVerify::Internal::completeWithError(morvik::MorvikVerifyError::verificationFailed("late"));
  settle();
  EXPECT_FALSE(MorvikVerifyManager::shared()->isPresented.get());
  EXPECT_TRUE(weak.expired());
}

}  // namespace

// Submit over the HTTPS loopback server: what goes on the wire, and what the
// user sees for each kind of reply.
#include <gtest/gtest.h>
#include <morvik/api/AuthServices.h>
#include <morvik/api/models/JSONCoding.h>
#include <morvik/flow/MorvikVerifyInternal.h>
#include <morvik/platform/foundation/Console.h>
#include <morvik/platform/network/Testing.h>
#include <morvik/support/LoadingOverlay.h>

#include "StepListTestSupport.h"
#include "api/ApiTestSupport.h"
#include "api/models/FullVerdictReply.h"
#include "flow/steps/DebugSwitch.h"
#include "morvik/api/models/Response.h"

namespace steptest {
namespace {

using fixtures::LoopbackServer;
using fixtures::ScriptedReply;
using morvik::APIManager;

const auto* const kSatisfiedPath = ::testing::AddGlobalTestEnvironment(new apitest::SatisfiedPathEnvironment);

// Replies come a moment later, so the overlay is seen up before they arrive:
// long enough for the drain after the tap even under ASan on a loaded machine
// (at 50 ms the reply's hide sometimes ran in that same drain).
constexpr std::chrono::milliseconds kReplyDelay{400};

ScriptedReply reply(int status, std::string body) {
  auto r = ScriptedReply::json(status, std::move(body));
  r.delay = kReplyDelay;
  return r;
}

class SubmitTest : public StepListTest {
 protected:
  void SetUp() override {
    StepListTest::SetUp();
    network::testhooks::injectReachabilityFlags(network::SCNetworkReachabilityFlags::reachable);
    auto& manager = APIManager::shared();
    manager.setBaseURL(foundation::URL::string(server.baseURL()));
    manager.setTrustedCertificateForTesting(server.caCertificatePEM());
    manager.setApiKey("test-key-7");
    morvik::MorvikVerify::Internal::setCurrentEmail(std::nullopt);
    server.setDefaultReply(reply(200, std::string(morvik::samples::kFullVerdictReply)));
  }
  void TearDown() override {
    morvik::LoadingOverlay::hide();
    network::testhooks::injectReachabilityFlags(std::nullopt);
    auto& manager = APIManager::shared();
    apitest::setPath(manager, true);
    manager.setBaseURL(foundation::URL::string(APIManager::kDevelopmentBaseURL));
    manager.setTrustedCertificateForTesting("");
    manager.setApiKey(std::nullopt);
    morvik::MorvikVerify::Internal::setCurrentEmail(std::nullopt);
    StepListTest::TearDown();
  }

  static bool overlayShown() { return morvik::LoadingOverlay::shared()->superview() != nullptr; }

  // Taps Submit and waits for the reply to be handled: the overlay goes up,
  // and comes down only in the reply's handler.
  void submitAndAwaitReply() {
    Access::button(*list, "Submit")->sendActions(uikit::UIControlEvents::touchUpInside);
    dispatch::MainLoop::drain();
    ASSERT_TRUE(overlayShown());
    ASSERT_TRUE(dispatch::MainLoop::runUntil([] { return !overlayShown(); }, 20));
    settle();
  }

  std::shared_ptr<uikit::UIAlertController> alert() const {
    return std::dynamic_pointer_cast<uikit::UIAlertController>(nav->presentedViewController());
  }

  static std::vector<std::string> partNames(const fixtures::ReceivedRequest& request) {
    std::vector<std::string> names;
    for (const auto& part : request.parts) {
      names.push_back(part.name + (part.fileName ? "" : "=" + part.bytes));
    }
    return names;
  }

  LoopbackServer server{LoopbackServer::Scheme::https};
  foundation::ScopedConsoleCapture quiet;  // verdict lines stay out of the test log
};

TEST_F(SubmitTest, LicenceScanSendsEachImageInItsRoleAndShowsTheVerdict) {
  apitest::StoredUser user(apitest::userWithToken("tok-42"));
  morvik::MorvikVerify::Internal::setCurrentEmail("ada@example.com");
  show();
  captureAll();  // widths 600, 640, 680 for front, back and face
  foundation::ScopedConsoleCapture console;
  submitAndAwaitReply();

  ASSERT_EQ(server.requestCount(), 1u);
  const auto request = server.requests()[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/api/upload");
  EXPECT_EQ(request.header("Accept"), "application/json");
  EXPECT_EQ(request.header("x-secret-key"), "test-key-7");
  EXPECT_EQ(request.header("Authorization"), "Bearer tok-42");
  ASSERT_TRUE(request.multipartWellFormed);
  EXPECT_EQ(partNames(request),
            (std::vector<std::string>{"documentFront", "documentBack", "livePhoto", "age=23",
                                      "documentType=1", "email=ada@example.com"}));
  const int widths[] = {600, 640, 680};
  for (int i = 0; i < 3; ++i) {
    const auto& part = request.parts[i];
    EXPECT_EQ(part.fileName, part.name + ".jpg");
    EXPECT_EQ(part.contentType, "image/jpeg");
    foundation::Data bytes;
    bytes.vector().assign(part.bytes.begin(), part.bytes.end());
    auto decoded = uikit::UIImage::fromData(bytes);
    ASSERT_TRUE(decoded) << part.name;
    EXPECT_EQ(decoded->size().width, widths[i]) << part.name;
    // Quality 0.5, not a lossless or a full-quality encoding.
    EXPECT_EQ(bytes.count(), Access::images(*list)[i]->jpegData(0.5)->count()) << part.name;
  }

  // The console gets the request id alone; the verdict goes to one result screen.
  const auto verdict =
      *morvik::decodeJSON<morvik::Response>(morvik::samples::kFullVerdictReply).documentVerificationData;
  EXPECT_EQ(console.lines(),
            std::vector<std::string>{"MorvikVerify: verdict received, request id 9223372036854775807"});
  EXPECT_EQ(stackClasses(), (std::vector<std::string>{"IDScanStepsVC", "VerifiedScreen"}));
  auto result = std::dynamic_pointer_cast<morvik::VerifiedScreen>(top());
  ASSERT_TRUE(result && result->verificationData);
  EXPECT_EQ(morvik::encodeJSON(*result->verificationData), morvik::encodeJSON(verdict));
  EXPECT_FALSE(overlayShown());
  // The list itself is unchanged.
  EXPECT_EQ(statuses(), std::vector<Status>(3, Status::completed));
}

TEST_F(SubmitTest, EachDocumentTypeSendsItsRolesAndCode) {
  struct Case {
    IDDocumentType type;
    std::vector<std::string> parts;
  };
  const Case cases[] = {
      {IDDocumentType::passport, {"documentFront", "livePhoto", "age=23", "documentType=2", "email="}},
      {IDDocumentType::passportCard,
       {"documentFront", "documentBack", "livePhoto", "age=23", "documentType=3", "email="}},
      {IDDocumentType::internationalID, {"documentBack", "livePhoto", "age=23", "documentType=5", "email="}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type.title()));
    server.clearRequests();
    show(c.type);
    captureAll();
    submitAndAwaitReply();
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(partNames(server.requests()[0]), c.parts);
    uikit::UIApplication::shared().disconnect(scene);
    scene.reset();
    settle();
  }
}

TEST_F(SubmitTest, StepsWithoutImagesSendOnlyTheTexts) {
  morvik::MorvikVerify::Internal::setCurrentEmail("bo@example.com");
  show();
  tap("Start");
  for (int i = 0; i < 3; ++i) deliver(nullptr);
  submitAndAwaitReply();
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(partNames(server.requests()[0]),
            (std::vector<std::string>{"age=23", "documentType=1", "email=bo@example.com"}));
}

TEST_F(SubmitTest, OfflineShowsTheAlertSendsNothingAndTheNextPressTestsAgain) {
  show();
  captureAll();
  network::testhooks::injectReachabilityFlags(network::SCNetworkReachabilityFlags{});
  tap("Submit");
  ASSERT_TRUE(alert());
  EXPECT_EQ(alert()->title(), "MorvikVerify");
  EXPECT_EQ(alert()->message(),
            "It seems you are not connected to the internet. Kindly connect and try again");
  EXPECT_FALSE(overlayShown());
  EXPECT_EQ(server.requestCount(), 0u);
  ASSERT_TRUE(alert()->triggerAction("Ok"));
  settle();

  network::testhooks::injectReachabilityFlags(network::SCNetworkReachabilityFlags::reachable);
  submitAndAwaitReply();
  EXPECT_EQ(server.requestCount(), 1u);
  EXPECT_TRUE(std::dynamic_pointer_cast<morvik::VerifiedScreen>(top()));
}

TEST_F(SubmitTest, AVerdictIsShownAndAReplyWithoutOneIsAnAlert) {
  struct Case {
    const char* name;
    int status;
    std::string body;
    bool debugSwitch;
    std::vector<std::string> console;  // for a verdict
    std::string alert;                 // for a reply without one
  };
  const std::string full(morvik::samples::kFullVerdictReply);
  const auto fullJSON =
      morvik::encodeJSON(*morvik::decodeJSON<morvik::Response>(full).documentVerificationData);
  const std::string longMessage(5000, 'x');
  const Case cases[] = {
      {"verdict", 200, full, false, {"MorvikVerify: verdict received, request id 9223372036854775807"}, ""},
      {"verdict, debug switch on", 200, full, true, {fullJSON}, ""},
      {"verdict with 404",
       404,
       R"({"data": {"requestId": 7}})",
       false,
       {"MorvikVerify: verdict received, request id 7"},
       ""},
      {"verdict without request id",
       200,
       R"({"data": {}})",
       false,
       {"MorvikVerify: verdict received, request id none"},
       ""},
      {"no data with 200", 200, R"({"success": true, "message": "Queued"})", false, {}, "Queued"},
      {"no data with 500", 500, R"({"success": false, "message": "Scan failed"})", false, {}, "Scan failed"},
      {"error text only",
       503,
       R"({"error": "Down for maintenance", "message": ""})",
       false,
       {},
       "Down for maintenance"},
      {"msg text only", 422, R"({"msg": "Blurred image"})", false, {}, "Blurred image"},
      {"no text with 500", 500, "{}", false, {}, "HTTP 500 Internal Server Error"},
      {"no text, unusual status", 299, "{}", false, {}, "HTTP 299"},
      {"megabytes of message",
       500,
       R"({"message": ")" + longMessage + R"("})",
       false,
       {},
       std::string(300, 'x') + "\xE2\x80\xA6"},
  };
  show();
  captureAll();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    morvik::setVerdictDebugPrintForTesting(c.debugSwitch);
    server.enqueueReply(reply(c.status, c.body));
    foundation::ScopedConsoleCapture console;
    submitAndAwaitReply();
    morvik::setVerdictDebugPrintForTesting(std::nullopt);
    EXPECT_EQ(console.lines(), c.console);
    if (c.alert.empty()) {
      EXPECT_FALSE(alert());
      EXPECT_EQ(stackClasses(), (std::vector<std::string>{"IDScanStepsVC", "VerifiedScreen"}));
      nav->popToRootViewController(false);
    } else {
      EXPECT_EQ(top(), list);
      ASSERT_TRUE(alert());
      EXPECT_EQ(alert()->title(), "MorvikVerify");
      EXPECT_EQ(alert()->message(), c.alert);
      EXPECT_TRUE(alert()->triggerAction("Ok"));
      EXPECT_FALSE(Access::button(*list, "Submit")->isHidden());
    }
    settle();
  }
}

TEST_F(SubmitTest, FailuresShowTheClientsMessage) {
  struct Case {
    const char* name;
    ScriptedReply reply;
  };
  auto delayed = [](ScriptedReply r) {
    r.delay = kReplyDelay;
    return r;
  };
  const Case cases[] = {
      {"401", reply(401, "{}")},
      // (A connection closed before any reply is sent again by the HTTP
      // library on a new connection, so the transport failure is a cut body.)
      {"transport failure: reply cut short", delayed(ScriptedReply::cut(200, std::string(600, ' '), 100))},
      {"undecodable reply", reply(200, "<html>Bad gateway</html>")},
  };
  show();
  captureAll();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // What the client says of this reply, asked directly, is what the alert shows.
    server.enqueueReply(c.reply);
    apitest::Outcome direct;
    APIManager::Success success;
    APIManager::Failure failure;
    apitest::bind(direct, success, failure);
    morvik::AuthServices::shared().uploadDocuments("1", std::nullopt, std::nullopt, std::nullopt, "23", "",
                                                   success, failure);
    apitest::await(direct);
    ASSERT_TRUE(direct.message);

    server.enqueueReply(c.reply);
    submitAndAwaitReply();
    ASSERT_TRUE(alert());
    EXPECT_EQ(alert()->title(), "MorvikVerify");
    EXPECT_EQ(alert()->message(), direct.message);
    ASSERT_EQ(alert()->actions().size(), 1u);
    EXPECT_EQ(alert()->actions()[0].title, "Ok");
    EXPECT_EQ(alert()->actions()[0].style, uikit::UIAlertAction::Style::default_);
    ASSERT_TRUE(alert()->triggerAction("Ok"));
    settle();
  }

  // The client offline: it fails at once, and the overlay shown just before
  // still ends hidden.
  ASSERT_TRUE(apitest::setPath(APIManager::shared(), false));
  const auto sent = server.requestCount();
  tap("Submit");
  EXPECT_FALSE(overlayShown());
  ASSERT_TRUE(alert());
  EXPECT_EQ(alert()->message(), "No internet connection available");
  EXPECT_EQ(server.requestCount(), sent);
  EXPECT_EQ(top(), list);
}

// The host takes the flow away in code while the upload waits for its reply:
// the overlay goes at once, and the reply, whatever it is, changes nothing.
TEST_F(SubmitTest, RepliesAfterTheFlowIsGoneOnlyHideTheOverlay) {
  struct Case {
    const char* name;
    ScriptedReply reply;
    bool hostKeepsTheList;
  };
  const Case cases[] = {
      {"verdict, list kept", reply(200, std::string(morvik::samples::kFullVerdictReply)), true},
      {"verdict, list released", reply(200, std::string(morvik::samples::kFullVerdictReply)), false},
      {"no verdict, list kept", reply(500, R"({"message": "Scan failed"})"), true},
      {"failure, list released", reply(401, "{}"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    list = IDScanStepsVC::make(IDDocumentType::driversLicenseOrIDCard);
    nav = std::make_shared<uikit::UINavigationController>(list);
    nav->setModalPresentationStyle(uikit::UIModalPresentationStyle::fullScreen);
    scene = uikit::UIApplication::shared().connectWindowScene();
    window = scene->makeWindow();
    auto host = std::make_shared<uikit::UIViewController>();
    window->setRootViewController(host);
    window->makeKeyAndVisible();
    settle();
    host->present(nav, false);
    settle();
    captureAll();
    const std::weak_ptr<IDScanStepsVC> weakList = list;
    const std::weak_ptr<uikit::UINavigationController> weakNav = nav;

    server.enqueueReply(c.reply);
    foundation::ScopedConsoleCapture console;
    Access::button(*list, "Submit")->sendActions(uikit::UIControlEvents::touchUpInside);
    dispatch::MainLoop::drain();
    ASSERT_TRUE(overlayShown());
    host->dismiss(true);
    if (!c.hostKeepsTheList) {
      list.reset();
      nav.reset();
    }
    settle();
    EXPECT_EQ(weakList.expired(), !c.hostKeepsTheList);
    EXPECT_FALSE(overlayShown());

    // A later request with a longer wait is answered after the list's reply.
    ScriptedReply later = ScriptedReply::json(200, "{}");
    later.delay = 2 * kReplyDelay;
    server.enqueueReply(later);
    apitest::Outcome probe;
    APIManager::Success success;
    APIManager::Failure failure;
    apitest::bind(probe, success, failure);
    morvik::AuthServices::shared().uploadDocuments("1", std::nullopt, std::nullopt, std::nullopt, "23", "",
                                                   success, failure);
    apitest::await(probe);
    settle();
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_FALSE(overlayShown());
    EXPECT_FALSE(host->presentedViewController());
    EXPECT_TRUE(console.lines().empty());
    if (auto kept = weakNav.lock()) {
      EXPECT_EQ(stackClasses(), std::vector<std::string>{"IDScanStepsVC"});
      EXPECT_FALSE(kept->presentedViewController());
    }
    server.clearRequests();
    uikit::UIApplication::shared().disconnect(scene);
    scene.reset();
    list.reset();
    nav.reset();
    window.reset();
    settle();
  }
}

}  // namespace
}  // namespace steptest

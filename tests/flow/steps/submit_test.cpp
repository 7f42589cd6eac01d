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

  // The verdict is printed once and shown on one result screen.
  const auto verdict =
      *morvik::decodeJSON<morvik::Response>(morvik::samples::kFullVerdictReply).documentVerificationData;
  EXPECT_EQ(console.count(morvik::encodeJSON(verdict)), 1u);
  EXPECT_EQ(console.lines().size(), 1u);
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

TEST_F(SubmitTest, TheVerdictAloneDecidesWhatFollowsAReply) {
  struct Case {
    const char* name;
    int status;
    std::string body;
    bool resultScreen;
  };
  const std::string noData = R"({"success": true, "message": "Queued"})";
  const Case cases[] = {
      {"verdict with 200", 200, std::string(morvik::samples::kFullVerdictReply), true},
      {"verdict with 404", 404, R"({"success": false, "data": {"requestId": 7}})", true},
      {"no data with 200", 200, noData, false},
      {"no data with 500", 500, noData, false},
  };
  show();
  captureAll();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.enqueueReply(reply(c.status, c.body));
    foundation::ScopedConsoleCapture console;
    submitAndAwaitReply();
    EXPECT_FALSE(alert());
    if (c.resultScreen) {
      EXPECT_EQ(stackClasses(), (std::vector<std::string>{"IDScanStepsVC", "VerifiedScreen"}));
      EXPECT_EQ(console.lines().size(), 1u);
      nav->popToRootViewController(false);
      settle();
    } else {
      EXPECT_EQ(top(), list);
      EXPECT_TRUE(console.lines().empty());
      EXPECT_FALSE(Access::button(*list, "Submit")->isHidden());
    }
  }
}

TEST_F(SubmitTest, FailuresShowTheClientsMessage) {
  show();
  captureAll();

  // What the client says of a 401, asked directly, is what the alert shows.
  server.enqueueReply(reply(401, "{}"));
  apitest::Outcome direct;
  APIManager::Success success;
  APIManager::Failure failure;
  apitest::bind(direct, success, failure);
  morvik::AuthServices::shared().uploadDocuments("1", std::nullopt, std::nullopt, std::nullopt, "23", "",
                                                 success, failure);
  apitest::await(direct);
  ASSERT_TRUE(direct.message);

  server.enqueueReply(reply(401, "{}"));
  submitAndAwaitReply();
  ASSERT_TRUE(alert());
  EXPECT_EQ(alert()->title(), "MorvikVerify");
  EXPECT_EQ(alert()->message(), direct.message);
  ASSERT_EQ(alert()->actions().size(), 1u);
  EXPECT_EQ(alert()->actions()[0].title, "Ok");
  EXPECT_EQ(alert()->actions()[0].style, uikit::UIAlertAction::Style::default_);
  ASSERT_TRUE(alert()->triggerAction("Ok"));
  settle();

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

}  // namespace
}  // namespace steptest

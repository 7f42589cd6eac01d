#include <gtest/gtest.h>
#include <morvik/api/AuthServices.h>

#include <set>

#include "ApiTestSupport.h"
#include "fixtures/server/LoopbackServer.h"

using fixtures::LoopbackServer;
using morvik::APIManager;
using morvik::AuthServices;
using namespace apitest;

namespace {

// Drives the SDK's shared client against a loopback server, restoring it after.
class AuthServicesTest : public ::testing::Test {
 protected:
  void SetUp() override { point(server_); }
  void TearDown() override {
    auto& manager = APIManager::shared();
    manager.setBaseURL(foundation::URL::string(APIManager::kDevelopmentBaseURL));
    manager.setTrustedCertificateForTesting("");
    setPath(manager, true);
  }
  static void point(const LoopbackServer& server) {
    APIManager::shared().setBaseURL(foundation::URL::string(server.baseURL()));
    APIManager::shared().setTrustedCertificateForTesting(server.caCertificatePEM());
  }
  static std::set<std::string> textParts(const fixtures::ReceivedRequest& request, std::size_t from) {
    std::set<std::string> names;
    for (std::size_t i = from; i < request.parts.size(); ++i) {
      EXPECT_FALSE(request.parts[i].fileName.has_value());
      names.insert(request.parts[i].name + "=" + request.parts[i].bytes);
    }
    return names;
  }

  LoopbackServer server_{LoopbackServer::Scheme::https};
};

TEST_F(AuthServicesTest, ReverifySendsOneImageAndTwoTexts) {
  Outcome out;
  APIManager::Success success;
  APIManager::Failure failure;
  bind(out, success, failure);
  const auto selfie = bytes(5'000, 4);
  AuthServices::shared().reverify("ada@example.com", "0", selfie, success, failure);
  await(out);
  EXPECT_EQ(out.status, 200);
  const auto request = server_.requests().at(0);
  EXPECT_EQ(request.path, "/api/reverify");
  ASSERT_TRUE(request.multipartWellFormed);
  ASSERT_EQ(request.parts.size(), 3u);
  EXPECT_EQ(request.parts[0].name, "livePhoto");
  EXPECT_EQ(request.parts[0].fileName, "livePhoto.jpg");
  EXPECT_EQ(request.parts[0].contentType, "image/jpeg");
  EXPECT_TRUE(request.parts[0].bytes == text(selfie));
  EXPECT_EQ(textParts(request, 1), (std::set<std::string>{"email=ada@example.com", "age=0"}));
}

TEST_F(AuthServicesTest, UploadWithoutABackImageKeepsFrontThenLivePhoto) {
  Outcome out;
  APIManager::Success success;
  APIManager::Failure failure;
  bind(out, success, failure);
  AuthServices::shared().uploadDocuments("2", bytes(3'000, 1), std::nullopt, bytes(2'000, 2), "23", "",
                                         success, failure);
  await(out);
  EXPECT_EQ(out.status, 200);
  const auto request = server_.requests().at(0);
  EXPECT_EQ(request.path, "/api/upload");
  ASSERT_EQ(request.parts.size(), 5u);
  EXPECT_EQ(request.parts[0].name, "documentFront");
  EXPECT_EQ(request.parts[1].name, "livePhoto");
  EXPECT_EQ(textParts(request, 2), (std::set<std::string>{"age=23", "documentType=2", "email="}));
}

TEST_F(AuthServicesTest, EachCallUsesTheBaseEndpointOfThatMoment) {
  LoopbackServer other(LoopbackServer::Scheme::http);
  for (LoopbackServer* target : {&server_, &other}) {
    point(*target);
    Outcome out;
    APIManager::Success success;
    APIManager::Failure failure;
    bind(out, success, failure);
    AuthServices::shared().reverify("a@b.c", "0", bytes(100, 1), success, failure);
    await(out);
    EXPECT_EQ(out.status, 200);
  }
  EXPECT_EQ(server_.requestCount(), 1u);
  EXPECT_EQ(other.requestCount(), 1u);
}

TEST_F(AuthServicesTest, OfflineRefusalPassesThroughAtOnce) {
  ASSERT_TRUE(setPath(APIManager::shared(), false));
  Outcome out;
  APIManager::Success success;
  APIManager::Failure failure;
  bind(out, success, failure);
  AuthServices::shared().uploadDocuments("1", bytes(10, 1), bytes(10, 2), bytes(10, 3), "23", "x", success,
                                         failure);
  EXPECT_EQ(out.message, "No internet connection available");
  EXPECT_EQ(server_.requestCount(), 0u);
}

}  // namespace

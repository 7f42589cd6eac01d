#include "api/Utility.h"

#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/foundation/Console.h>
#include <morvik/platform/foundation/UserDefaults.h>
#include <morvik/platform/network/Testing.h>
#include <morvik/platform/uikit/UIAlertController.h>
#include <morvik/platform/uikit/UIApplication.h>
#include <netinet/in.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

using morvik::LoadingOverlay;
using morvik::Utility;
namespace fs = std::filesystem;

namespace {

std::size_t overlayRegistrations() {
  return foundation::NotificationCenter::defaultCenter()->registrationCount(
      static_cast<const void*>(LoadingOverlay::shared().get()));
}

// A key window with a root controller; the overlay hidden afterwards.
class UtilityUITest : public ::testing::Test {
 protected:
  void SetUp() override {
    scene_ = uikit::UIApplication::shared().connectWindowScene();
    window_ = scene_->makeWindow();
    root_ = std::make_shared<uikit::UIViewController>();
    window_->setRootViewController(root_);
    window_->makeKeyAndVisible();
    dispatch::MainLoop::drain();
  }
  void TearDown() override {
    Utility::hideLoader();
    dispatch::MainLoop::drain();
    uikit::UIApplication::shared().disconnect(scene_);
    dispatch::MainLoop::drain();
  }

  std::shared_ptr<uikit::UIWindowScene> scene_;
  std::shared_ptr<uikit::UIWindow> window_;
  std::shared_ptr<uikit::UIViewController> root_;
};

TEST_F(UtilityUITest, RunOnMainQueuesEvenOnMainThread) {
  bool ran = false;
  Utility::runOnMain([&] { ran = true; });
  EXPECT_FALSE(ran);
  dispatch::MainLoop::drain();
  EXPECT_TRUE(ran);
}

TEST_F(UtilityUITest, BlocksFromManyThreadsKeepEachThreadsOrder) {
  for (int threads : {1, 2, 8}) {
    constexpr int kPerThread = 200;
    std::vector<std::vector<int>> seen(threads);  // touched on the main thread only
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([t, &seen] {
        for (int i = 0; i < kPerThread; ++i) Utility::runOnMain([t, i, &seen] { seen[t].push_back(i); });
      });
    }
    for (auto& w : workers) w.join();
    dispatch::MainLoop::drain();
    for (int t = 0; t < threads; ++t) {
      ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kPerThread)) << threads << " threads";
      for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(seen[t][i], i) << threads << " threads";
    }
  }
}

TEST_F(UtilityUITest, ShowLoaderUsesSdkLookWithoutTitle) {
  Utility::showLoader();
  EXPECT_EQ(LoadingOverlay::shared()->superview(), nullptr);  // not before the main queue runs it
  dispatch::MainLoop::drain();
  const auto& overlay = LoadingOverlay::shared();
  ASSERT_EQ(overlay->superview(), window_);
  EXPECT_TRUE(uikit::UIApplication::shared().isNetworkActivityIndicatorVisible());
  EXPECT_EQ(overlay->frame().size.width, 200);
  EXPECT_EQ(overlay->alpha(), 1);
  EXPECT_TRUE(overlay->titleLabel->isHidden());
  EXPECT_EQ(overlay->coverView->backgroundColor(), uikit::UIColor::black().withAlphaComponent(0.4));
  EXPECT_EQ(overlay->bgImageView->backgroundColor(), uikit::UIColor::clear());
  const auto& arc = *overlay->loadingView->backgroundLayer;
  EXPECT_EQ(arc.lineWidth(), 2);
  EXPECT_EQ(arc.strokeColor(), uikit::UIColor(84.0 / 255, 183.0 / 255, 197.0 / 255, 1).cgColor());
}

TEST_F(UtilityUITest, TwoShowsOneOverlayAndOneHideClearsAll) {
  Utility::showLoader();
  Utility::showLoader();
  dispatch::MainLoop::drain();
  EXPECT_EQ(window_->subviews().size(), 3u);  // root view, cover, overlay
  EXPECT_EQ(overlayRegistrations(), 2u);
  Utility::hideLoader();
  dispatch::MainLoop::drain();
  EXPECT_EQ(LoadingOverlay::shared()->superview(), nullptr);
  EXPECT_EQ(LoadingOverlay::shared()->coverView->superview(), nullptr);
  EXPECT_EQ(overlayRegistrations(), 0u);
  EXPECT_FALSE(uikit::UIApplication::shared().isNetworkActivityIndicatorVisible());
}

TEST_F(UtilityUITest, HideRightAfterShowFromAnotherThreadEndsHidden) {
  for (int round = 0; round < 20; ++round) {
    std::thread([] {
      Utility::showLoader();
      Utility::hideLoader();
    }).join();
    dispatch::MainLoop::drain();
    ASSERT_EQ(LoadingOverlay::shared()->superview(), nullptr);
    std::thread([] {
      Utility::hideLoader();
      Utility::showLoader();
    }).join();
    dispatch::MainLoop::drain();
    ASSERT_EQ(LoadingOverlay::shared()->superview(), window_);
  }
}

TEST_F(UtilityUITest, NoInternetAlertHasItsTextsAndGoesOnTop) {
  auto sheet = std::make_shared<uikit::UIViewController>();
  root_->present(sheet, false);
  dispatch::MainLoop::drain();
  Utility::showNoInternetAlert(*root_);
  dispatch::MainLoop::drain();
  auto alert = std::dynamic_pointer_cast<uikit::UIAlertController>(sheet->presentedViewController());
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->title(), "MorvikVerify");
  EXPECT_EQ(alert->message(), "It seems you are not connected to the internet. Kindly connect and try again");
  EXPECT_EQ(alert->preferredStyle(), uikit::UIAlertController::Style::alert);
  ASSERT_EQ(alert->actions().size(), 1u);
  EXPECT_EQ(alert->actions()[0].title, "Ok");
  EXPECT_EQ(alert->actions()[0].style, uikit::UIAlertAction::Style::default_);
  EXPECT_TRUE(alert->triggerAction("Ok"));
}

class ConnectivityTest : public ::testing::Test {
 protected:
  void TearDown() override {
    network::testhooks::injectReachabilityFlags(std::nullopt);
    dispatch::MainLoop::drain();
  }
};

TEST_F(ConnectivityTest, AnswersFromTheDefaultRouteFlags) {
  using Flags = network::SCNetworkReachabilityFlags;
  network::testhooks::injectReachabilityFlags(Flags::reachable);
  EXPECT_TRUE(Utility::isConnectedToNetwork());
  network::testhooks::injectReachabilityFlags(Flags{});
  EXPECT_FALSE(Utility::isConnectedToNetwork());
  network::testhooks::injectReachabilityFlags(Flags::connectionRequired);
  EXPECT_FALSE(Utility::isConnectedToNetwork());
}

TEST_F(ConnectivityTest, MonitorThatCannotBeCreatedCountsAsConnected) {
  network::testhooks::injectReachabilityFlags(network::SCNetworkReachabilityFlags{});
  EXPECT_TRUE(Utility::isConnectedToNetwork([]() -> std::shared_ptr<morvik::ConnectivityMonitor> {
    sockaddr_in zero{};
    throw morvik::ConnectivityError::failedToCreateWithAddress(reinterpret_cast<const sockaddr&>(zero), 1001);
  }));
}

TEST(HtmlTest, CssPrefixIsExact) {
  auto font = uikit::UIFont::boldSystemFont(16);
  EXPECT_EQ(morvik::cssStylePrefix(font, "#54B7C5", 20, "center"),
            "<style>body{font-family: '" + font.fontName() +
                "'; font-size:16.0px; color: #54B7C5; line-height: 20px; text-align: center; }</style>");
  EXPECT_NE(
      morvik::cssStylePrefix(uikit::UIFont::systemFont(12.5), "red", 0, "left").find("font-size:12.5px;"),
      std::string::npos);
}

TEST(HtmlTest, CssStylesTheBody) {
  auto styled = morvik::convertHtmlToAttributedStringWithCSS("<p>Hi</p>", uikit::UIFont::systemFont(16),
                                                             "#ff0000", 20, "center");
  ASSERT_TRUE(styled.has_value());
  EXPECT_EQ(styled->string().substr(0, 2), "Hi");
  auto attributes = styled->attributes(0);
  EXPECT_EQ(attributes.fontSize, 16.0);
  EXPECT_EQ(attributes.lineHeight, 20.0);
  EXPECT_EQ(attributes.alignment, foundation::NSTextAlignment::center);
  EXPECT_EQ(attributes.foregroundColor, (foundation::RGBAColor{1, 0, 0, 1}));
}

TEST(HtmlTest, WithoutFontSameAsPlainConversion) {
  const std::string html = "<b>bold</b> and <i>not</i>";
  auto plain = morvik::convertHtmlToNSAttributedString(html);
  ASSERT_TRUE(plain.has_value());
  EXPECT_EQ(morvik::convertHtmlToAttributedStringWithCSS(html, std::nullopt, "red", 20, "left"), plain);
  EXPECT_TRUE(plain->attributes(0).bold);
}

TEST(HtmlTest, FailureIsOneConsoleLineAndNothing) {
  foundation::ScopedConsoleCapture console;
  EXPECT_FALSE(morvik::convertHtmlToNSAttributedString("").has_value());
  EXPECT_FALSE(morvik::convertHtmlToNSAttributedString("\xff\xfe bad").has_value());
  EXPECT_EQ(console.lines().size(), 2u);
}

class UserDataTest : public ::testing::Test {
 protected:
  void TearDown() override { foundation::UserDefaults::standard()->removeObject("user_data"); }
  void store(const foundation::PropertyListValue& value) {
    foundation::UserDefaults::standard()->set(value, "user_data");
  }
};

TEST_F(UserDataTest, ReadsRecordAfreshAndToleratesOddEntries) {
  EXPECT_FALSE(Utility::getUserData().has_value());
  store(foundation::PropertyListDictionary{{"fullName", "Ada"},
                                           {"auth", foundation::PropertyListDictionary{}}});
  auto user = Utility::getUserData();
  ASSERT_TRUE(user.has_value());
  EXPECT_EQ(user->fullName, "Ada");
  EXPECT_FALSE(user->auth && user->auth->accessToken);

  store(foundation::PropertyListDictionary{
      {"fullName", "Ada"}, {"auth", foundation::PropertyListDictionary{{"accessToken", "t1"}}}});
  ASSERT_TRUE(Utility::getUserData().has_value());
  EXPECT_EQ(Utility::getUserData()->auth->accessToken, "t1");

  store("not a dictionary");
  EXPECT_FALSE(Utility::getUserData().has_value());
  store(foundation::PropertyListDictionary{{"fullName", foundation::Data::fromString("raw")}});
  EXPECT_FALSE(Utility::getUserData().has_value());
}

// Two bundle directories, each with its own strings table.
class AnyLanguageBundleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("morvik-lang-" + std::to_string(::getpid()));
    fs::create_directories(root_ / "base");
    fs::create_directories(root_ / "fr.lproj");
    std::ofstream(root_ / "base" / "Localizable.strings") << "/* base */\n\"hello\" = \"Hello\";\n";
    std::ofstream(root_ / "fr.lproj" / "Localizable.strings")
        << "// French\n\"hello\" = \"Bonjour \\\"toi\\\"\";\n\"bye\"=\"Salut\";";
    std::ofstream(root_ / "fr.lproj" / "Steps.strings") << "\"title\" = \"Étapes\";";
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(AnyLanguageBundleTest, AnswersFromLanguageBundleWhenOneOpens) {
  auto bundle = morvik::AnyLanguageBundle::open((root_ / "base").string());
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(morvik::AnyLanguageBundle::open((root_ / "missing").string()), nullptr);
  EXPECT_EQ(bundle->localizedString("hello", "", ""), "Hello");
  EXPECT_EQ(bundle->localizedString("absent", "", ""), "absent");
  EXPECT_EQ(bundle->localizedString("absent", "Fallback", ""), "Fallback");

  bundle->setLanguageBundlePath((root_ / "fr.lproj").string());
  EXPECT_EQ(bundle->localizedString("hello", "", ""), "Bonjour \"toi\"");
  EXPECT_EQ(bundle->localizedString("bye", "", ""), "Salut");
  EXPECT_EQ(bundle->localizedString("title", "", "Steps"), "Étapes");

  bundle->setLanguageBundlePath((root_ / "gone").string());
  EXPECT_EQ(bundle->localizedString("hello", "", ""), "Hello");
}

}  // namespace

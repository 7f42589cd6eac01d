// The demo screen in a real desktop window, used only through the X server:
// pointer presses and key presses sent with XTest go through the server to
// the window as a person's would. Run on a display of its own (Xvfb, see
// under-xvfb.sh); skipped where there is no display.
#include <gtest/gtest.h>
#include <morvik/MorvikVerify.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/swiftui.h>
#include <morvik/platform/swiftui/Testing.h>
#include <morvik/platform/uikit.h>
#include <morvik/platform/uikit/UIRendering.h>
#include <morvik/platform/uikit/UIWindowDesktop.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "DemoSupport.h"
#include "window/XServer.h"

namespace {

constexpr const char* kApiKey = "window-test-key";
constexpr const char* kTitle = "Morvik window test";
constexpr double kScale = 2;
// The goldens' tolerance: a channel differing by more than 40 counts as a
// different pixel, and at most 0.3 % of the pixels may differ.
constexpr int kChannelTolerance = 40;
constexpr double kDifferingShare = 0.003;

// The offscreen render of the same tree, as BGR (what shows over black).
cv::Mat offscreen(uikit::UIView& view, int width, int height) {
  cv::Mat argb(height, width, CV_8UC4, cv::Scalar::all(0));
  uikit::ViewRenderer renderer;
  renderer.render(view, kScale, {argb.data, width, height, static_cast<int>(argb.step)});
  cv::Mat bgr;
  cv::cvtColor(argb, bgr, cv::COLOR_BGRA2BGR);
  return bgr;
}

class DemoWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY") || !x.usable()) GTEST_SKIP() << "no X display with XTest (run under-xvfb.sh)";
    ASSERT_TRUE(person.prepare());
    server = demo::startVerificationServer(kApiKey);
    const std::string authority =
        std::string(MORVIK_TEST_BINARY_DIR) + "/window-test-ca-" + std::to_string(getpid()) + ".pem";
    std::ofstream(authority) << server->caCertificatePEM();
    setenv("CURL_CA_BUNDLE", authority.c_str(), 1);
    morvik::MorvikVerify::configure(morvik::MorvikVerifyConfig(
        kApiKey, morvik::MorvikEnvironment::production, uikit::UIColor::systemBlue(), server->baseURL()));
    ASSERT_TRUE(person.registerCameras());
    scene = uikit::UIApplication::shared().connectWindowScene();
    window = scene->makeWindow();
    root = std::make_shared<swiftui::UIHostingController<morvik::MorvikVerifyExampleView>>(
        morvik::MorvikVerifyExampleView());
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    ASSERT_TRUE(uikit::showOnDesktop(window, {kScale, kTitle}));
    ASSERT_TRUE(waitFor([&] { return (xWindow = x.find(kTitle)) != 0; }, 10));
    ASSERT_TRUE(waitFor([&] { return uikit::desktopWindowActivity(*window).redraws > 0; }, 10));
  }
  void TearDown() override {
    if (window) uikit::removeFromDesktop(*window);
    if (scene) uikit::UIApplication::shared().disconnect(scene);
    dispatch::MainLoop::runUntil([] { return false; }, 0.3);
    person.unregisterCameras();
    if (server) server->stop();
    std::remove((std::string(MORVIK_TEST_BINARY_DIR) + "/window-test-ca-" + std::to_string(getpid()) + ".pem")
                    .c_str());
  }

  bool waitFor(const std::function<bool()>& done, double seconds) {
    return dispatch::MainLoop::runUntil(done, seconds);
  }

  // The middle of a view, on the screen.
  std::pair<int, int> screenPoint(const std::shared_ptr<uikit::UIView>& view) {
    window->layoutIfNeeded();
    const auto frame = view->convert(view->bounds(), window.get());
    int x0 = 0, y0 = 0;
    x.origin(xWindow, x0, y0);
    return {x0 + static_cast<int>((frame.origin.x + frame.size.width / 2) * kScale),
            y0 + static_cast<int>((frame.origin.y + frame.size.height / 2) * kScale)};
  }
  // A press and release at the middle of the view, through the X server.
  void click(const std::shared_ptr<uikit::UIView>& view) {
    ASSERT_TRUE(view);
    // Where the person sees it: in the window, laid out, and what a touch
    // there hits; below the visible part of a scroll view, they scroll to it
    // with the wheel.
    ASSERT_TRUE(waitFor(
        [&] {
          window->layoutIfNeeded();
          if (view->window() != window || view->bounds().size.width <= 0) return false;
          const auto f = view->convert(view->bounds(), window.get());
          auto hit = window->hitTest({f.origin.x + f.size.width / 2, f.origin.y + f.size.height / 2});
          for (; hit; hit = hit->superview()) {
            if (hit == view) return true;
          }
          std::shared_ptr<uikit::UIView> v = view->superview();
          while (v && !std::dynamic_pointer_cast<uikit::UIScrollView>(v)) v = v->superview();
          if (v) {
            const auto visible = v->convert(v->bounds(), window.get());
            const double below = f.origin.y + f.size.height - (visible.origin.y + visible.size.height);
            if (below > 0) {
              int x0 = 0, y0 = 0;
              x.origin(xWindow, x0, y0);
              x.wheel(x0 + static_cast<int>((visible.origin.x + visible.size.width / 2) * kScale),
                      y0 + static_cast<int>((visible.origin.y + visible.size.height / 2) * kScale),
                      std::min(10, static_cast<int>(below / 40) + 1));
              dispatch::MainLoop::runUntil([] { return false; }, 0.05);
            }
          }
          return false;
        },
        10))
        << view->className() << " is not where a touch reaches it: " << [&] {
             const auto f = view->convert(view->bounds(), window.get());
             auto hit = window->hitTest({f.origin.x + f.size.width / 2, f.origin.y + f.size.height / 2});
             std::string chain;
             for (; hit; hit = hit->superview()) chain += hit->className() + " < ";
             for (auto v = view; v; v = v->superview())
               chain += " / " + v->className() + " " + std::to_string(v->frame().origin.y) + "+" +
                        std::to_string(v->frame().size.height) +
                        (v->isUserInteractionEnabled() ? "" : " (no touches)");
             return chain + " at y " + std::to_string(f.origin.y);
           }();
    const auto frame = view->convert(view->bounds(), window.get());
    int x0 = 0, y0 = 0;
    x.origin(xWindow, x0, y0);
    x.click(x0 + static_cast<int>((frame.origin.x + frame.size.width / 2) * kScale),
            y0 + static_cast<int>((frame.origin.y + frame.size.height / 2) * kScale));
  }
  std::shared_ptr<uikit::UIButton> button(const std::shared_ptr<uikit::UIViewController>& screen,
                                          const std::string& title) {
    return demo::findButton(screen->view(), title);
  }
  std::shared_ptr<uikit::UINavigationController> flow() const {
    auto cover = root->presentedViewController();
    if (!cover || cover->children().empty()) return nullptr;
    return std::dynamic_pointer_cast<uikit::UINavigationController>(cover->children().front());
  }
  std::string status() const {
    auto field = swiftui::testing::findTextField(root->view(), "Email");
    auto box = field ? field->superview() : nullptr;
    auto stack = std::dynamic_pointer_cast<uikit::UIStackView>(box ? box->superview() : nullptr);
    if (!stack || stack->arrangedSubviews().size() < 3) return "";
    auto label = std::dynamic_pointer_cast<uikit::UILabel>(stack->arrangedSubviews()[2]);
    return label && label->text() ? *label->text() : "";
  }

  window_test::XServer x;
  demo::ScriptedPerson person;
  std::unique_ptr<fixtures::LoopbackServer> server;
  std::shared_ptr<uikit::UIWindowScene> scene;
  std::shared_ptr<uikit::UIWindow> window;
  std::shared_ptr<swiftui::UIHostingController<morvik::MorvikVerifyExampleView>> root;
  unsigned long xWindow = 0;
};

TEST_F(DemoWindow, DocumentScanThroughPointerAndKeyboard) {
  const std::string email = "alex.sample@example.com";
  auto field = swiftui::testing::findTextField(root->view(), "Email");
  ASSERT_TRUE(field);
  click(field);
  ASSERT_TRUE(waitFor([&] { return field->isFirstResponder(); }, 5)) << "a click does not focus the field";
  // The field shows an example address: the person deletes it first.
  x.press("BackSpace", static_cast<int>(field->text().size()));
  ASSERT_TRUE(waitFor([&] { return field->text().empty(); }, 10)) << "left: \"" << field->text() << "\"";
  x.type(email);
  ASSERT_TRUE(waitFor([&] { return field->text() == email; }, 10)) << "typed: \"" << field->text() << "\"";

  // A pressed button highlights; released away from it, it does nothing.
  auto scan = button(root, "Document Scan");
  const auto at = screenPoint(scan);
  x.press(at.first, at.second);
  ASSERT_TRUE(waitFor([&] { return scan->isHighlighted(); }, 5)) << "a pressed button is not highlighted";
  x.moveTo(at.first, at.second + static_cast<int>(200 * kScale));
  ASSERT_TRUE(waitFor([&] { return !scan->isHighlighted(); }, 5))
      << "dragged away, the button stays highlighted";
  x.release();
  waitFor([&] { return root->presentedViewController() != nullptr; }, 0.3);
  ASSERT_FALSE(root->presentedViewController()) << "a release outside the button tapped it";

  // The bar's Close item is drawn pressed while pressed; released, it closes the flow.
  click(scan);
  ASSERT_TRUE(waitFor([&] { return flow() && button(flow()->viewControllers().front(), "Start"); }, 10));
  {
    auto cover = flow();
    const auto bar =
        cover->view()->convert(quartz::CGPoint{31, cover->view()->safeAreaInsets().top + 22}, window.get());
    ASSERT_TRUE(waitFor(
        [&] {
          window->layoutIfNeeded();
          for (auto hit = window->hitTest(bar); hit; hit = hit->superview())
            if (hit == cover->view()) return true;
          return false;
        },
        10));
    int x0 = 0, y0 = 0;
    x.origin(xWindow, x0, y0);
    x.press(x0 + static_cast<int>(bar.x * kScale), y0 + static_cast<int>(bar.y * kScale));
    using BarButton = uikit::UINavigationController::BarButton;
    ASSERT_TRUE(waitFor([&] { return cover->highlightedBarButton() == BarButton::leading; }, 5))
        << "a pressed bar item is not drawn pressed";
    x.release();
    ASSERT_TRUE(waitFor([&] { return !root->presentedViewController(); }, 10));
    EXPECT_EQ(cover->highlightedBarButton(), BarButton::none);
  }

  click(scan);
  ASSERT_TRUE(waitFor([&] { return flow() && flow()->viewControllers().size() == 1; }, 10));
  auto navigation = flow();
  auto list = navigation->viewControllers().front();
  ASSERT_TRUE(waitFor([&] { return button(list, "Start") != nullptr; }, 5));
  click(button(list, "Start"));

  // The person shows what each capture screen asks for; the captures happen
  // on the virtual cameras, and the face step returns to the list.
  ASSERT_TRUE(waitFor(
      [&] {
        auto capture = std::dynamic_pointer_cast<morvik::IDCaptureVC>(navigation->topViewController());
        if (capture) {
          const auto kind = capture->step().kind();
          if (kind == morvik::IDScanStepKind::front) person.hold(demo::ScriptedPerson::Card::front);
          if (kind == morvik::IDScanStepKind::back) person.hold(demo::ScriptedPerson::Card::back);
          for (const auto& text : demo::visibleTexts(capture->view())) person.reactTo(text);
          return false;
        }
        auto submit = button(list, "Submit");
        return navigation->topViewController() == list && submit && submit->isEnabled();
      },
      60))
      << "the captures did not finish";
  click(button(list, "Submit"));
  ASSERT_TRUE(waitFor([&] { return navigation->topViewController()->className() == "VerifiedScreen"; }, 30));
  auto result = navigation->topViewController();
  // The result is longer than the window: a drag scrolls it (and taps nothing).
  {
    std::shared_ptr<uikit::UIScrollView> scroll;
    ASSERT_TRUE(waitFor(
        [&] {
          auto done = button(result, "Done");
          for (auto v = done ? done->superview() : nullptr; v && !scroll; v = v->superview())
            scroll = std::dynamic_pointer_cast<uikit::UIScrollView>(v);
          return scroll != nullptr;
        },
        5));
    window->layoutIfNeeded();
    const double before = scroll->contentOffset().y;
    // Once nothing (the loading overlay fading out) covers it.
    ASSERT_TRUE(waitFor(
        [&] {
          window->layoutIfNeeded();
          const auto f = scroll->convert(scroll->bounds(), window.get());
          auto hit = window->hitTest({f.origin.x + f.size.width / 2, f.origin.y + f.size.height / 2});
          while (hit && hit != scroll) hit = hit->superview();
          return hit == scroll;
        },
        10));
    const auto start = screenPoint(scroll);
    x.press(start.first, start.second);
    for (int step = 1; step <= 10; ++step)
      x.moveTo(start.first, start.second - step * static_cast<int>(20 * kScale));
    x.release();
    EXPECT_TRUE(waitFor([&] { return scroll->contentOffset().y >= before + 150; }, 5))
        << "dragged 200 points up, the content moved " << scroll->contentOffset().y - before;
  }
  ASSERT_TRUE(waitFor([&] { return button(result, "Done") != nullptr; }, 5));
  click(button(result, "Done"));
  ASSERT_TRUE(
      waitFor([&] { return !root->presentedViewController() && status() == "Document Verified"; }, 30))
      << "status line: \"" << status() << "\"";

  // What the window shows is the offscreen render of the same state.
  dispatch::MainLoop::drain();
  const auto size = window->bounds().size;
  const int width = static_cast<int>(size.width * kScale), height = static_cast<int>(size.height * kScale);
  const cv::Mat shown = x.screenshot(xWindow, width, height);
  ASSERT_FALSE(shown.empty());
  const cv::Mat drawn = offscreen(*window, width, height);
  cv::Mat diff;
  cv::absdiff(shown, drawn, diff);
  std::vector<cv::Mat> channels;
  cv::split(diff, channels);
  const cv::Mat differing = cv::max(cv::max(channels[0], channels[1]), channels[2]) > kChannelTolerance;
  const double share = cv::countNonZero(differing) / static_cast<double>(differing.total());
  std::printf("window against offscreen render: %.4f %% of the pixels differ\n", share * 100);
  if (share > kDifferingShare) {
    cv::imwrite(std::string(MORVIK_TEST_BINARY_DIR) + "/window-shown.png", shown);
    cv::imwrite(std::string(MORVIK_TEST_BINARY_DIR) + "/window-offscreen.png", drawn);
  }
  EXPECT_LE(share, kDifferingShare) << share * 100
                                    << " % of the window's pixels differ from the offscreen render";

  // Closing the window ends the host's run loop (a guard stops it after 10 s).
  auto timedOut = std::make_shared<bool>(false);
  dispatch::DispatchQueue::main().asyncAfter(dispatch::DispatchTime::now() + 10.0, [timedOut] {
    *timedOut = true;
    dispatch::MainLoop::stop();
  });
  x.close(xWindow);
  dispatch::MainLoop::run();
  EXPECT_FALSE(*timedOut) << "closing the window did not end the run loop";
  EXPECT_FALSE(uikit::isOnDesktop(*window));
}

}  // namespace

// The step preview: its content and its three buttons, which only run the
// creator's callbacks.
#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>

#include "flow/preview/IDStepPreviewVC.h"
#include "flow/steps/ScreenFit.h"

namespace {

using morvik::IDStepPreviewVC;
using uikit::UIColor;
using uikit::UIControlEvents;

class StepPreviewTest : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::clock::useManualClock(); }
  void TearDown() override {
    if (scene) uikit::UIApplication::shared().disconnect(scene);
    settle();
    dispatch::clock::useRealClock();
  }
  static void settle() {
    dispatch::MainLoop::drain();
    dispatch::clock::advance(2.0);
    dispatch::MainLoop::drain();
  }
  // The preview pushed over a plain root, as the step list does.
  void show(std::shared_ptr<uikit::UIImage> image) {
    preview = std::make_shared<IDStepPreviewVC>(std::move(image), "Back of Document",
                                                "Driver's License or ID Card");
    nav = std::make_shared<uikit::UINavigationController>(std::make_shared<uikit::UIViewController>());
    scene = uikit::UIApplication::shared().connectWindowScene();
    window = scene->makeWindow();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    settle();
    nav->pushViewController(preview, true);
    settle();
  }

  std::shared_ptr<IDStepPreviewVC> preview;
  std::shared_ptr<uikit::UINavigationController> nav;
  std::shared_ptr<uikit::UIWindowScene> scene;
  std::shared_ptr<uikit::UIWindow> window;
};

TEST_F(StepPreviewTest, EachButtonRunsItsCallbackEveryTimeAndNeverMovesTheScreen) {
  show(nullptr);
  struct Case {
    const char* name;
    std::shared_ptr<uikit::UIButton> button;
    int retakes;
    int accepts;
  };
  const Case cases[] = {
      {"top bar back", preview->backButton(), 0, 1},
      {"Retake", preview->retakeButton(), 1, 0},
      {"OK", preview->acceptButton(), 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int retakes = 0, accepts = 0;
    preview->onRetake = [&] { ++retakes; };
    preview->onAccept = [&] { ++accepts; };
    c.button->sendActions(UIControlEvents::touchUpInside);
    c.button->sendActions(UIControlEvents::touchUpInside);
    settle();
    EXPECT_EQ(retakes, 2 * c.retakes);
    EXPECT_EQ(accepts, 2 * c.accepts);
    EXPECT_EQ(nav->topViewController(), preview);
  }
  preview->onRetake = nullptr;
  preview->onAccept = nullptr;
  for (const auto& c : cases) c.button->sendActions(UIControlEvents::touchUpInside);
  settle();
  EXPECT_EQ(nav->topViewController(), preview);
}

TEST_F(StepPreviewTest, ACallbackThatPopsAndDropsTheScreenIsSafe) {
  show(nullptr);
  std::weak_ptr<IDStepPreviewVC> weak = preview;
  preview->onAccept = [this] { nav->popViewController(true); };
  auto button = preview->acceptButton();
  preview.reset();
  button->sendActions(UIControlEvents::touchUpInside);
  settle();
  EXPECT_TRUE(weak.expired());
}

TEST_F(StepPreviewTest, ShowsTheTitlesAndTheImageInItsFrame) {
  auto bitmap = quartz::CGImage::make(400, 300, quartz::CGImagePixelFormat::bgra8);
  auto image = uikit::UIImage::make(bitmap);
  show(image);
  EXPECT_FALSE(preview->title());
  EXPECT_EQ(preview->titleLabel()->text(), "Step preview");
  EXPECT_EQ(preview->titleLabel()->font(), uikit::UIFont::systemFont(20, uikit::UIFont::Weight::semibold));
  EXPECT_EQ(preview->stepNameLabel()->text(), "Back of Document");
  EXPECT_EQ(preview->stepNameLabel()->font(), uikit::UIFont::systemFont(28, uikit::UIFont::Weight::heavy));
  EXPECT_EQ(preview->docNameLabel()->text(), "Driver's License or ID Card");
  EXPECT_EQ(preview->docNameLabel()->textColor(), UIColor::secondaryLabel());
  EXPECT_EQ(preview->imageView()->image(), image);
  EXPECT_EQ(preview->backButton()->image(uikit::UIControlState::normal)->symbolName(), "chevron.left");
  EXPECT_EQ(preview->retakeButton()->title(uikit::UIControlState::normal), "Retake");
  EXPECT_EQ(preview->retakeButton()->backgroundColor(), UIColor::systemGray6());
  EXPECT_EQ(preview->acceptButton()->title(uikit::UIControlState::normal), "OK");
  EXPECT_EQ(preview->acceptButton()->backgroundColor(), UIColor::systemBlue());
  EXPECT_EQ(preview->acceptButton()->currentTitleColor(), UIColor::white());

  const auto& root = preview->view();
  const auto container = preview->imageContainer()->frame();
  EXPECT_NEAR(container.height(), root->bounds().height() / 2, 1e-6);
  EXPECT_NEAR(container.width(), root->bounds().width() - 32, 1e-6);
  const auto inner = preview->imageView()->frame();
  EXPECT_NEAR(inner.minX(), 8, 1e-6);
  EXPECT_NEAR(inner.height(), container.height() - 16, 1e-6);
  EXPECT_EQ(preview->imageContainer()->layer()->cornerRadius(), 16);

  // The buttons share the bottom row equally, above the home indicator.
  const auto retake = preview->retakeButton()->convert(preview->retakeButton()->bounds(), root.get());
  const auto ok = preview->acceptButton()->convert(preview->acceptButton()->bounds(), root.get());
  EXPECT_NEAR(retake.width(), ok.width(), 1e-6);
  EXPECT_NEAR(retake.height(), 48, 1e-6);
  EXPECT_NEAR(ok.maxY(), root->bounds().height() - root->safeAreaInsets().bottom - 16, 1e-6);
  EXPECT_NEAR(retake.minX(), 16, 1e-6);
  EXPECT_LT(retake.maxX(), ok.minX());
}

TEST_F(StepPreviewTest, AStepWithoutAnImageShowsAnEmptyFrame) {
  show(nullptr);
  EXPECT_FALSE(preview->imageView()->image());
  EXPECT_FALSE(preview->imageContainer()->isHidden());
  EXPECT_GT(preview->imageContainer()->frame().height(), 0);
  EXPECT_EQ(preview->stepNameLabel()->text(), "Back of Document");
}

// The image frame is half the screen high: on short screens and in landscape
// the titles and the frame scroll above the buttons, never under them.
TEST_F(StepPreviewTest, TheContentCanBeReachedAndNeverRunsUnderTheButtons) {
  const uikit::CGSize sizes[] = {{320, 568}, {375, 667}, {568, 320}, {844, 390}, {390, 844}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(int(size.width)) + "x" + std::to_string(int(size.height)));
    uikit::UIScreen::main().setBounds({{0, 0}, size});
    show(nullptr);
    const std::shared_ptr<uikit::UIView> buttons[] = {preview->retakeButton(), preview->acceptButton()};
    const std::shared_ptr<uikit::UIView> content[] = {preview->titleLabel(), preview->stepNameLabel(),
                                                      preview->docNameLabel(), preview->imageContainer()};
    for (const auto& view : content) screenfit::expectReachable(view, *window, buttons, true);
    uikit::UIApplication::shared().disconnect(scene);
    scene.reset();
    settle();
  }
  uikit::UIScreen::main().setBounds({{0, 0}, {390, 844}});
}

}  // namespace

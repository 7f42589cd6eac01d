#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/foundation/NotificationCenter.h>
#include <morvik/platform/uikit/UIApplication.h>
#include <morvik/platform/uikit/UIDevice.h>
#include <morvik/platform/uikit/UIScreen.h>
#include <morvik/support/LoadingOverlay.h>

#include <numbers>

using morvik::LoadingOverlay;
using quartz::CGRect;

namespace {

bool sameRect(const CGRect& a, const CGRect& b) {
  return a.origin.x == b.origin.x && a.origin.y == b.origin.y && a.size.width == b.size.width &&
         a.size.height == b.size.height;
}
#define EXPECT_RECT(actual, x, y, w, h) EXPECT_TRUE(sameRect((actual), CGRect{{x, y}, {w, h}})) << #actual

std::size_t registrations() {
  return foundation::NotificationCenter::defaultCenter()->registrationCount(
      static_cast<const void*>(LoadingOverlay::shared().get()));
}

// A key window in a connected scene, the manual clock, and the shared overlay
// put back to hidden with the default look afterwards.
class LoadingOverlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatch::clock::useManualClock();
    scene_ = uikit::UIApplication::shared().connectWindowScene();
    window_ = scene_->makeWindow();
    window_->makeKeyAndVisible();
    dispatch::MainLoop::drain();
  }

  void TearDown() override {
    auto& overlay = *LoadingOverlay::shared();
    overlay.animated = false;
    LoadingOverlay::hide();
    LoadingOverlay::setConfig(LoadingOverlay::Config());
    dispatch::clock::advance(1.0);
    dispatch::MainLoop::drain();
    uikit::UIApplication::shared().disconnect(scene_);
    dispatch::clock::useRealClock();
  }

  void advance(double seconds) {
    dispatch::clock::advance(seconds);
    dispatch::MainLoop::drain();
  }

  std::shared_ptr<uikit::UIWindowScene> scene_;
  std::shared_ptr<uikit::UIWindow> window_;
};

TEST_F(LoadingOverlayTest, ShowWithoutTitleCentresSpinnerOverCoverInKeyWindow) {
  LoadingOverlay::show(false);
  const auto& overlay = LoadingOverlay::shared();
  ASSERT_EQ(window_->subviews().size(), 2u);
  EXPECT_EQ(window_->subviews()[0], overlay->coverView);
  EXPECT_EQ(window_->subviews()[1], overlay);
  EXPECT_TRUE(sameRect(overlay->coverView->frame(), window_->bounds()));
  EXPECT_EQ(overlay->alpha(), 1);
  EXPECT_RECT(overlay->frame(), 135, 362, 120, 120);  // centred on the 390 x 844 screen
  EXPECT_RECT(overlay->loadingView->frame(), 35, 35, 50, 50);
  EXPECT_TRUE(overlay->titleLabel->isHidden());
  // An empty image name shows only the background colour.
  EXPECT_EQ(overlay->bgImageView->image(), nullptr);
  EXPECT_EQ(overlay->bgImageView->backgroundColor(), uikit::UIColor::white());
}

TEST_F(LoadingOverlayTest, ShowWithTitleUsesDefaultGeometryAndSpins) {
  LoadingOverlay::show(std::string("Loading"), "no-such-image", false);
  const auto& overlay = LoadingOverlay::shared();
  EXPECT_RECT(overlay->loadingView->frame(), 35, 20, 50, 50);
  EXPECT_RECT(overlay->titleLabel->frame(), 5, 70, 110, 42);
  EXPECT_FALSE(overlay->titleLabel->isHidden());
  EXPECT_EQ(overlay->titleLabel->text(), "Loading");
  EXPECT_RECT(overlay->bgImageView->frame(), 50, 28, 20, 20);
  EXPECT_EQ(overlay->subviews().back(), overlay->bgImageView);
  EXPECT_EQ(overlay->bgImageView->image(), nullptr);

  const auto* rotation = overlay->loadingView->backgroundLayer->animation("rotationAnimation");
  ASSERT_NE(rotation, nullptr);
  EXPECT_EQ(rotation->keyPath, "transform.rotation.z");
  EXPECT_EQ(std::get<double>(rotation->toValue), 2 * std::numbers::pi);
  EXPECT_EQ(rotation->repeatCount, quartz::kCAHugeRepeatCount);
  EXPECT_TRUE(rotation->isCumulative);

  LoadingOverlay::hide();
  EXPECT_EQ(overlay->superview(), nullptr);
  EXPECT_TRUE(overlay->loadingView->backgroundLayer->animationKeys().empty());
}

TEST_F(LoadingOverlayTest, NothingHappensWithoutKeyWindow) {
  uikit::UIApplication::shared().disconnect(scene_);
  LoadingOverlay::show(std::string("Loading"), "", false);
  EXPECT_EQ(LoadingOverlay::shared()->superview(), nullptr);
  EXPECT_EQ(registrations(), 0u);
}

TEST_F(LoadingOverlayTest, SecondShowUpdatesInPlaceAndHideClearsEveryObserver) {
  LoadingOverlay::show(std::string("One"), "", false);
  auto firstCover = LoadingOverlay::shared()->coverView;
  LoadingOverlay::show(std::string("Two"), "", false);
  const auto& overlay = LoadingOverlay::shared();
  EXPECT_EQ(window_->subviews().size(), 2u);
  EXPECT_EQ(overlay->coverView, firstCover);
  EXPECT_EQ(overlay->titleLabel->text(), "Two");
  EXPECT_EQ(registrations(), 2u);

  LoadingOverlay::hide();
  EXPECT_EQ(registrations(), 0u);
  EXPECT_TRUE(window_->subviews().empty());
}

TEST_F(LoadingOverlayTest, RotationRecentresOverlayAndFitsCoverToScreen) {
  auto& device = uikit::UIDevice::current();
  device.beginGeneratingDeviceOrientationNotifications();
  LoadingOverlay::show(false);
  LoadingOverlay::show(false);
  device.setOrientation(uikit::UIDeviceOrientation::landscapeLeft);
  const auto& overlay = LoadingOverlay::shared();
  EXPECT_EQ(overlay->center().x, 422);
  EXPECT_EQ(overlay->center().y, 195);
  EXPECT_RECT(overlay->coverView->frame(), 0, 0, 844, 390);

  LoadingOverlay::hide();
  device.setOrientation(uikit::UIDeviceOrientation::portrait);
  device.endGeneratingDeviceOrientationNotifications();
  // Observers are gone: the detached overlay no longer follows the screen.
  EXPECT_EQ(overlay->center().x, 422);
}

TEST_F(LoadingOverlayTest, SetConfigResizesAndReLaysOutAtOnce) {
  LoadingOverlay::Config config;
  config.size = 200;
  config.spinnerLineWidth = 3;
  config.spinnerColor = uikit::UIColor::red();
  config.foregroundColor = uikit::UIColor::black();
  config.foregroundAlpha = 0.4;
  LoadingOverlay::show(std::string("Wait"), "", false);
  LoadingOverlay::setConfig(config);
  const auto& overlay = LoadingOverlay::shared();
  EXPECT_EQ(overlay->frame().size.width, 200);
  EXPECT_RECT(overlay->loadingView->frame(), 35, 20, 130, 130);
  EXPECT_EQ(overlay->titleLabel->frame().origin.y, 150);
  EXPECT_EQ(overlay->loadingView->backgroundLayer->lineWidth(), 3);
  EXPECT_EQ(overlay->loadingView->backgroundLayer->strokeColor(), uikit::UIColor::red().cgColor());

  // The cover takes the new colour at the next show from hidden.
  LoadingOverlay::hide();
  LoadingOverlay::show(false);
  EXPECT_EQ(overlay->coverView->backgroundColor(), uikit::UIColor::black().withAlphaComponent(0.4));
  EXPECT_EQ(overlay->center().x, 195);
}

TEST(LoadingSpinnerViewTest, LineWidthComesFromWidthUntilConfigured) {
  LoadingOverlay::LoadingSpinnerView spinner(CGRect{{0, 0}, {50, 50}});
  EXPECT_EQ(spinner.lineWidth, 1.25f);
  EXPECT_EQ(spinner.backgroundLayer->lineWidth(), 1.25);
  EXPECT_EQ(LoadingOverlay::LoadingSpinnerView(CGRect{{0, 0}, {20, 20}}).lineWidth, 1.0f);
  spinner.updateLine();
  EXPECT_EQ(spinner.backgroundLayer->lineWidth(), 1.0);
}

TEST(LoadingSpinnerViewTest, ArcLeavesGapOnlyWhileSpinning) {
  LoadingOverlay::LoadingSpinnerView spinner(CGRect{{0, 0}, {50, 50}});
  spinner.drawArc(true);
  auto open = spinner.backgroundLayer->path()->currentPoint();
  spinner.drawArc(false);
  auto closed = spinner.backgroundLayer->path()->currentPoint();
  // Both start at the bottom (pi/2); the closed ring ends there again.
  EXPECT_NEAR(closed.x, 25, 1e-9);
  EXPECT_NEAR(closed.y, 25 + (50 - 1.25) / 2, 1e-9);
  EXPECT_GT(std::abs(open.x - closed.x), 1.0);
}

TEST_F(LoadingOverlayTest, AnimatedHideDetachesOnlyWhenFadeEnds) {
  LoadingOverlay::show(true);
  const auto& overlay = LoadingOverlay::shared();
  EXPECT_EQ(overlay->alpha(), 1);
  LoadingOverlay::hide();
  EXPECT_EQ(overlay->alpha(), 0);
  advance(0.29);
  EXPECT_EQ(overlay->superview(), window_);
  advance(0.02);
  EXPECT_EQ(overlay->superview(), nullptr);
  EXPECT_TRUE(window_->subviews().empty());
}

TEST_F(LoadingOverlayTest, UnanimatedShowHidesAtOnce) {
  LoadingOverlay::show(true);
  LoadingOverlay::show(false);  // the last show decides how hide goes
  LoadingOverlay::hide();
  EXPECT_EQ(LoadingOverlay::shared()->superview(), nullptr);
  EXPECT_TRUE(window_->subviews().empty());
}

TEST_F(LoadingOverlayTest, ShowDuringFadeOutStaysShown) {
  LoadingOverlay::show(true);
  LoadingOverlay::hide();
  LoadingOverlay::show(true);
  advance(1.0);
  const auto& overlay = LoadingOverlay::shared();
  EXPECT_EQ(overlay->superview(), window_);
  EXPECT_EQ(overlay->alpha(), 1);
  EXPECT_EQ(window_->subviews().size(), 2u);
  EXPECT_EQ(overlay->coverView->superview(), window_);
  EXPECT_NE(overlay->loadingView->backgroundLayer->animation("rotationAnimation"), nullptr);
}

TEST_F(LoadingOverlayTest, ImageViewBackInFrontOnShowAfterHide) {
  LoadingOverlay::show(false);
  LoadingOverlay::hide();
  const auto& overlay = LoadingOverlay::shared();
  EXPECT_EQ(overlay->bgImageView->superview(), nullptr);
  LoadingOverlay::show(std::string("Again"), "", false);
  EXPECT_EQ(overlay->subviews().back(), overlay->bgImageView);
  EXPECT_RECT(overlay->bgImageView->frame(), 50, 28, 20, 20);
}

}  // namespace

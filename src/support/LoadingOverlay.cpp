#include <morvik/platform/dispatch.h>
#include <morvik/platform/quartz/CAAnimation.h>
#include <morvik/platform/quartz/UIBezierPath.h>
#include <morvik/platform/uikit/UIApplication.h>
#include <morvik/platform/uikit/UIDevice.h>
#include <morvik/platform/uikit/UIImage.h>
#include <morvik/platform/uikit/UIScreen.h>
#include <morvik/support/LoadingOverlay.h>

#include <algorithm>
#include <numbers>
#include <utility>

namespace morvik {

using quartz::CGPoint;
using quartz::CGRect;

namespace {

constexpr double kFadeDuration = 0.3;

void checkMainThread([[maybe_unused]] const char* what) {
#ifdef MORVIK_DEBUG_CHECKS
  dispatch::assertMainThread(what);
#endif
}

// The first key window among the windows of every connected window scene.
std::shared_ptr<uikit::UIWindow> findKeyWindow() {
  for (const auto& scene : uikit::UIApplication::shared().connectedScenes()) {
    auto windowScene = std::dynamic_pointer_cast<uikit::UIWindowScene>(scene);
    if (!windowScene) continue;
    for (const auto& window : windowScene->windows()) {
      if (window && window->isKeyWindow()) return window;
    }
  }
  return nullptr;
}

CGPoint screenCenter() {
  CGRect screen = uikit::UIScreen::main().bounds();
  return {screen.size.width / 2, screen.size.height / 2};
}

}  // namespace

// ---------------------------------------------------------------------------
// LoadingSpinnerView

LoadingOverlay::LoadingSpinnerView::LoadingSpinnerView(const CGRect& frame) : UIView(frame) { setupLayer(); }

void LoadingOverlay::LoadingSpinnerView::setupLayer() {
  setBackgroundColor(uikit::UIColor::clear());
  // Single precision on purpose: a 50-point spinner gets exactly 1.25.
  lineWidth = std::max(static_cast<float>(frame().size.width) * 0.025f, 1.0f);
  backgroundLayer = quartz::CAShapeLayer::layer();
  backgroundLayer->setStrokeColor(config.spinnerColor.cgColor());
  backgroundLayer->setFillColor(uikit::UIColor::clear().cgColor());
  backgroundLayer->setLineCap(quartz::CAShapeLayerLineCap::round);
  backgroundLayer->setLineWidth(*lineWidth);
  backgroundLayer->setFrame(bounds());
  layer()->addSublayer(backgroundLayer);
}

void LoadingOverlay::LoadingSpinnerView::boundsDidChange() {
  if (backgroundLayer) backgroundLayer->setFrame(bounds());
}

void LoadingOverlay::LoadingSpinnerView::updateLine() {
  lineWidth = config.spinnerLineWidth;
  if (backgroundLayer) {
    backgroundLayer->setLineWidth(*lineWidth);
    backgroundLayer->setStrokeColor(config.spinnerColor.cgColor());
  }
}

void LoadingOverlay::LoadingSpinnerView::drawArc(bool spinning) {
  if (!backgroundLayer) return;
  const double pi = std::numbers::pi;
  const CGFloat width = lineWidth.value_or(1.0f);
  CGRect b = bounds();
  double start = pi / 2;
  double end = start + (spinning ? 1.8 * pi : 2 * pi);
  auto path = quartz::UIBezierPath::arcCenter({b.size.width / 2, b.size.height / 2},
                                              (b.size.width - width) / 2, start, end, true);
  path.lineWidth = width;
  backgroundLayer->setPath(path.cgPath());
}

void LoadingOverlay::LoadingSpinnerView::startSpinning() {
  drawArc(true);
  if (!backgroundLayer) return;
  quartz::CABasicAnimation rotation("transform.rotation.z");
  rotation.toValue = 2 * std::numbers::pi;
  rotation.duration = 1.0;
  rotation.isCumulative = true;
  rotation.repeatCount = quartz::kCAHugeRepeatCount;
  backgroundLayer->add(rotation, "rotationAnimation");
}

// ---------------------------------------------------------------------------
// LoadingOverlay

LoadingOverlay::LoadingOverlay(const CGRect& frame) : UIView(frame) {
  setAlpha(0);
  layoutContent();
}

const std::shared_ptr<LoadingOverlay>& LoadingOverlay::shared() {
  // Never destroyed: hosts may call hide() from exit paths.
  static const auto* instance =
      new std::shared_ptr<LoadingOverlay>(std::make_shared<LoadingOverlay>(CGRect{{0, 0}, {120, 120}}));
  return *instance;
}

void LoadingOverlay::setFrame(const CGRect& frame) {
  UIView::setFrame(frame);
  layoutContent();
}

void LoadingOverlay::layoutContent() {
  checkMainThread("LoadingOverlay::layoutContent");
  CGRect f = frame();
  const CGFloat w = f.size.width;
  const CGFloat h = f.size.height;
  setBackgroundColor(config.backgroundColor);
  layer()->setCornerRadius(config.cornerRadius);

  const CGFloat side = w - 70;
  const CGFloat y = title ? 20 : (h - side) / 2;
  CGRect spinnerFrame{{35, y}, {side, side}};
  if (loadingView) {
    loadingView->setFrame(spinnerFrame);
  } else {
    loadingView = std::make_shared<LoadingSpinnerView>(spinnerFrame);
    addSubview(loadingView);
  }

  CGRect titleFrame{{5, side + 20}, {w - 10, 42}};
  if (titleLabel) {
    titleLabel->setFrame(titleFrame);
  } else {
    titleLabel = std::make_shared<uikit::UILabel>(titleFrame);
    addSubview(titleLabel);
    titleLabel->setNumberOfLines(1);
    titleLabel->setTextAlignment(uikit::NSTextAlignment::center);
    titleLabel->setAdjustsFontSizeToFitWidth(true);
  }
  titleLabel->setFont(config.titleTextFont);
  titleLabel->setTextColor(config.titleTextColor);
  titleLabel->setText(title);
  titleLabel->setHidden(!title.has_value());

  if (bgImageView) {
    bgImageView->setFrame(centerImageFrame());
  } else {
    CGRect s = loadingView->frame();
    bgImageView = std::make_shared<uikit::UIImageView>(
        CGRect{{s.origin.x + 5, s.origin.y + 5}, {s.size.width - 10, s.size.height - 10}});
  }
  bgImageView->setClipsToBounds(true);
  // Re-adding keeps the image attached and in front, also after stop() detached it.
  addSubview(bgImageView);
}

CGRect LoadingOverlay::centerImageFrame() const {
  CGRect s = loadingView ? loadingView->frame() : CGRect{};
  return {{s.origin.x + 15, s.origin.y + 8}, {s.size.width - 30, s.size.height - 30}};
}

void LoadingOverlay::show(bool animated) { show(std::nullopt, "", animated); }

void LoadingOverlay::show(std::optional<std::string> title, const std::string& imageName, bool animated) {
  checkMainThread("LoadingOverlay::show");
  auto keyWindow = findKeyWindow();
  if (!keyWindow) return;

  const auto& overlay = shared();
  // A fade-out still running would detach the overlay after this show: finish
  // it now and show from the hidden state instead.
  if (overlay->removalPending_) {
    ++overlay->stopGeneration_;
    overlay->removalPending_ = false;
    overlay->removeFromWindow();
  }

  overlay->animated = animated;
  overlay->title = std::move(title);
  overlay->layoutContent();

  std::weak_ptr<LoadingOverlay> weak = overlay;
  foundation::NotificationCenter::defaultCenter()->addObserver(
      static_cast<const void*>(overlay.get()), std::string(uikit::UIDeviceOrientationDidChangeNotification),
      nullptr, [weak](const foundation::Notification& notification) {
        if (auto strong = weak.lock()) strong->rotated(notification);
      });

  overlay->setCenter(screenCenter());

  if (!overlay->superview()) {
    overlay->coverView = std::make_shared<uikit::UIView>(keyWindow->bounds());
    overlay->coverView->setBackgroundColor(
        overlay->config.foregroundColor.withAlphaComponent(overlay->config.foregroundAlpha));
    keyWindow->addSubview(overlay->coverView);
    keyWindow->addSubview(overlay);
    overlay->start();
  }

  auto& imageView = *overlay->bgImageView;
  imageView.setImage(imageName.empty() ? nullptr : uikit::UIImage::named(imageName));
  imageView.setContentMode(uikit::UIViewContentMode::scaleAspectFit);
  imageView.setBackgroundColor(overlay->config.centerImageBackgroundColor);
}

void LoadingOverlay::hide() {
  checkMainThread("LoadingOverlay::hide");
  const auto& overlay = shared();
  foundation::NotificationCenter::defaultCenter()->removeObserver(static_cast<const void*>(overlay.get()));
  overlay->stop();
}

void LoadingOverlay::setConfig(const Config& config) {
  checkMainThread("LoadingOverlay::setConfig");
  const auto& overlay = shared();
  overlay->config = config;
  if (overlay->loadingView) {
    overlay->loadingView->config = config;
    overlay->loadingView->updateLine();
  }
  overlay->setFrame({{0, 0}, {config.size, config.size}});
}

void LoadingOverlay::start() {
  checkMainThread("LoadingOverlay::start");
  if (loadingView) loadingView->startSpinning();
  if (animated) {
    std::weak_ptr<UIView> weak = weak_from_this();
    UIView::animate(kFadeDuration, [weak] {
      if (auto self = weak.lock()) self->setAlpha(1);
    });
  } else {
    setAlpha(1);
  }
}

void LoadingOverlay::stop() {
  checkMainThread("LoadingOverlay::stop");
  const std::uint64_t generation = ++stopGeneration_;
  if (!animated) {
    removalPending_ = false;
    setAlpha(0);
    removeFromWindow();
    return;
  }
  removalPending_ = true;
  std::weak_ptr<UIView> weak = weak_from_this();
  UIView::animate(
      kFadeDuration,
      [weak] {
        if (auto self = weak.lock()) self->setAlpha(0);
      },
      [weak, generation](bool) {
        auto self = std::static_pointer_cast<LoadingOverlay>(weak.lock());
        // A later show or stop took over: this fade-out no longer decides.
        if (!self || self->stopGeneration_ != generation) return;
        self->removalPending_ = false;
        self->removeFromWindow();
      });
}

void LoadingOverlay::removeFromWindow() {
  removeFromSuperview();
  if (coverView) coverView->removeFromSuperview();
  if (bgImageView) bgImageView->removeFromSuperview();
  if (loadingView) {
    loadingView->drawArc(false);
    if (loadingView->backgroundLayer) loadingView->backgroundLayer->removeAllAnimations();
  }
}

void LoadingOverlay::rotated(const foundation::Notification& notification) {
  (void)notification;
  checkMainThread("LoadingOverlay::rotated");
  setCenter(screenCenter());
  if (coverView) coverView->setFrame(uikit::UIScreen::main().bounds());
}

}  // namespace morvik

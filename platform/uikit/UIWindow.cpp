#include "morvik/platform/uikit/UIWindow.h"

#include <algorithm>

#include "morvik/platform/dispatch/Dispatch.h"
#include "morvik/platform/foundation/NotificationCenter.h"
#include "morvik/platform/uikit/UIApplication.h"
#include "morvik/platform/uikit/UIDevice.h"
#include "morvik/platform/uikit/UIScreen.h"
#include "morvik/platform/uikit/UITraitCollection.h"

namespace uikit {

namespace {
void checkMain(const char* what) {
#ifdef MORVIK_DEBUG_CHECKS
  dispatch::assertMainThread(what);
#else
  (void)what;
#endif
}

// Every live window, so the screen can resize the ones that fill it.
std::vector<UIWindow*>& liveWindows() {
  static std::vector<UIWindow*> windows;
  return windows;
}
}  // namespace

// --- UIWindow ------------------------------------------------------------------------

UIWindow::UIWindow() : UIWindow(UIScreen::main().bounds()) {}

UIWindow::UIWindow(const CGRect& frame) : UIView(frame) {
  setHidden(true);
  liveWindows().push_back(this);
}

UIWindow::~UIWindow() {
  auto& all = liveWindows();
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

void UIWindow::setWindowScene(const std::shared_ptr<UIWindowScene>& scene) {
  checkMain("UIWindow::setWindowScene");
  auto self = std::static_pointer_cast<UIWindow>(shared_from_this());
  if (auto old = scene_.lock()) {
    auto& list = old->windows_;
    list.erase(std::remove(list.begin(), list.end(), self), list.end());
  }
  scene_ = scene;
  if (scene) scene->windows_.push_back(self);
}

void UIWindow::setRootViewController(std::shared_ptr<UIViewController> controller) {
  checkMain("UIWindow::setRootViewController");
  if (controller == root_) return;
  auto old = root_;
  if (old && visible_) old->beginAppearanceTransition(false, false);
  if (old) {
    if (auto v = old->viewIfLoaded(); v && v->superview().get() == this) v->removeFromSuperview();
  }
  root_ = std::move(controller);
  if (root_) {
    auto& v = root_->view();
    v->setFrame(bounds());
    insertSubview(v, 0);
  }
  if (old && visible_) old->endAppearanceTransition();
  if (root_ && visible_) {
    root_->beginAppearanceTransition(true, false);
    std::weak_ptr<UIViewController> weak = root_;
    dispatch::DispatchQueue::main().async([weak] {
      if (auto c = weak.lock()) c->endAppearanceTransition();
    });
  }
}

bool UIWindow::isKeyWindow() const { return UIApplication::shared().keyWindow_.lock().get() == this; }

void UIWindow::makeKey() {
  checkMain("UIWindow::makeKey");
  UIApplication::shared().keyWindow_ = std::static_pointer_cast<UIWindow>(shared_from_this());
}

void UIWindow::makeKeyAndVisible() {
  checkMain("UIWindow::makeKeyAndVisible");
  setHidden(false);
  makeKey();
  if (visible_) return;
  visible_ = true;
  if (root_) {
    auto& v = root_->view();
    v->setFrame(bounds());
    if (v->superview().get() != this) insertSubview(v, 0);
    root_->beginAppearanceTransition(true, false);
    std::weak_ptr<UIViewController> weak = root_;
    dispatch::DispatchQueue::main().async([weak] {
      if (auto c = weak.lock()) c->endAppearanceTransition();
    });
  }
}

void UIWindow::setSafeAreaInsets(const UIEdgeInsets& insets) {
  checkMain("UIWindow::setSafeAreaInsets");
  safeAreaInsets_ = insets;
  // Every safe-area guide below depends on it.
  std::function<void(UIView&)> mark = [&](UIView& v) {
    v.setNeedsLayout();
    for (auto& s : v.subviews()) mark(*s);
  };
  mark(*this);
  if (root_) {
    if (auto v = root_->viewIfLoaded()) v->invalidateIntrinsicContentSize();
  }
}

void UIWindow::layoutSubviews() {
  UIView::layoutSubviews();
  if (root_) {
    if (auto v = root_->viewIfLoaded(); v && v->superview().get() == this && v->frame() != bounds()) {
      v->setFrame(bounds());
    }
  }
}

// --- UIWindowScene / UIApplication ------------------------------------------------------

std::shared_ptr<UIWindow> UIWindowScene::makeWindow() {
  checkMain("UIWindowScene::makeWindow");
  auto window = std::make_shared<UIWindow>(UIScreen::main().bounds());
  window->setWindowScene(std::static_pointer_cast<UIWindowScene>(shared_from_this()));
  return window;
}

std::shared_ptr<UIWindow> UIWindowScene::keyWindow() const {
  for (auto& w : windows_) {
    if (w->isKeyWindow()) return w;
  }
  return nullptr;
}

UIApplication& UIApplication::shared() {
  static UIApplication* app = new UIApplication();  // lives for the process
  return *app;
}

std::shared_ptr<UIWindowScene> UIApplication::connectWindowScene() {
  auto scene = std::make_shared<UIWindowScene>();
  connect(scene);
  return scene;
}

void UIApplication::connect(const std::shared_ptr<UIScene>& scene) {
  checkMain("UIApplication::connect");
  if (!scene || std::find(scenes_.begin(), scenes_.end(), scene) != scenes_.end()) return;
  scenes_.push_back(scene);
}

void UIApplication::disconnect(const std::shared_ptr<UIScene>& scene) {
  checkMain("UIApplication::disconnect");
  auto it = std::find(scenes_.begin(), scenes_.end(), scene);
  if (it == scenes_.end()) return;
  auto keep = *it;
  scenes_.erase(it);
  if (auto ws = std::dynamic_pointer_cast<UIWindowScene>(keep)) {
    auto key = keyWindow_.lock();
    for (auto& w : ws->windows_) {
      if (w == key) keyWindow_.reset();
      w->scene_.reset();
    }
    ws->windows_.clear();
  }
}

std::shared_ptr<UIWindow> UIApplication::keyWindow() const {
  auto key = keyWindow_.lock();
  if (!key) return nullptr;
  for (auto& s : scenes_) {
    if (auto ws = std::dynamic_pointer_cast<UIWindowScene>(s)) {
      for (auto& w : ws->windows()) {
        if (w == key) return key;
      }
    }
  }
  return nullptr;
}

// --- UIScreen ----------------------------------------------------------------------------

UIScreen& UIScreen::main() {
  static UIScreen* screen = new UIScreen();  // lives for the process
  return *screen;
}

void UIScreen::setBounds(const CGRect& bounds) {
  checkMain("UIScreen::setBounds");
  CGRect old = bounds_;
  bounds_ = bounds;
  auto windows = liveWindows();
  for (UIWindow* w : windows) {
    if (w->frame() == old) w->setFrame(bounds);
  }
}

// --- UIDevice ------------------------------------------------------------------------------

UIDevice& UIDevice::current() {
  static std::shared_ptr<UIDevice>* device = new std::shared_ptr<UIDevice>(std::make_shared<UIDevice>());
  return **device;
}

void UIDevice::beginGeneratingDeviceOrientationNotifications() {
  checkMain("UIDevice::beginGeneratingDeviceOrientationNotifications");
  ++generating_;
}

void UIDevice::endGeneratingDeviceOrientationNotifications() {
  checkMain("UIDevice::endGeneratingDeviceOrientationNotifications");
  if (generating_ > 0) --generating_;
}

void UIDevice::setOrientation(UIDeviceOrientation orientation) {
  checkMain("UIDevice::setOrientation");
  if (orientation == orientation_) return;
  orientation_ = orientation;
  // The interface follows the device between portrait and landscape.
  bool landscape =
      orientation == UIDeviceOrientation::landscapeLeft || orientation == UIDeviceOrientation::landscapeRight;
  bool portrait =
      orientation == UIDeviceOrientation::portrait || orientation == UIDeviceOrientation::portraitUpsideDown;
  CGRect b = UIScreen::main().bounds();
  if ((landscape && b.height() > b.width()) || (portrait && b.width() > b.height())) {
    UIScreen::main().setBounds({b.origin, {b.height(), b.width()}});
  }
  if (generating_ > 0) {
    foundation::NotificationCenter::defaultCenter()->post(UIDeviceOrientationDidChangeNotification,
                                                          shared_from_this());
  }
}

const UITraitCollection& UITraitCollection::current() {
  static const UITraitCollection traits;
  return traits;
}

}  // namespace uikit

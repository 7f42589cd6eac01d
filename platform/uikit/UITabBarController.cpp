#include "morvik/platform/uikit/UITabBarController.h"

#include <algorithm>

#include "morvik/platform/uikit/UIScreen.h"

namespace uikit {

void UITabBarController::loadView() {
  setView(std::make_shared<UIView>(UIScreen::main().bounds()));
  select(selected_);
}

std::shared_ptr<UIViewController> UITabBarController::selectedViewController() const {
  return selected_ < tabs_.size() ? tabs_[selected_] : nullptr;
}

std::vector<std::shared_ptr<UIViewController>> UITabBarController::childrenForAppearance() const {
  if (auto s = selectedViewController()) return {s};
  return {};
}

void UITabBarController::setViewControllers(
    const std::vector<std::shared_ptr<UIViewController>>& viewControllers, bool animated) {
  checkThread("UITabBarController::setViewControllers");
  (void)animated;
  auto old = selectedViewController();
  bool onScreen = isVisible();
  if (old && onScreen) old->beginAppearanceTransition(false, false);
  for (auto& t : tabs_) {
    if (auto v = t->viewIfLoaded(); v && v->superview() == viewIfLoaded()) v->removeFromSuperview();
    t->removeFromParent();
  }
  tabs_.clear();
  for (auto& c : viewControllers) {
    if (!c || std::find(tabs_.begin(), tabs_.end(), c) != tabs_.end()) continue;
    tabs_.push_back(c);
    addChild(c);
    c->didMove(this);
  }
  if (old && onScreen) old->endAppearanceTransition();
  selected_ = 0;
  if (isViewLoaded()) select(0);
  if (auto now = selectedViewController(); now && onScreen) {
    now->beginAppearanceTransition(true, false);
    now->endAppearanceTransition();
  }
}

void UITabBarController::setSelectedViewController(const std::shared_ptr<UIViewController>& controller) {
  auto it = std::find(tabs_.begin(), tabs_.end(), controller);
  if (it != tabs_.end()) setSelectedIndex(static_cast<std::size_t>(it - tabs_.begin()));
}

void UITabBarController::setSelectedIndex(std::size_t index) {
  checkThread("UITabBarController::setSelectedIndex");
  if (index >= tabs_.size() || index == selected_) return;
  auto old = selectedViewController();
  auto next = tabs_[index];
  bool onScreen = isVisible();
  next->loadViewIfNeeded();
  if (onScreen) {
    old->beginAppearanceTransition(false, false);
    next->beginAppearanceTransition(true, false);
  }
  selected_ = index;
  if (isViewLoaded()) select(index);
  if (onScreen) {
    old->endAppearanceTransition();
    next->endAppearanceTransition();
  }
}

void UITabBarController::select(std::size_t index) {
  auto container = viewIfLoaded();
  if (!container) return;
  for (std::size_t i = 0; i < tabs_.size(); ++i) {
    auto v = tabs_[i]->viewIfLoaded();
    if (i != index && v && v->superview() == container) v->removeFromSuperview();
  }
  if (index < tabs_.size()) {
    auto& v = tabs_[index]->view();
    v->setFrame(container->bounds());
    container->addSubview(v);
  }
}

}  // namespace uikit

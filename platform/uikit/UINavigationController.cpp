#include "morvik/platform/uikit/UINavigationController.h"

#include <algorithm>
#include <cstdio>

#include "morvik/platform/uikit/UIScreen.h"

namespace uikit {

namespace {
// The content's safe area excludes the bar while it is shown.
class NavigationContainerView : public UIView {
 public:
  using UIView::UIView;
  std::string className() const override { return "UILayoutContainerView"; }
};
}  // namespace

UINavigationController::UINavigationController() = default;

UINavigationController::UINavigationController(const std::shared_ptr<UIViewController>& rootViewController) {
  if (rootViewController) stack_.push_back(rootViewController);
}

UINavigationController::~UINavigationController() = default;

void UINavigationController::loadView() {
  setView(std::make_shared<NavigationContainerView>(UIScreen::main().bounds()));
  adoptStack();
  if (auto top = topViewController()) installView(top);
}

std::shared_ptr<UIViewController> UINavigationController::topViewController() const {
  return stack_.empty() ? nullptr : stack_.back();
}

std::shared_ptr<UIViewController> UINavigationController::visibleViewController() const {
  if (auto presented = presentedViewController()) return presented;
  return topViewController();
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::childrenForAppearance() const {
  if (auto top = topViewController()) return {top};
  return {};
}

void UINavigationController::installView(const std::shared_ptr<UIViewController>& controller) {
  auto container = viewIfLoaded();
  if (!container || !controller) return;
  auto& v = controller->view();
  v->setFrame(container->bounds());
  v->containerInsets_ = UIEdgeInsets{barHidden_ ? 0 : kNavigationBarHeight, 0, 0, 0};
  if (v->superview() != container) container->addSubview(v);
  v->setNeedsLayout();
}

void UINavigationController::setHighlightedBarButton(BarButton button) {
  checkThread("UINavigationController::setHighlightedBarButton");
  highlightedBar_ = button;
}

void UINavigationController::setNavigationBarHidden(bool hidden, bool animated) {
  checkThread("UINavigationController::setNavigationBarHidden");
  (void)animated;
  barHidden_ = hidden;
  for (auto& c : stack_) {
    if (auto v = c->viewIfLoaded()) {
      v->containerInsets_ = UIEdgeInsets{barHidden_ ? 0 : kNavigationBarHeight, 0, 0, 0};
      v->setNeedsLayout();
    }
  }
}

void UINavigationController::adoptStack() {
  // The root given at construction becomes a child once this controller is
  // owned by a shared_ptr (children hold their parent weakly).
  for (auto& c : stack_) {
    if (c->parent().get() != this) addChild(c);
  }
}

void UINavigationController::finishPendingTransition() {
  if (!pending_) return;
  auto run = std::move(pending_);
  pending_ = nullptr;
  run();
}

void UINavigationController::transition(const std::shared_ptr<UIViewController>& from,
                                        const std::shared_ptr<UIViewController>& to,
                                        std::vector<std::shared_ptr<UIViewController>> removed,
                                        bool animated) {
  bool onScreen = isVisible();
  if (isViewLoaded() && to) installView(to);
  if (from != to && onScreen) {
    if (from) from->beginAppearanceTransition(false, animated);
    if (to) to->beginAppearanceTransition(true, animated);
  }
  auto self = std::static_pointer_cast<UINavigationController>(shared_from_this());
  std::uint64_t id = ++pendingId_;
  // Run only by this controller itself, so it may use `this` (capturing a
  // shared_ptr here would keep the controller alive through its own member).
  pending_ = [this, from, to, removed, onScreen] {
    UINavigationController* self = this;
    if (from && from != to) {
      if (auto v = from->viewIfLoaded(); v && v->superview() == self->viewIfLoaded()) {
        bool stillShown = std::find(self->stack_.begin(), self->stack_.end(), from) != self->stack_.end() &&
                          self->topViewController() == from;
        if (!stillShown) v->removeFromSuperview();
      }
    }
    if (from != to && onScreen) {
      if (from) from->endAppearanceTransition();
      if (to) to->endAppearanceTransition();
    }
    if (to) to->didMove(self);
    for (auto& r : removed) r->didMove(nullptr);
  };
  afterTransition(animated, [weak = std::weak_ptr<UINavigationController>(self), id] {
    auto nav = weak.lock();
    if (nav && nav->pendingId_ == id) nav->finishPendingTransition();
  });
}

void UINavigationController::pushViewController(const std::shared_ptr<UIViewController>& viewController,
                                                bool animated) {
  checkThread("UINavigationController::pushViewController");
  if (!viewController) return;
  if (std::find(stack_.begin(), stack_.end(), viewController) != stack_.end() || viewController->parent() ||
      viewController->presentingViewController()) {
    std::fprintf(stderr, "[Navigation] Pushing <%s> that is already shown elsewhere is not supported\n",
                 viewController->className().c_str());
    return;
  }
  adoptStack();
  finishPendingTransition();
  auto from = topViewController();
  stack_.push_back(viewController);
  addChild(viewController);
  transition(from, viewController, {}, animated);
}

std::shared_ptr<UIViewController> UINavigationController::popViewController(bool animated) {
  checkThread("UINavigationController::popViewController");
  if (stack_.size() <= 1) return nullptr;
  auto popped = popToViewController(stack_[stack_.size() - 2], animated);
  return popped.empty() ? nullptr : popped.front();
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::popToViewController(
    const std::shared_ptr<UIViewController>& viewController, bool animated) {
  checkThread("UINavigationController::popToViewController");
  auto it = std::find(stack_.begin(), stack_.end(), viewController);
  if (it == stack_.end() || it + 1 == stack_.end()) return {};
  adoptStack();
  finishPendingTransition();
  auto from = topViewController();
  std::vector<std::shared_ptr<UIViewController>> removed(it + 1, stack_.end());
  stack_.erase(it + 1, stack_.end());
  // Detached now; their didMove(nullptr) follows the transition.
  for (auto& r : removed) detachChild(r);
  transition(from, viewController, removed, animated);
  return removed;
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::popToRootViewController(
    bool animated) {
  if (stack_.empty()) return {};
  return popToViewController(stack_.front(), animated);
}

void UINavigationController::setViewControllers(
    const std::vector<std::shared_ptr<UIViewController>>& controllers, bool animated) {
  checkThread("UINavigationController::setViewControllers");
  adoptStack();
  finishPendingTransition();
  auto from = topViewController();
  std::vector<std::shared_ptr<UIViewController>> removed;
  for (auto& c : stack_) {
    if (std::find(controllers.begin(), controllers.end(), c) == controllers.end()) removed.push_back(c);
  }
  for (auto& r : removed) detachChild(r);
  stack_.clear();
  for (auto& c : controllers) {
    if (!c || std::find(stack_.begin(), stack_.end(), c) != stack_.end()) continue;
    stack_.push_back(c);
    if (c->parent().get() != this) addChild(c);
  }
  transition(from, topViewController(), removed, animated);
}

}  // namespace uikit

#include "morvik/platform/uikit/UIViewController.h"

#include <algorithm>
#include <cstdio>

#include "morvik/platform/dispatch/Dispatch.h"
#include "morvik/platform/uikit/UINavigationController.h"
#include "morvik/platform/uikit/UIScreen.h"
#include "morvik/platform/uikit/UITabBarController.h"
#include "morvik/platform/uikit/UIWindow.h"

namespace uikit {

namespace {
UIViewController::ClassHooks& controllerHooks() {
  static UIViewController::ClassHooks h;
  return h;
}
}  // namespace

UIViewController::UIViewController() = default;

void UIViewController::setClassHooks(ClassHooks hooks) { controllerHooks() = std::move(hooks); }

void UIViewController::dismissKeyboard() {
  checkThread("UIViewController::dismissKeyboard");
  if (controllerHooks().dismissKeyboard) controllerHooks().dismissKeyboard(*this);
}

void UIViewController::onBackClicked() {
  checkThread("UIViewController::onBackClicked");
  if (controllerHooks().onBackClicked) controllerHooks().onBackClicked(*this);
}

UIViewController::~UIViewController() = default;

void UIViewController::checkThread(const char* what) const {
#ifdef MORVIK_DEBUG_CHECKS
  dispatch::assertMainThread(what);
#else
  (void)what;
#endif
}

// --- View ----------------------------------------------------------------------------

const std::shared_ptr<UIView>& UIViewController::view() {
  loadViewIfNeeded();
  return view_;
}

void UIViewController::loadViewIfNeeded() {
  if (view_ || loadingView_) return;
  checkThread("UIViewController::loadView");
  loadingView_ = true;
  loadView();
  if (!view_) setView(std::make_shared<UIView>(UIScreen::main().bounds()));
  loadingView_ = false;
  viewDidLoad();
}

void UIViewController::loadView() { setView(std::make_shared<UIView>(UIScreen::main().bounds())); }

void UIViewController::setView(std::shared_ptr<UIView> view) {
  checkThread("UIViewController::setView");
  if (view_) view_->owningControllerWeak_.reset();
  view_ = std::move(view);
  if (view_) view_->owningControllerWeak_ = weak_from_this();
}

void UIViewController::setTitle(std::optional<std::string> title) {
  checkThread("UIViewController::setTitle");
  title_ = title;
  navigationItem_.title = std::move(title);
}

// --- Containment ------------------------------------------------------------------

void UIViewController::addChild(const std::shared_ptr<UIViewController>& child) {
  checkThread("UIViewController::addChild");
  if (!child || child.get() == this) return;
  if (child->parent_.lock().get() == this) return;
  child->removeFromParent();
  child->willMove(this);
  children_.push_back(child);
  child->parent_ = weak_from_this();
}

void UIViewController::removeFromParent() {
  checkThread("UIViewController::removeFromParent");
  auto p = parent_.lock();
  if (!p) return;
  auto keep = shared_from_this();
  auto& list = p->children_;
  list.erase(std::remove(list.begin(), list.end(), keep), list.end());
  parent_.reset();
  didMove(nullptr);
}

void UIViewController::detachChild(const std::shared_ptr<UIViewController>& child) {
  if (!child || child->parent_.lock().get() != this) return;
  child->willMove(nullptr);
  children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
  child->parent_.reset();
}

std::shared_ptr<UINavigationController> UIViewController::navigationController() const {
  for (auto p = parent_.lock(); p; p = p->parent_.lock()) {
    if (auto nav = std::dynamic_pointer_cast<UINavigationController>(p)) return nav;
  }
  return nullptr;
}

std::shared_ptr<UITabBarController> UIViewController::tabBarController() const {
  for (auto p = parent_.lock(); p; p = p->parent_.lock()) {
    if (auto tabs = std::dynamic_pointer_cast<UITabBarController>(p)) return tabs;
  }
  return nullptr;
}

// --- Appearance -----------------------------------------------------------------------

void UIViewController::beginAppearanceTransition(bool isAppearing, bool animated) {
  if (isAppearing) {
    if (appearance_ == Appearance::appearing || appearance_ == Appearance::appeared) return;
    loadViewIfNeeded();
    appearance_ = Appearance::appearing;
    appearanceAnimated_ = animated;
    viewWillAppear(animated);
  } else {
    if (appearance_ == Appearance::disappearing || appearance_ == Appearance::disappeared) return;
    appearance_ = Appearance::disappearing;
    appearanceAnimated_ = animated;
    viewWillDisappear(animated);
  }
  for (auto& child : childrenForAppearance()) child->beginAppearanceTransition(isAppearing, animated);
}

void UIViewController::endAppearanceTransition() {
  auto keep = shared_from_this();
  if (appearance_ == Appearance::appearing) {
    appearance_ = Appearance::appeared;
    viewDidAppear(appearanceAnimated_);
  } else if (appearance_ == Appearance::disappearing) {
    appearance_ = Appearance::disappeared;
    viewDidDisappear(appearanceAnimated_);
  } else {
    return;
  }
  for (auto& child : childrenForAppearance()) child->endAppearanceTransition();
}

void UIViewController::afterTransition(bool animated, std::function<void()> block) {
  if (animated) {
    dispatch::DispatchQueue::main().asyncAfter(dispatch::DispatchTime::now() + kTransitionDuration,
                                               std::move(block));
  } else {
    dispatch::DispatchQueue::main().async(std::move(block));
  }
}

// --- Presentation ---------------------------------------------------------------------

UIViewController* UIViewController::presentationRoot() {
  UIViewController* c = this;
  for (auto p = c->parent_.lock(); p; p = p->parent_.lock()) c = p.get();
  return c;
}

std::shared_ptr<UIViewController> UIViewController::presentedViewController() const {
  return const_cast<UIViewController*>(this)->presentationRoot()->presented_;
}

std::shared_ptr<UIViewController> UIViewController::presentingViewController() const {
  return const_cast<UIViewController*>(this)->presentationRoot()->presenting_.lock();
}

UIModalPresentationStyle UIViewController::resolvedPresentationStyle() const {
  return modalPresentationStyle_ == UIModalPresentationStyle::automatic ? UIModalPresentationStyle::pageSheet
                                                                        : modalPresentationStyle_;
}

void UIViewController::present(const std::shared_ptr<UIViewController>& viewController, bool animated,
                               std::function<void()> completion) {
  checkThread("UIViewController::present");
  if (!viewController) return;
  auto presenter = presentationRoot()->shared_from_this();
  if (presenter->presented_) {
    std::fprintf(stderr, "[Presentation] Attempt to present <%s> on <%s> which is already presenting <%s>\n",
                 viewController->className().c_str(), presenter->className().c_str(),
                 presenter->presented_->className().c_str());
    return;
  }
  if (viewController == presenter || !viewController->presenting_.expired() || viewController->parent()) {
    std::fprintf(stderr, "[Presentation] Attempt to present <%s>, which is already shown elsewhere\n",
                 viewController->className().c_str());
    return;
  }
  presenter->presented_ = viewController;
  viewController->presenting_ = presenter;
  viewController->beingPresented_ = true;
  UIModalPresentationStyle style = viewController->resolvedPresentationStyle();
  bool covers =
      style == UIModalPresentationStyle::fullScreen || style == UIModalPresentationStyle::currentContext;
  viewController->coveredPresenter_ = covers;

  auto& view = viewController->view();
  std::shared_ptr<UIWindow> window = presenter->view_ ? presenter->view_->window() : nullptr;
  if (window) {
    view->setFrame(window->bounds());
    window->addSubview(view);
  }
  if (covers) presenter->beginAppearanceTransition(false, animated);
  viewController->beginAppearanceTransition(true, animated);

  afterTransition(animated, [presenter, viewController, covers, completion = std::move(completion)] {
    viewController->beingPresented_ = false;
    viewController->endAppearanceTransition();
    if (covers) {
      presenter->endAppearanceTransition();
      // A covered presenter leaves the window until it is uncovered (not when
      // a dismissal started before the presentation finished).
      if (presenter->view_ && presenter->presented_ == viewController && !viewController->beingDismissed_ &&
          dynamic_cast<UIWindow*>(presenter->view_->superview().get())) {
        presenter->view_->removeFromSuperview();
      }
    }
    if (completion) completion();
  });
}

void UIViewController::dismiss(bool animated, std::function<void()> completion) {
  checkThread("UIViewController::dismiss");
  auto self = presentationRoot()->shared_from_this();
  std::shared_ptr<UIViewController> presenter;
  if (self->presented_) {
    presenter = self;
  } else {
    presenter = self->presenting_.lock();
  }
  if (!presenter || !presenter->presented_) return;
  auto first = presenter->presented_;
  if (first->beingDismissed_) return;

  std::vector<std::shared_ptr<UIViewController>> chain;
  for (auto c = first; c; c = c->presented_) chain.push_back(c);
  for (auto& c : chain) c->beingDismissed_ = true;

  // Uncover the presenter: its view goes back under the presented one.
  // The window is the one that shows the chain's visible end.
  std::shared_ptr<UIWindow> window;
  for (auto it = chain.rbegin(); it != chain.rend() && !window; ++it) {
    if ((*it)->view_) window = (*it)->view_->window();
  }
  if (first->coveredPresenter_ && presenter->view_ && window && !presenter->view_->superview()) {
    window->insertSubviewBelow(presenter->view_, first->view_);
    presenter->view_->setFrame(window->bounds());
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) (*it)->beginAppearanceTransition(false, animated);
  bool uncovers = first->coveredPresenter_;
  if (uncovers) presenter->beginAppearanceTransition(true, animated);

  afterTransition(animated, [presenter, chain, uncovers, completion = std::move(completion)] {
    if (uncovers) presenter->endAppearanceTransition();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      auto& c = *it;
      c->endAppearanceTransition();
      if (c->view_ && dynamic_cast<UIWindow*>(c->view_->superview().get())) c->view_->removeFromSuperview();
      c->beingDismissed_ = false;
      c->beingPresented_ = false;
      c->presenting_.reset();
      c->presented_.reset();
    }
    if (presenter->presented_ == chain.front()) presenter->presented_.reset();
    if (completion) completion();
  });
}

}  // namespace uikit

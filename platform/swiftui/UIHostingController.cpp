#include <morvik/platform/dispatch.h>
#include <morvik/platform/swiftui/UIHostingController.h>
#include <morvik/platform/uikit/UIScreen.h>

#include <array>

namespace swiftui {

using uikit::NSLayoutConstraint;

UIHostingControllerBase::UIHostingControllerBase(AnyView rootView) : rootView_(std::move(rootView)) {}

UIHostingControllerBase::~UIHostingControllerBase() {
  *alive_ = false;
  if (root_) root_->tearDown(true);
}

void UIHostingControllerBase::setAnyRootView(AnyView rootView) {
  rootView_ = std::move(rootView);
  scheduleUpdate();
}

void UIHostingControllerBase::loadView() {
  setView(std::make_shared<HostingView>());
  view()->setFrame(uikit::UIScreen::main().bounds());
  // As on the platform: the hosted content sits on the system background.
  view()->setBackgroundColor(uikit::UIColor::systemBackground());
}

void UIHostingControllerBase::viewDidLoad() { render(); }

void UIHostingControllerBase::viewDidDisappear(bool animated) {
  UIViewController::viewDidDisappear(animated);
  if (isBeingDismissed() && onDismissedAsCover) {
    auto hook = onDismissedAsCover;
    hook();
  }
}

void UIHostingControllerBase::scheduleUpdate() {
  needsUpdate_ = true;
  if (!isViewLoaded() || scheduled_) return;
  scheduled_ = true;
  std::weak_ptr<UIViewController> weak = weak_from_this();
  dispatch::DispatchQueue::main().async([weak] {
    auto self = std::static_pointer_cast<UIHostingControllerBase>(weak.lock());
    if (!self) return;
    self->scheduled_ = false;
    self->updateIfNeeded();
  });
}

void UIHostingControllerBase::updateIfNeeded() {
  if (needsUpdate_ && isViewLoaded()) render();
}

void UIHostingControllerBase::place(const detail::Rendered& rendered) {
  // The same content with the same wishes keeps its constraints: the views
  // below update in place, and only what they change is laid out again.
  auto& host = view();
  placedFlags_ = {rendered.flexibleWidth, rendered.flexibleHeight, rendered.ignoresSafeArea};
  NSLayoutConstraint::deactivate(contentConstraints_);
  contentConstraints_.clear();
  if (content_ && content_ != rendered.view && content_->superview() == host) content_->removeFromSuperview();
  content_ = rendered.view;
  content_->setTranslatesAutoresizingMaskIntoConstraints(false);
  if (content_->superview() != host) host->addSubview(content_);

  auto& c = contentConstraints_;
  if (rendered.ignoresSafeArea) {
    auto add = [&](auto guideOrView) {
      if (rendered.flexibleWidth) {
        c.push_back(content_->leadingAnchor().constraintEqualTo(guideOrView->leadingAnchor()));
        c.push_back(content_->trailingAnchor().constraintEqualTo(guideOrView->trailingAnchor()));
      } else {
        c.push_back(content_->centerXAnchor().constraintEqualTo(guideOrView->centerXAnchor()));
        c.push_back(content_->widthAnchor().constraintLessThanOrEqualTo(guideOrView->widthAnchor()));
      }
      if (rendered.flexibleHeight) {
        c.push_back(content_->topAnchor().constraintEqualTo(guideOrView->topAnchor()));
        c.push_back(content_->bottomAnchor().constraintEqualTo(guideOrView->bottomAnchor()));
      } else {
        c.push_back(content_->centerYAnchor().constraintEqualTo(guideOrView->centerYAnchor()));
        c.push_back(content_->heightAnchor().constraintLessThanOrEqualTo(guideOrView->heightAnchor()));
      }
    };
    add(host);
  } else {
    auto guide = host->safeAreaLayoutGuide();
    if (rendered.flexibleWidth) {
      c.push_back(content_->leadingAnchor().constraintEqualTo(guide->leadingAnchor()));
      c.push_back(content_->trailingAnchor().constraintEqualTo(guide->trailingAnchor()));
    } else {
      c.push_back(content_->centerXAnchor().constraintEqualTo(guide->centerXAnchor()));
      c.push_back(content_->widthAnchor().constraintLessThanOrEqualTo(guide->widthAnchor()));
    }
    if (rendered.flexibleHeight) {
      c.push_back(content_->topAnchor().constraintEqualTo(guide->topAnchor()));
      c.push_back(content_->bottomAnchor().constraintEqualTo(guide->bottomAnchor()));
    } else {
      c.push_back(content_->centerYAnchor().constraintEqualTo(guide->centerYAnchor()));
      c.push_back(content_->heightAnchor().constraintLessThanOrEqualTo(guide->heightAnchor()));
    }
  }
  NSLayoutConstraint::activate(c);
  host->setNeedsLayout();
}

void UIHostingControllerBase::render() {
  if (rendering_) {
    needsUpdate_ = true;
    return;
  }
  rendering_ = true;
  needsUpdate_ = false;
  // Changes may be announced on any thread; the tree is touched only here.
  std::weak_ptr<UIViewController> weak = weak_from_this();
  auto invalidate = [weak] {
    dispatch::DispatchQueue::main().async([weak] {
      if (auto self = std::static_pointer_cast<UIHostingControllerBase>(weak.lock())) self->scheduleUpdate();
    });
  };
  detail::RenderContext context(*this, invalidate);
  detail::Rendered rendered = context.render(rootView_, root_, detail::Environment{});

  auto& host = view();
  const bool placed =
      content_ == rendered.view && content_->superview() == host &&
      placedFlags_ == std::array{rendered.flexibleWidth, rendered.flexibleHeight, rendered.ignoresSafeArea};
  if (!placed) place(rendered);
  ++renders_;
  rendering_ = false;

  // Presentations wait until the tree is whole.
  for (auto& work : context.takeAfterRender()) work();
  if (needsUpdate_) scheduleUpdate();
}

}  // namespace swiftui

#include "morvik/platform/uikit/NSLayoutConstraint.h"

#include <algorithm>
#include <sstream>

#include "morvik/platform/dispatch/Dispatch.h"
#include "morvik/platform/uikit/UIView.h"
#include "uikit/LayoutEngine.h"

namespace uikit {

namespace {
void checkThread(const char* what) {
#ifdef MORVIK_DEBUG_CHECKS
  dispatch::assertMainThread(what);
#else
  (void)what;
#endif
}

const char* attributeName(NSLayoutAttribute a) {
  switch (a) {
    case NSLayoutAttribute::left:
      return "left";
    case NSLayoutAttribute::right:
      return "right";
    case NSLayoutAttribute::top:
      return "top";
    case NSLayoutAttribute::bottom:
      return "bottom";
    case NSLayoutAttribute::leading:
      return "leading";
    case NSLayoutAttribute::trailing:
      return "trailing";
    case NSLayoutAttribute::width:
      return "width";
    case NSLayoutAttribute::height:
      return "height";
    case NSLayoutAttribute::centerX:
      return "centerX";
    case NSLayoutAttribute::centerY:
      return "centerY";
  }
  return "?";
}

std::string itemName(const std::shared_ptr<detail::LayoutItemHandle>& item) {
  if (!item) return "nil";
  std::ostringstream os;
  if (item->view) {
    os << item->view->className() << ":" << static_cast<const void*>(item->view);
  } else if (item->guide) {
    os << (item->guide->isSafeAreaGuide() ? "SafeArea" : "UILayoutGuide") << ":"
       << static_cast<const void*>(item->guide);
  } else {
    os << "(gone)";
  }
  return os.str();
}
}  // namespace

std::shared_ptr<NSLayoutConstraint> NSLayoutAnchorBase::make(const NSLayoutAnchorBase* other,
                                                             NSLayoutRelation relation, CGFloat multiplier,
                                                             CGFloat constant) const {
  return std::make_shared<NSLayoutConstraint>(item_, attribute_, relation, other ? other->item_ : nullptr,
                                              other ? other->attribute_ : attribute_, multiplier, constant);
}

NSLayoutConstraint::NSLayoutConstraint(std::shared_ptr<detail::LayoutItemHandle> firstItem,
                                       NSLayoutAttribute firstAttribute, NSLayoutRelation relation,
                                       std::shared_ptr<detail::LayoutItemHandle> secondItem,
                                       NSLayoutAttribute secondAttribute, CGFloat multiplier,
                                       CGFloat constant)
    : firstItem_(std::move(firstItem)),
      firstAttribute_(firstAttribute),
      relation_(relation),
      secondItem_(std::move(secondItem)),
      secondAttribute_(secondAttribute),
      multiplier_(multiplier),
      constant_(constant) {}

void NSLayoutConstraint::activate(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  for (const auto& c : constraints) {
    if (c) c->setActive(true);
  }
}

void NSLayoutConstraint::deactivate(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  for (const auto& c : constraints) {
    if (c) c->setActive(false);
  }
}

void NSLayoutConstraint::invalidate() const {
  conflictReported_ = false;
  LayoutEngineAccess::noteInputChange();
  for (const auto* item : {&firstItem_, &secondItem_}) {
    if (!*item) continue;
    if (UIView* v = (*item)->owningView()) {
      v->setNeedsLayout();
      if (v->superview_) v->superview_->setNeedsLayout();
    }
  }
}

void NSLayoutConstraint::setActive(bool active) {
  checkThread("NSLayoutConstraint::setActive");
  if (active == active_) return;
  UIView* holder = firstItem_ ? firstItem_->owningView() : nullptr;
  if (active) {
    if (!holder) return;
    // A second item that is gone makes the constraint meaningless.
    if (secondItem_ && !secondItem_->owningView()) return;
    active_ = true;
    holder->constraints_.push_back(shared_from_this());
    invalidate();
  } else {
    invalidate();
    active_ = false;
    auto keep = shared_from_this();
    if (holder) {
      auto& list = holder->constraints_;
      list.erase(std::remove(list.begin(), list.end(), keep), list.end());
    }
  }
}

void NSLayoutConstraint::setConstant(CGFloat constant) {
  checkThread("NSLayoutConstraint::setConstant");
  if (constant_ == constant) return;
  constant_ = constant;
  if (active_) invalidate();
}

void NSLayoutConstraint::setPriority(UILayoutPriority priority) {
  checkThread("NSLayoutConstraint::setPriority");
  priority_ = UILayoutPriority{std::clamp(priority.rawValue, 1.0f, 1000.0f)};
  if (active_) invalidate();
}

std::string NSLayoutConstraint::description() const {
  std::ostringstream os;
  os << "<NSLayoutConstraint " << itemName(firstItem_) << "." << attributeName(firstAttribute_)
     << (relation_ == NSLayoutRelation::equal             ? " == "
         : relation_ == NSLayoutRelation::lessThanOrEqual ? " <= "
                                                          : " >= ");
  if (secondItem_) {
    os << itemName(secondItem_) << "." << attributeName(secondAttribute_);
    if (multiplier_ != 1) os << " * " << multiplier_;
    if (constant_ != 0) os << (constant_ > 0 ? " + " : " - ") << (constant_ > 0 ? constant_ : -constant_);
  } else {
    os << constant_;
  }
  if (priority_.rawValue < 1000) os << " @" << priority_.rawValue;
  os << ">";
  return os.str();
}

UILayoutGuide::UILayoutGuide() : handle_(std::make_shared<detail::LayoutItemHandle>()) {
  handle_->guide = this;
}

UILayoutGuide::~UILayoutGuide() { handle_->guide = nullptr; }

std::shared_ptr<UIView> UILayoutGuide::owningView() const {
  return owningView_ ? owningView_->shared_from_this() : nullptr;
}

CGRect UILayoutGuide::layoutFrame() const {
  if (safeArea_ && owningView_) return insetRect(owningView_->bounds(), owningView_->safeAreaInsets());
  return layoutFrame_;
}

}  // namespace uikit

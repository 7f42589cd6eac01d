// Layout anchors, constraints and layout guides.
//
// Main thread only (debug builds check). A constraint names one or two layout
// items (views or layout guides) through anchors and does not keep them
// alive: a constraint whose item is gone has no effect. Activating stores
// the constraint with its first item's view (a guide's owning view), which
// keeps it until it is deactivated; removing a view from its superview
// deactivates the constraints between its subtree and the views outside.
//
// Constraints are solved when a view's tree lays out (UIView::layoutIfNeeded,
// or on the main queue's next turn for views in a window). A required
// constraint that conflicts with the other required ones is broken (left out
// of the solution) with a console line (foundation::print) that starts
// "[LayoutConstraints]" and names what was broken and its views, as the
// platform does: once per conflict, not on every layout pass (a constraint
// that changes and conflicts again is reported again).
#pragma once

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <morvik/platform/uikit/UIKitTypes.h>

namespace uikit {

class UIView;
class UILayoutGuide;
class NSLayoutConstraint;

namespace detail {
// Identity of a layout item that outlives it: the item clears the pointer
// when it is destroyed, so anchors and constraints can tell it is gone.
struct LayoutItemHandle {
  UIView* view = nullptr;
  UILayoutGuide* guide = nullptr;
  UIView* owningView() const;
};
}  // namespace detail

enum class NSLayoutAttribute { left, right, top, bottom, leading, trailing, width, height, centerX, centerY };
enum class NSLayoutRelation { lessThanOrEqual = -1, equal = 0, greaterThanOrEqual = 1 };

class NSLayoutAnchorBase {
 public:
  NSLayoutAnchorBase(std::shared_ptr<detail::LayoutItemHandle> item, NSLayoutAttribute attribute)
      : item_(std::move(item)), attribute_(attribute) {}
  NSLayoutAttribute attribute() const { return attribute_; }
  const std::shared_ptr<detail::LayoutItemHandle>& item() const { return item_; }

 protected:
  std::shared_ptr<NSLayoutConstraint> make(const NSLayoutAnchorBase* other, NSLayoutRelation relation,
                                           CGFloat multiplier, CGFloat constant) const;
  std::shared_ptr<detail::LayoutItemHandle> item_;
  NSLayoutAttribute attribute_;
};

// Anchors of one axis can only be related to anchors of the same axis.
template <class Self>
class NSLayoutAxisAnchor : public NSLayoutAnchorBase {
 public:
  using NSLayoutAnchorBase::NSLayoutAnchorBase;
  // Inactive constraints: this = other + constant (>=, <=).
  std::shared_ptr<NSLayoutConstraint> constraintEqualTo(const Self& anchor, CGFloat constant = 0) const {
    return make(&anchor, NSLayoutRelation::equal, 1, constant);
  }
  std::shared_ptr<NSLayoutConstraint> constraintGreaterThanOrEqualTo(const Self& anchor,
                                                                     CGFloat constant = 0) const {
    return make(&anchor, NSLayoutRelation::greaterThanOrEqual, 1, constant);
  }
  std::shared_ptr<NSLayoutConstraint> constraintLessThanOrEqualTo(const Self& anchor,
                                                                  CGFloat constant = 0) const {
    return make(&anchor, NSLayoutRelation::lessThanOrEqual, 1, constant);
  }
};

class NSLayoutXAxisAnchor : public NSLayoutAxisAnchor<NSLayoutXAxisAnchor> {
 public:
  using NSLayoutAxisAnchor::NSLayoutAxisAnchor;
};
class NSLayoutYAxisAnchor : public NSLayoutAxisAnchor<NSLayoutYAxisAnchor> {
 public:
  using NSLayoutAxisAnchor::NSLayoutAxisAnchor;
};

class NSLayoutDimension : public NSLayoutAxisAnchor<NSLayoutDimension> {
 public:
  using NSLayoutAxisAnchor::NSLayoutAxisAnchor;
  using NSLayoutAxisAnchor::constraintEqualTo;
  // this = anchor x multiplier + constant.
  std::shared_ptr<NSLayoutConstraint> constraintEqualTo(const NSLayoutDimension& anchor, CGFloat multiplier,
                                                        CGFloat constant) const {
    return make(&anchor, NSLayoutRelation::equal, multiplier, constant);
  }
  std::shared_ptr<NSLayoutConstraint> constraintGreaterThanOrEqualTo(const NSLayoutDimension& anchor,
                                                                     CGFloat multiplier,
                                                                     CGFloat constant) const {
    return make(&anchor, NSLayoutRelation::greaterThanOrEqual, multiplier, constant);
  }
  using NSLayoutAxisAnchor::constraintGreaterThanOrEqualTo;
  std::shared_ptr<NSLayoutConstraint> constraintEqualToConstant(CGFloat constant) const {
    return make(nullptr, NSLayoutRelation::equal, 0, constant);
  }
  std::shared_ptr<NSLayoutConstraint> constraintGreaterThanOrEqualToConstant(CGFloat constant) const {
    return make(nullptr, NSLayoutRelation::greaterThanOrEqual, 0, constant);
  }
  std::shared_ptr<NSLayoutConstraint> constraintLessThanOrEqualToConstant(CGFloat constant) const {
    return make(nullptr, NSLayoutRelation::lessThanOrEqual, 0, constant);
  }
};

// first.attribute (relation) second.attribute x multiplier + constant.
class NSLayoutConstraint : public std::enable_shared_from_this<NSLayoutConstraint> {
 public:
  NSLayoutConstraint(std::shared_ptr<detail::LayoutItemHandle> firstItem, NSLayoutAttribute firstAttribute,
                     NSLayoutRelation relation, std::shared_ptr<detail::LayoutItemHandle> secondItem,
                     NSLayoutAttribute secondAttribute, CGFloat multiplier, CGFloat constant);

  static void activate(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);
  static void deactivate(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);

  // Activating needs a live first item; otherwise nothing happens.
  bool isActive() const { return active_; }
  void setActive(bool active);

  CGFloat constant() const { return constant_; }
  void setConstant(CGFloat constant);
  UILayoutPriority priority() const { return priority_; }
  void setPriority(UILayoutPriority priority);
  CGFloat multiplier() const { return multiplier_; }
  NSLayoutRelation relation() const { return relation_; }
  NSLayoutAttribute firstAttribute() const { return firstAttribute_; }
  NSLayoutAttribute secondAttribute() const { return secondAttribute_; }
  const std::shared_ptr<detail::LayoutItemHandle>& firstItem() const { return firstItem_; }
  const std::shared_ptr<detail::LayoutItemHandle>& secondItem() const { return secondItem_; }
  std::optional<std::string> identifier;

  std::string description() const;

 private:
  friend class UIView;
  friend struct LayoutEngineAccess;
  void invalidate() const;
  std::shared_ptr<detail::LayoutItemHandle> firstItem_;
  NSLayoutAttribute firstAttribute_;
  NSLayoutRelation relation_;
  std::shared_ptr<detail::LayoutItemHandle> secondItem_;
  NSLayoutAttribute secondAttribute_;
  CGFloat multiplier_;
  CGFloat constant_;
  UILayoutPriority priority_ = UILayoutPriority::required;
  bool active_ = false;
  // Reported as broken since it last changed (layout runs on the main thread).
  mutable bool conflictReported_ = false;
};

// A rectangle that takes part in layout without being a view. Added to a view
// with UIView::addLayoutGuide, which owns it; its frame is in the owning
// view's coordinates after layout. A view's safeAreaLayoutGuide is one whose
// edges follow the view's safe-area insets (it cannot be moved by
// constraints).
class UILayoutGuide : public std::enable_shared_from_this<UILayoutGuide> {
 public:
  UILayoutGuide();
  ~UILayoutGuide();
  UILayoutGuide(const UILayoutGuide&) = delete;
  UILayoutGuide& operator=(const UILayoutGuide&) = delete;

  std::shared_ptr<UIView> owningView() const;
  CGRect layoutFrame() const;
  std::optional<std::string> identifier;

  NSLayoutXAxisAnchor leadingAnchor() const { return {handle_, NSLayoutAttribute::leading}; }
  NSLayoutXAxisAnchor trailingAnchor() const { return {handle_, NSLayoutAttribute::trailing}; }
  NSLayoutXAxisAnchor leftAnchor() const { return {handle_, NSLayoutAttribute::left}; }
  NSLayoutXAxisAnchor rightAnchor() const { return {handle_, NSLayoutAttribute::right}; }
  NSLayoutXAxisAnchor centerXAnchor() const { return {handle_, NSLayoutAttribute::centerX}; }
  NSLayoutYAxisAnchor topAnchor() const { return {handle_, NSLayoutAttribute::top}; }
  NSLayoutYAxisAnchor bottomAnchor() const { return {handle_, NSLayoutAttribute::bottom}; }
  NSLayoutYAxisAnchor centerYAnchor() const { return {handle_, NSLayoutAttribute::centerY}; }
  NSLayoutDimension widthAnchor() const { return {handle_, NSLayoutAttribute::width}; }
  NSLayoutDimension heightAnchor() const { return {handle_, NSLayoutAttribute::height}; }

  bool isSafeAreaGuide() const { return safeArea_; }

 private:
  friend class UIView;
  friend struct LayoutEngineAccess;
  std::shared_ptr<detail::LayoutItemHandle> handle_;
  UIView* owningView_ = nullptr;
  bool safeArea_ = false;
  CGRect layoutFrame_;
};

}  // namespace uikit

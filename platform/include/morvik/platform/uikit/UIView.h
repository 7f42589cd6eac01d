// UIView: a headless view tree.
//
// Ownership: a view owns its subviews (shared_ptr) and its layer; it knows its
// superview without owning it. Create views with std::make_shared. Every view
// is backed by a quartz::CALayer whose sublayers mirror the subviews' layers
// (in the same order); corner radius, border and shadow are set on layer().
//
// Threads: views are main-thread objects. Debug builds (MORVIK_DEBUG_CHECKS)
// abort with a message when a mutator runs on another thread.
//
// Layout: views with translatesAutoresizingMaskIntoConstraints (the default)
// keep the frames they are given; the others are placed by the constraints
// of their tree, solved on layoutIfNeeded() or, for views in a window, on the
// main queue's next turn after something changed. A tree without a window is
// laid out only when asked. The root of a tree always keeps its frame.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <morvik/platform/quartz/CALayer.h>
#include <morvik/platform/uikit/NSLayoutConstraint.h>
#include <morvik/platform/uikit/UIColor.h>
#include <morvik/platform/uikit/UIKitTypes.h>

namespace uikit {

class UIWindow;
class UIViewController;

class UIView : public std::enable_shared_from_this<UIView> {
 public:
  explicit UIView(const CGRect& frame = {});
  virtual ~UIView();
  UIView(const UIView&) = delete;
  UIView& operator=(const UIView&) = delete;

  // The class name shown by description() and recursiveDescription().
  virtual std::string className() const { return "UIView"; }

  // --- Geometry (in the superview's coordinates; bounds in the view's own) ---
  // frame is derived from center, bounds size and transform; setting it with a
  // non-identity transform sets the size and centre as if there were none.
  CGRect frame() const;
  // Overridable, as on the platform (layout sets frames through it too).
  virtual void setFrame(const CGRect& frame);
  CGRect bounds() const { return bounds_; }
  virtual void setBounds(const CGRect& bounds);
  CGPoint center() const { return center_; }
  void setCenter(const CGPoint& center);
  CGAffineTransform transform() const { return transform_; }
  void setTransform(const CGAffineTransform& transform);

  // --- Appearance ---
  CGFloat alpha() const { return alpha_; }
  void setAlpha(CGFloat alpha);  // clamped to 0..1
  // The alpha seen at the dispatch clock's present time: alpha() unless an
  // animation of it is running (see animate below).
  CGFloat presentationAlpha() const;
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden);
  const std::optional<UIColor>& backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(std::optional<UIColor> color);
  // Inherited from the superview when not set; system blue at the root.
  UIColor tintColor() const;
  void setTintColor(std::optional<UIColor> color);
  int tag() const { return tag_; }
  void setTag(int tag);
  bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
  void setUserInteractionEnabled(bool enabled);
  bool clipsToBounds() const;
  void setClipsToBounds(bool clips);
  UIViewContentMode contentMode() const { return contentMode_; }
  void setContentMode(UIViewContentMode mode);
  const std::shared_ptr<quartz::CALayer>& layer() const { return layer_; }

  // --- Tree ---
  std::shared_ptr<UIView> superview() const;
  const std::vector<std::shared_ptr<UIView>>& subviews() const { return subviews_; }
  // Adding a view that has a superview moves it (also within the same
  // superview, to the top). Adding a view to itself or to one of its own
  // descendants is refused (nothing changes).
  void addSubview(std::shared_ptr<UIView> view);
  void insertSubview(std::shared_ptr<UIView> view, std::size_t at);  // index clamped
  // A sibling that is not a subview: above inserts at the top, below at the bottom.
  void insertSubviewAbove(std::shared_ptr<UIView> view, const std::shared_ptr<UIView>& sibling);
  void insertSubviewBelow(std::shared_ptr<UIView> view, const std::shared_ptr<UIView>& sibling);
  void removeFromSuperview();
  void bringSubviewToFront(const std::shared_ptr<UIView>& view);
  void sendSubviewToBack(const std::shared_ptr<UIView>& view);
  // True for the view itself too.
  bool isDescendant(const UIView& of) const;
  // This view or the first descendant (depth first, in subview order) with the tag.
  std::shared_ptr<UIView> viewWithTag(int tag);
  // The window at the root of this view's tree, if the root is one.
  std::shared_ptr<UIWindow> window() const;
  // The controller whose view this is, if any.
  std::shared_ptr<UIViewController> owningViewController() const;

  // Overridable notifications of tree changes.
  virtual void didAddSubview(UIView& subview) { (void)subview; }
  virtual void willRemoveSubview(UIView& subview) { (void)subview; }
  virtual void didMoveToSuperview() {}
  virtual void didMoveToWindow() {}

  // --- Layout ---
  void setNeedsLayout();
  bool needsLayout() const { return needsLayout_; }
  // Lays out the tree this view belongs to (constraints included) when
  // anything in it is marked, then calls layoutSubviews top-down where needed.
  void layoutIfNeeded();
  // Places the subviews that constraints position. Overrides call this first.
  virtual void layoutSubviews();
  // Marks the view for drawing: draw(bounds) runs after layoutSubviews in the
  // next layout pass of its tree. New views are marked.
  void setNeedsDisplay();
  // Draws nothing by default; overrides update their layers here.
  virtual void draw(const CGRect& rect) { (void)rect; }
  // Size from content alone; UIViewNoIntrinsicMetric on an axis without one.
  virtual CGSize intrinsicContentSize() const { return {UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric}; }
  void invalidateIntrinsicContentSize();
  // The size the view would like within `size`; the current size by default.
  virtual CGSize sizeThatFits(const CGSize& size) const;
  // Resizes the view to sizeThatFits(current size), keeping its origin.
  void sizeToFit();
  UILayoutPriority contentHuggingPriority(NSLayoutConstraintAxis axis) const;
  void setContentHuggingPriority(UILayoutPriority priority, NSLayoutConstraintAxis axis);
  UILayoutPriority contentCompressionResistancePriority(NSLayoutConstraintAxis axis) const;
  void setContentCompressionResistancePriority(UILayoutPriority priority, NSLayoutConstraintAxis axis);
  bool translatesAutoresizingMaskIntoConstraints() const { return translatesAutoresizing_; }
  void setTranslatesAutoresizingMaskIntoConstraints(bool translates);

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

  // Active constraints stored with this view.
  const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints() const { return constraints_; }
  void addConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint);  // activates it
  void addConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);
  void removeConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint);  // deactivates it
  void removeConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);

  void addLayoutGuide(const std::shared_ptr<UILayoutGuide>& guide);
  void removeLayoutGuide(const std::shared_ptr<UILayoutGuide>& guide);
  const std::vector<std::shared_ptr<UILayoutGuide>>& layoutGuides() const { return layoutGuides_; }

  // The part of the view not covered by the window's insets (status bar,
  // home indicator) or by bars of the controllers around it, from the
  // current frames. A window answers its own insets.
  virtual UIEdgeInsets safeAreaInsets() const;
  const std::shared_ptr<UILayoutGuide>& safeAreaLayoutGuide();

  // --- Hit testing and coordinates ---
  // The deepest visible, interactive view under the point (in this view's
  // coordinates): hidden views, views with alpha below 0.01 and views with
  // user interaction off are skipped with their subtrees. Later subviews
  // are in front.
  virtual std::shared_ptr<UIView> hitTest(const CGPoint& point);
  virtual bool point(const CGPoint& inside) const;
  // Between this view's coordinates and another view's in the same tree
  // (null: the tree's root). Views in different trees: unchanged.
  CGPoint convert(const CGPoint& point, const UIView* to) const;
  CGRect convert(const CGRect& rect, const UIView* to) const;
  CGPoint convertFrom(const CGPoint& point, const UIView* from) const;
  CGRect convertFrom(const CGRect& rect, const UIView* from) const;

  // --- Responder ---
  virtual bool canBecomeFirstResponder() const { return false; }
  virtual bool becomeFirstResponder();
  virtual bool resignFirstResponder();
  bool isFirstResponder() const;
  // Resigns the first responder if it is this view or inside it. True when
  // nothing inside was first responder or it resigned.
  bool endEditing(bool force);

  // --- Animation ---
  // Runs `animations` at once (the end state is applied immediately to the
  // model) and calls `completion` with true on the main queue once delay +
  // duration has passed on the dispatch clock. An alpha changed inside the
  // block is also recorded on the view's layer as an "opacity" animation from
  // the alpha seen before (kept through the delay) to the new one, with the
  // options' curve, so presentationAlpha() and the descriptions tell what a
  // person sees meanwhile. Main thread only.
  static void animate(double withDuration, double delay, UIViewAnimationOptions options,
                      const std::function<void()>& animations, std::function<void(bool)> completion = {});
  static void animate(double withDuration, const std::function<void()>& animations,
                      std::function<void(bool)> completion = {});
  // Runs the block; animations started inside it complete on the next turn
  // of the main queue without waiting for their duration.
  static void performWithoutAnimation(const std::function<void()>& actions);

  // --- Description ---
  // "<UILabel: frame = (x y; w h); text = 'Steps'; hidden = YES; alpha = 0.9>"
  // (the alpha seen at present, see presentationAlpha()).
  std::string description() const;
  // This view and its subviews, one per line, indented with " | " per depth.
  std::string recursiveDescription() const;

 protected:
  // For subclasses with another layer class.
  UIView(const CGRect& frame, std::shared_ptr<quartz::CALayer> layer);
  // Extra "; key = value" fields for the description.
  virtual std::string descriptionFields() const { return {}; }
  // Called after the bounds changed (size or origin), also through setFrame.
  virtual void boundsDidChange() {}
  void checkThread(const char* what) const;
  // Marks the superview (and this view) for layout after a content change.
  void setNeedsLayoutAround();
  // The superview without taking ownership (usable during construction).
  static UIView* rawSuperview(const UIView& view) { return view.superview_; }

 private:
  friend struct LayoutEngineAccess;
  friend class UIViewController;
  friend class UINavigationController;
  friend class NSLayoutConstraint;
  void insertAt(std::shared_ptr<UIView> view, std::size_t index);
  void detachFromSuperview();
  void markSubtreeDirty();
  void deactivateConstraintsCrossing(UIView& subtree);
  void notifyMovedToWindow(bool windowChanged);
  void syncLayerGeometry();
  void appendDescription(std::string& out, int depth) const;
  UIView* root();
  const UIView* treeRoot() const;

  std::shared_ptr<detail::LayoutItemHandle> handle_;
  std::shared_ptr<quartz::CALayer> layer_;
  UIView* superview_ = nullptr;
  std::vector<std::shared_ptr<UIView>> subviews_;
  std::weak_ptr<UIViewController> owningControllerWeak_;

  CGRect bounds_;
  CGPoint center_;
  CGAffineTransform transform_;
  CGFloat alpha_ = 1;
  bool hidden_ = false;
  std::optional<UIColor> backgroundColor_;
  std::optional<UIColor> tintColor_;
  int tag_ = 0;
  bool userInteractionEnabled_ = true;
  UIViewContentMode contentMode_ = UIViewContentMode::scaleToFill;

  bool translatesAutoresizing_ = true;
  bool needsLayout_ = true;
  bool subtreeNeedsLayout_ = true;
  std::array<UILayoutPriority, 2> hugging_{UILayoutPriority{250}, UILayoutPriority{250}};
  std::array<UILayoutPriority, 2> compression_{UILayoutPriority{750}, UILayoutPriority{750}};
  std::vector<std::shared_ptr<NSLayoutConstraint>> constraints_;
  std::vector<std::shared_ptr<UILayoutGuide>> layoutGuides_;
  std::shared_ptr<UILayoutGuide> safeAreaGuide_;
  // Insets added by containers (a navigation bar above the content).
  UIEdgeInsets containerInsets_;
  bool safeAreaGuideUsed_ = false;
  // Set by the layout engine for the parent's layoutSubviews to apply.
  std::optional<CGRect> solvedFrame_;
  bool layoutScheduled_ = false;
  bool needsDisplay_ = true;
  // The last layout pass read this view's frame for constraints.
  bool usedByConstraints_ = false;
};

}  // namespace uikit

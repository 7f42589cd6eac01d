#include "morvik/platform/uikit/UIView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "morvik/platform/dispatch/Dispatch.h"
#include "morvik/platform/uikit/UIViewController.h"
#include "morvik/platform/uikit/UIWindow.h"
#include "uikit/LayoutEngine.h"

namespace uikit {

namespace {
// The first responder of the process (one at a time, as on the platform).
std::weak_ptr<UIView>& firstResponderSlot() {
  static std::weak_ptr<UIView> slot;
  return slot;
}
thread_local int withoutAnimationDepth = 0;

// The animate call whose block is running on this thread, if any: changes
// made inside it are recorded on the layers as animations, so what the screen
// shows can be told from what the model holds.
struct AnimationContext {
  double duration = 0;
  double delay = 0;
  UIViewAnimationOptions options;
};
thread_local const AnimationContext* currentAnimation = nullptr;

// The key under which a view's alpha animation sits on its layer.
constexpr const char* kAlphaAnimationKey = "opacity";

quartz::CAMediaTimingFunction curveOf(UIViewAnimationOptions options) {
  using Name = quartz::CAMediaTimingFunctionName;
  const std::uint32_t curve = options.rawValue & (3u << 16);
  if (curve == UIViewAnimationOptions::curveEaseIn.rawValue)
    return quartz::CAMediaTimingFunction(Name::easeIn);
  if (curve == UIViewAnimationOptions::curveEaseOut.rawValue)
    return quartz::CAMediaTimingFunction(Name::easeOut);
  if (curve == UIViewAnimationOptions::curveLinear.rawValue)
    return quartz::CAMediaTimingFunction(Name::linear);
  return quartz::CAMediaTimingFunction(Name::easeInEaseOut);
}

}  // namespace

std::string formatCoordinate(double v) {
  if (std::fabs(v - std::round(v)) < 1e-9) return std::to_string(static_cast<long long>(std::llround(v)));
  std::ostringstream os;
  os.precision(6);
  os << v;
  return os.str();
}

namespace {
std::string formatNumber(CGFloat v) { return formatCoordinate(v); }
}  // namespace

UIView* detail::LayoutItemHandle::owningView() const {
  if (view) return view;
  if (guide) return LayoutEngineAccess::guideOwner(*guide);
  return nullptr;
}

UIView::UIView(const CGRect& frame) : UIView(frame, quartz::CALayer::layer()) {}

UIView::UIView(const CGRect& frame, std::shared_ptr<quartz::CALayer> layer)
    : handle_(std::make_shared<detail::LayoutItemHandle>()), layer_(std::move(layer)) {
  handle_->view = this;
  if (!layer_) layer_ = quartz::CALayer::layer();
  bounds_ = {{0, 0}, {frame.width(), frame.height()}};
  center_ = {frame.midX(), frame.midY()};
  syncLayerGeometry();
}

UIView::~UIView() {
  handle_->view = nullptr;
  for (auto& guide : layoutGuides_) guide->owningView_ = nullptr;
  if (safeAreaGuide_) safeAreaGuide_->owningView_ = nullptr;
  for (auto& sub : subviews_) sub->superview_ = nullptr;
  for (auto& c : constraints_) c->active_ = false;
}

void UIView::checkThread(const char* what) const {
#ifdef MORVIK_DEBUG_CHECKS
  dispatch::assertMainThread(what);
#else
  (void)what;
#endif
}

void UIView::syncLayerGeometry() {
  layer_->setBounds(bounds_);
  layer_->setPosition(center_);
  layer_->setAffineTransform(transform_);
}

CGRect UIView::frame() const {
  CGRect local{{-bounds_.width() / 2, -bounds_.height() / 2}, {bounds_.width(), bounds_.height()}};
  if (!transform_.isIdentity()) local = local.applying(transform_);
  return local.offsetBy(center_.x, center_.y);
}

void UIView::setFrame(const CGRect& frame) {
  checkThread("UIView::setFrame");
  CGRect f = frame.standardized();
  if (transform_.isIdentity() && f == this->frame()) return;
  bool sizeChanged = f.width() != bounds_.width() || f.height() != bounds_.height();
  struct Notify {
    UIView* v;
    bool changed;
    ~Notify() {
      if (changed) v->boundsDidChange();
    }
  } notify{this, sizeChanged};
  bounds_.size = {f.width(), f.height()};
  center_ = {f.midX(), f.midY()};
  syncLayerGeometry();
  if (translatesAutoresizing_ && !LayoutEngineAccess::applyingFrames()) {
    // A fixed frame feeds the constraints around it.
    if (!LayoutEngineAccess::inLayoutPass()) {
      LayoutEngineAccess::noteInputChange();
      if (superview_) superview_->setNeedsLayout();
    } else if (usedByConstraints_) {
      LayoutEngineAccess::noteInputChange();
    }
  }
  if (sizeChanged) setNeedsLayout();
}

void UIView::setBounds(const CGRect& bounds) {
  checkThread("UIView::setBounds");
  bool sizeChanged = bounds.size != bounds_.size;
  bool changed = bounds != bounds_;
  bounds_ = bounds;
  struct Notify {
    UIView* v;
    bool changed;
    ~Notify() {
      if (changed) v->boundsDidChange();
    }
  } notify{this, changed};
  syncLayerGeometry();
  if (sizeChanged && translatesAutoresizing_) LayoutEngineAccess::noteInputChange();
  if (sizeChanged) setNeedsLayout();
}

void UIView::setCenter(const CGPoint& center) {
  checkThread("UIView::setCenter");
  if (center_ == center) return;
  center_ = center;
  syncLayerGeometry();
  if (translatesAutoresizing_ && !LayoutEngineAccess::applyingFrames()) {
    // A fixed frame feeds the constraints around it.
    if (!LayoutEngineAccess::inLayoutPass()) {
      LayoutEngineAccess::noteInputChange();
      if (superview_) superview_->setNeedsLayout();
    } else if (usedByConstraints_) {
      LayoutEngineAccess::noteInputChange();
    }
  }
}

void UIView::setTransform(const CGAffineTransform& transform) {
  checkThread("UIView::setTransform");
  transform_ = transform;
  syncLayerGeometry();
}

void UIView::setAlpha(CGFloat alpha) {
  checkThread("UIView::setAlpha");
  const CGFloat shown = presentationAlpha();
  alpha_ = std::clamp(alpha, 0.0, 1.0);
  layer_->setOpacity(static_cast<float>(alpha_));
  const AnimationContext* context = withoutAnimationDepth > 0 ? nullptr : currentAnimation;
  if (!context || context->duration <= 0) {
    // Set outside an animation: seen at once, whatever was fading before.
    layer_->removeAnimation(kAlphaAnimationKey);
    return;
  }
  if (shown == alpha_) return;
  // From what is seen now to the new value; the old value stays on screen
  // through the delay.
  quartz::CABasicAnimation fade(kAlphaAnimationKey);
  fade.fromValue = static_cast<double>(shown);
  fade.toValue = static_cast<double>(alpha_);
  fade.duration = context->duration;
  if (context->delay > 0) {
    fade.beginTime =
        static_cast<double>(dispatch::DispatchTime::now().uptimeNanoseconds()) / 1e9 + context->delay;
  }
  fade.fillMode = quartz::CAMediaTimingFillMode::backwards;
  fade.timingFunction = curveOf(context->options);
  layer_->add(fade, kAlphaAnimationKey);
}

CGFloat UIView::presentationAlpha() const {
  if (!layer_->animation(kAlphaAnimationKey)) return alpha_;
  return static_cast<CGFloat>(layer_->presentationOpacity());
}

void UIView::setHidden(bool hidden) {
  checkThread("UIView::setHidden");
  if (hidden_ == hidden) return;
  hidden_ = hidden;
  layer_->setHidden(hidden);
  LayoutEngineAccess::noteInputChange();
  // A hidden arranged subview gives its room back.
  if (superview_) superview_->setNeedsLayout();
}

void UIView::setBackgroundColor(std::optional<UIColor> color) {
  checkThread("UIView::setBackgroundColor");
  backgroundColor_ = color;
  if (color) {
    layer_->setBackgroundColor(color->cgColor());
  } else {
    layer_->setBackgroundColor(std::nullopt);
  }
}

UIColor UIView::tintColor() const {
  for (const UIView* v = this; v; v = v->superview_) {
    if (v->tintColor_) return *v->tintColor_;
  }
  return UIColor::systemBlue();
}

void UIView::setTintColor(std::optional<UIColor> color) {
  checkThread("UIView::setTintColor");
  tintColor_ = color;
}

void UIView::setTag(int tag) {
  checkThread("UIView::setTag");
  tag_ = tag;
}

void UIView::setUserInteractionEnabled(bool enabled) {
  checkThread("UIView::setUserInteractionEnabled");
  userInteractionEnabled_ = enabled;
}

bool UIView::clipsToBounds() const { return layer_->masksToBounds(); }

void UIView::setClipsToBounds(bool clips) {
  checkThread("UIView::setClipsToBounds");
  layer_->setMasksToBounds(clips);
}

void UIView::setContentMode(UIViewContentMode mode) {
  checkThread("UIView::setContentMode");
  contentMode_ = mode;
}

// --- Tree ----------------------------------------------------------------------

std::shared_ptr<UIView> UIView::superview() const {
  return superview_ ? superview_->shared_from_this() : nullptr;
}

UIView* UIView::root() {
  UIView* v = this;
  while (v->superview_) v = v->superview_;
  return v;
}

bool UIView::isDescendant(const UIView& of) const {
  for (const UIView* v = this; v; v = v->superview_) {
    if (v == &of) return true;
  }
  return false;
}

std::shared_ptr<UIWindow> UIView::window() const {
  const UIView* v = this;
  while (v->superview_) v = v->superview_;
  auto* w = dynamic_cast<const UIWindow*>(v);
  if (!w) return nullptr;
  return std::const_pointer_cast<UIWindow>(std::static_pointer_cast<const UIWindow>(w->shared_from_this()));
}

std::shared_ptr<UIViewController> UIView::owningViewController() const {
  return owningControllerWeak_.lock();
}

void UIView::addSubview(std::shared_ptr<UIView> view) {
  checkThread("UIView::addSubview");
  insertAt(std::move(view), subviews_.size() + 1);
}

void UIView::insertSubview(std::shared_ptr<UIView> view, std::size_t at) {
  checkThread("UIView::insertSubview");
  insertAt(std::move(view), at);
}

void UIView::insertSubviewAbove(std::shared_ptr<UIView> view, const std::shared_ptr<UIView>& sibling) {
  checkThread("UIView::insertSubviewAbove");
  auto it = std::find(subviews_.begin(), subviews_.end(), sibling);
  if (it == subviews_.end() || view == sibling) {
    insertAt(std::move(view), subviews_.size() + 1);
    return;
  }
  // Index after the sibling, counted without the moving view.
  std::size_t index = 0;
  for (auto& s : subviews_) {
    if (s == view) continue;
    ++index;
    if (s == sibling) break;
  }
  insertAt(std::move(view), index);
}

void UIView::insertSubviewBelow(std::shared_ptr<UIView> view, const std::shared_ptr<UIView>& sibling) {
  checkThread("UIView::insertSubviewBelow");
  auto it = std::find(subviews_.begin(), subviews_.end(), sibling);
  if (it == subviews_.end() || view == sibling) {
    insertAt(std::move(view), 0);
    return;
  }
  std::size_t index = 0;
  for (auto& s : subviews_) {
    if (s == view) continue;
    if (s == sibling) break;
    ++index;
  }
  insertAt(std::move(view), index);
}

void UIView::insertAt(std::shared_ptr<UIView> view, std::size_t index) {
  if (!view || isDescendant(*view)) return;  // null, itself or an ancestor
  auto keep = view;
  bool sameParent = view->superview_ == this;
  std::shared_ptr<UIWindow> oldWindow = view->window();
  if (view->superview_) {
    if (sameParent) {
      subviews_.erase(std::find(subviews_.begin(), subviews_.end(), view));
    } else {
      view->detachFromSuperview();
    }
  }
  index = std::min(index, subviews_.size());
  subviews_.insert(subviews_.begin() + static_cast<std::ptrdiff_t>(index), view);
  view->superview_ = this;
  // Mirror the order in the layer tree: the view layers come after any plain
  // sublayers that precede the neighbour's layer.
  std::shared_ptr<quartz::CALayer> above;
  if (index + 1 < subviews_.size()) above = subviews_[index + 1]->layer_;
  if (above && above->superlayer() == layer_) {
    layer_->insertSublayerBelow(view->layer_, above);
  } else {
    layer_->addSublayer(view->layer_);
  }
  view->markSubtreeDirty();
  LayoutEngineAccess::noteInputChange();
  setNeedsLayout();
  if (!sameParent) {
    didAddSubview(*view);
    view->didMoveToSuperview();
    view->notifyMovedToWindow(oldWindow != view->window());
  }
}

void UIView::detachFromSuperview() {
  UIView* parent = superview_;
  if (!parent) return;
  parent->willRemoveSubview(*this);
  parent->deactivateConstraintsCrossing(*this);
  if (isFirstResponder()) resignFirstResponder();
  auto it = std::find_if(parent->subviews_.begin(), parent->subviews_.end(),
                         [this](const std::shared_ptr<UIView>& s) { return s.get() == this; });
  auto keep = shared_from_this();
  if (it != parent->subviews_.end()) parent->subviews_.erase(it);
  superview_ = nullptr;
  if (layer_->superlayer() == parent->layer_) layer_->removeFromSuperlayer();
  LayoutEngineAccess::noteInputChange();
  parent->setNeedsLayout();
}

void UIView::removeFromSuperview() {
  checkThread("UIView::removeFromSuperview");
  if (!superview_) return;
  auto keep = shared_from_this();
  bool hadWindow = window() != nullptr;
  detachFromSuperview();
  didMoveToSuperview();
  notifyMovedToWindow(hadWindow);
}

void UIView::notifyMovedToWindow(bool windowChanged) {
  if (!windowChanged) return;
  didMoveToWindow();
  auto subs = subviews_;
  for (auto& s : subs) s->notifyMovedToWindow(true);
}

void UIView::bringSubviewToFront(const std::shared_ptr<UIView>& view) {
  checkThread("UIView::bringSubviewToFront");
  if (!view || view->superview_ != this) return;
  insertAt(view, subviews_.size());
}

void UIView::sendSubviewToBack(const std::shared_ptr<UIView>& view) {
  checkThread("UIView::sendSubviewToBack");
  if (!view || view->superview_ != this) return;
  insertAt(view, 0);
}

std::shared_ptr<UIView> UIView::viewWithTag(int tag) {
  if (tag_ == tag) return shared_from_this();
  for (auto& s : subviews_) {
    if (auto found = s->viewWithTag(tag)) return found;
  }
  return nullptr;
}

void UIView::deactivateConstraintsCrossing(UIView& subtree) {
  // Constraints between the leaving subtree and the rest of the old tree lose
  // their meaning: deactivate them, as the platform does.
  std::vector<std::shared_ptr<NSLayoutConstraint>> crossing;
  std::function<void(UIView&)> visit = [&](UIView& v) {
    for (auto& c : v.constraints_) {
      UIView* a = c->firstItem() ? c->firstItem()->owningView() : nullptr;
      UIView* b = c->secondItem() ? c->secondItem()->owningView() : nullptr;
      if (!a || !b) continue;
      if (a->isDescendant(subtree) != b->isDescendant(subtree)) crossing.push_back(c);
    }
    for (auto& s : v.subviews_) visit(*s);
  };
  visit(*root());
  for (auto& c : crossing) c->setActive(false);
}

// --- Layout ----------------------------------------------------------------------

void UIView::markSubtreeDirty() {
  needsLayout_ = true;
  for (auto& s : subviews_) s->markSubtreeDirty();
  setNeedsLayout();
}

void UIView::setNeedsLayout() {
  checkThread("UIView::setNeedsLayout");
  needsLayout_ = true;
  UIView* v = this;
  for (;;) {
    v->subtreeNeedsLayout_ = true;
    if (!v->superview_) break;
    v = v->superview_;
  }
  LayoutEngineAccess::scheduleWindowLayout(*v);
}

void UIView::setNeedsDisplay() {
  checkThread("UIView::setNeedsDisplay");
  needsDisplay_ = true;
  setNeedsLayout();
}

void UIView::setNeedsLayoutAround() {
  LayoutEngineAccess::noteInputChange();
  setNeedsLayout();
  if (superview_) superview_->setNeedsLayout();
}

void UIView::layoutIfNeeded() {
  checkThread("UIView::layoutIfNeeded");
  UIView* r = root();
  if (!r->subtreeNeedsLayout_) return;
  auto keep = r->shared_from_this();
  LayoutEngineAccess::layoutTree(*r);
}

void UIView::layoutSubviews() { LayoutEngineAccess::applySolvedFrames(*this); }

void UIView::invalidateIntrinsicContentSize() {
  checkThread("UIView::invalidateIntrinsicContentSize");
  setNeedsLayoutAround();
}

CGSize UIView::sizeThatFits(const CGSize& size) const {
  (void)size;
  return bounds_.size;
}

void UIView::sizeToFit() {
  checkThread("UIView::sizeToFit");
  CGRect f = frame();
  CGSize s = sizeThatFits(bounds_.size);
  setFrame({f.origin, s});
}

UILayoutPriority UIView::contentHuggingPriority(NSLayoutConstraintAxis axis) const {
  return hugging_[axis == NSLayoutConstraintAxis::horizontal ? 0 : 1];
}
void UIView::setContentHuggingPriority(UILayoutPriority priority, NSLayoutConstraintAxis axis) {
  checkThread("UIView::setContentHuggingPriority");
  hugging_[axis == NSLayoutConstraintAxis::horizontal ? 0 : 1] = priority;
  setNeedsLayoutAround();
}
UILayoutPriority UIView::contentCompressionResistancePriority(NSLayoutConstraintAxis axis) const {
  return compression_[axis == NSLayoutConstraintAxis::horizontal ? 0 : 1];
}
void UIView::setContentCompressionResistancePriority(UILayoutPriority priority, NSLayoutConstraintAxis axis) {
  checkThread("UIView::setContentCompressionResistancePriority");
  compression_[axis == NSLayoutConstraintAxis::horizontal ? 0 : 1] = priority;
  setNeedsLayoutAround();
}

void UIView::setTranslatesAutoresizingMaskIntoConstraints(bool translates) {
  checkThread("UIView::setTranslatesAutoresizingMaskIntoConstraints");
  translatesAutoresizing_ = translates;
  setNeedsLayoutAround();
}

void UIView::addConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint) {
  if (constraint) constraint->setActive(true);
}
void UIView::addConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  NSLayoutConstraint::activate(constraints);
}
void UIView::removeConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint) {
  if (constraint) constraint->setActive(false);
}
void UIView::removeConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  NSLayoutConstraint::deactivate(constraints);
}

void UIView::addLayoutGuide(const std::shared_ptr<UILayoutGuide>& guide) {
  checkThread("UIView::addLayoutGuide");
  if (!guide || guide->safeArea_) return;
  if (guide->owningView_ == this) return;
  if (guide->owningView_) guide->owningView_->removeLayoutGuide(guide);
  guide->owningView_ = this;
  layoutGuides_.push_back(guide);
  setNeedsLayout();
}

void UIView::removeLayoutGuide(const std::shared_ptr<UILayoutGuide>& guide) {
  checkThread("UIView::removeLayoutGuide");
  auto it = std::find(layoutGuides_.begin(), layoutGuides_.end(), guide);
  if (it == layoutGuides_.end()) return;
  guide->owningView_ = nullptr;
  layoutGuides_.erase(it);
  setNeedsLayout();
}

UIEdgeInsets UIView::safeAreaInsets() const {
  UIEdgeInsets insets;
  if (superview_) {
    // The superview's safe rectangle, seen from this view's frame.
    UIEdgeInsets parent = superview_->safeAreaInsets();
    CGRect pb = superview_->bounds();
    CGRect safe = insetRect(pb, parent);
    CGRect f = frame();
    insets.top = std::max(0.0, safe.minY() - f.minY());
    insets.left = std::max(0.0, safe.minX() - f.minX());
    insets.bottom = std::max(0.0, f.maxY() - safe.maxY());
    insets.right = std::max(0.0, f.maxX() - safe.maxX());
    insets.top = std::min(insets.top, bounds_.height());
    insets.bottom = std::min(insets.bottom, bounds_.height());
  }
  insets.top += containerInsets_.top;
  insets.left += containerInsets_.left;
  insets.bottom += containerInsets_.bottom;
  insets.right += containerInsets_.right;
  return insets;
}

const std::shared_ptr<UILayoutGuide>& UIView::safeAreaLayoutGuide() {
  if (!safeAreaGuide_) {
    safeAreaGuide_ = std::make_shared<UILayoutGuide>();
    safeAreaGuide_->safeArea_ = true;
    safeAreaGuide_->owningView_ = this;
    safeAreaGuide_->identifier = "UIViewSafeAreaLayoutGuide";
  }
  return safeAreaGuide_;
}

// --- Hit testing ------------------------------------------------------------------

bool UIView::point(const CGPoint& inside) const { return bounds_.contains(inside); }

std::shared_ptr<UIView> UIView::hitTest(const CGPoint& p) {
  if (hidden_ || alpha_ < 0.01 || !userInteractionEnabled_) return nullptr;
  if (!point(p)) return nullptr;
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    auto sub = *it;
    CGPoint local = sub->convertFrom(p, this);
    if (auto hit = sub->hitTest(local)) return hit;
  }
  return shared_from_this();
}

// Conversions with no other view mean the root of this view's tree.
const UIView* UIView::treeRoot() const {
  const UIView* r = this;
  while (r->superview_) r = r->superview_;
  return r;
}

CGPoint UIView::convert(const CGPoint& point, const UIView* to) const {
  const UIView* target = to ? to : treeRoot();
  return layer_->convert(point, target->layer_.get());
}

CGRect UIView::convert(const CGRect& rect, const UIView* to) const {
  const UIView* target = to ? to : treeRoot();
  return layer_->convert(rect, target->layer_.get());
}

CGPoint UIView::convertFrom(const CGPoint& point, const UIView* from) const {
  if (!from) from = treeRoot();
  return from->convert(point, this);
}

CGRect UIView::convertFrom(const CGRect& rect, const UIView* from) const {
  if (!from) from = treeRoot();
  return from->convert(rect, this);
}

// --- Responder --------------------------------------------------------------------

bool UIView::becomeFirstResponder() {
  checkThread("UIView::becomeFirstResponder");
  if (!canBecomeFirstResponder()) return false;
  if (isFirstResponder()) return true;
  if (auto current = firstResponderSlot().lock()) {
    if (!current->resignFirstResponder()) return false;
  }
  firstResponderSlot() = weak_from_this();
  return true;
}

bool UIView::resignFirstResponder() {
  checkThread("UIView::resignFirstResponder");
  if (isFirstResponder()) firstResponderSlot().reset();
  return true;
}

bool UIView::isFirstResponder() const {
  auto current = firstResponderSlot().lock();
  return current.get() == this;
}

bool UIView::endEditing(bool force) {
  checkThread("UIView::endEditing");
  (void)force;
  auto current = firstResponderSlot().lock();
  if (!current || !current->isDescendant(*this)) return true;
  return current->resignFirstResponder();
}

// --- Animation --------------------------------------------------------------------

void UIView::animate(double withDuration, double delay, UIViewAnimationOptions options,
                     const std::function<void()>& animations, std::function<void(bool)> completion) {
#ifdef MORVIK_DEBUG_CHECKS
  dispatch::assertMainThread("UIView::animate");
#endif
  if (animations) {
    const AnimationContext context{std::max(0.0, withDuration), std::max(0.0, delay), options};
    const AnimationContext* outer = currentAnimation;
    currentAnimation = &context;
    struct Restore {
      const AnimationContext* outer;
      ~Restore() { currentAnimation = outer; }
    } restore{outer};
    animations();
  }
  if (!completion) return;
  double total = std::max(0.0, withDuration) + std::max(0.0, delay);
  auto block = [completion = std::move(completion)] { completion(true); };
  if (withoutAnimationDepth > 0 || total <= 0) {
    dispatch::DispatchQueue::main().async(block);
  } else {
    dispatch::DispatchQueue::main().asyncAfter(dispatch::DispatchTime::now() + total, block);
  }
}

void UIView::animate(double withDuration, const std::function<void()>& animations,
                     std::function<void(bool)> completion) {
  animate(withDuration, 0, UIViewAnimationOptions{}, animations, std::move(completion));
}

void UIView::performWithoutAnimation(const std::function<void()>& actions) {
  ++withoutAnimationDepth;
  struct Exit {
    ~Exit() { --withoutAnimationDepth; }
  } exit;
  if (actions) actions();
}

// --- Description ------------------------------------------------------------------

std::string UIView::description() const {
  CGRect f = frame();
  std::string out = "<" + className() + ": frame = (" + formatNumber(f.minX()) + " " +
                    formatNumber(f.minY()) + "; " + formatNumber(f.width()) + " " + formatNumber(f.height()) +
                    ")";
  out += descriptionFields();
  if (tag_ != 0) out += "; tag = " + std::to_string(tag_);
  if (hidden_) out += "; hidden = YES";
  if (const CGFloat shown = presentationAlpha(); shown != 1) out += "; alpha = " + formatNumber(shown);
  out += ">";
  return out;
}

void UIView::appendDescription(std::string& out, int depth) const {
  for (int i = 0; i < depth; ++i) out += " | ";
  out += description();
  out += "\n";
  for (auto& s : subviews_) s->appendDescription(out, depth + 1);
}

std::string UIView::recursiveDescription() const {
  std::string out;
  appendDescription(out, 0);
  return out;
}

// --- Helpers ------------------------------------------------------------------------

CGRect insetRect(const CGRect& rect, const UIEdgeInsets& insets) {
  CGRect r = rect.standardized();
  return {{r.minX() + insets.left, r.minY() + insets.top},
          {std::max(0.0, r.width() - insets.left - insets.right),
           std::max(0.0, r.height() - insets.top - insets.bottom)}};
}

std::string toString(const UIEdgeInsets& i) {
  return "{" + formatNumber(i.top) + ", " + formatNumber(i.left) + ", " + formatNumber(i.bottom) + ", " +
         formatNumber(i.right) + "}";
}

}  // namespace uikit

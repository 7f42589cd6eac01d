#include <morvik/platform/dispatch/Dispatch.h>
#include <morvik/platform/quartz/CALayer.h>
#include <morvik/platform/quartz/CATransaction.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace quartz {

namespace {

std::string num(double v) {
  if (v == 0) return "0";
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, end) : "nan";
}

// Shortest text that reads back as the same float: 0.9f prints as 0.9.
std::string num(float v) {
  if (v == 0) return "0";
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, end) : "nan";
}

float clampUnit(float v) { return std::isnan(v) ? 0.f : std::clamp(v, 0.f, 1.f); }

double nowSeconds() { return static_cast<double>(dispatch::DispatchTime::now().uptimeNanoseconds()) / 1e9; }

// Value arithmetic for from/to/by values; nullopt where the kinds differ.
template <class F>
std::optional<CAValue> combine(const CAValue& a, const CAValue& b, F f) {
  if (auto x = std::get_if<double>(&a), y = std::get_if<double>(&b); x && y) return CAValue(f(*x, *y));
  if (auto x = std::get_if<CGPoint>(&a), y = std::get_if<CGPoint>(&b); x && y) {
    return CAValue(CGPoint{f(x->x, y->x), f(x->y, y->y)});
  }
  if (auto x = std::get_if<CGSize>(&a), y = std::get_if<CGSize>(&b); x && y) {
    return CAValue(CGSize{f(x->width, y->width), f(x->height, y->height)});
  }
  if (auto x = std::get_if<CGRect>(&a), y = std::get_if<CGRect>(&b); x && y) {
    return CAValue(CGRect{{f(x->origin.x, y->origin.x), f(x->origin.y, y->origin.y)},
                          {f(x->size.width, y->size.width), f(x->size.height, y->size.height)}});
  }
  return std::nullopt;
}

CAValue plus(const CAValue& a, const CAValue& b) {
  return combine(a, b, [](double x, double y) { return x + y; }).value_or(b);
}
CAValue minus(const CAValue& a, const CAValue& b) {
  return combine(a, b, [](double x, double y) { return x - y; }).value_or(a);
}

CAValue interpolate(const CAValue& from, const CAValue& to, double t) {
  if (auto mixed = combine(from, to, [t](double x, double y) { return x + (y - x) * t; })) return *mixed;
  return t < 0.5 ? from : to;
}

bool isSet(const CAValue& v) { return !std::holds_alternative<std::monostate>(v); }

// What one animation shows at `now` over the value beneath it, or nothing
// when it has no effect at that time.
std::optional<CAValue> sample(const CABasicAnimation& a, double begin, const CAValue& beneath, double now) {
  if (!(a.duration > 0)) return std::nullopt;
  const double local = (now - begin) * a.speed + a.timeOffset;
  const double cycle = a.autoreverses ? 2 * a.duration : a.duration;
  double active = cycle * (a.repeatCount > 0 ? static_cast<double>(a.repeatCount) : 1.0);
  if (a.repeatDuration > 0) active = a.repeatDuration;
  if (a.repeatCount >= kCAHugeRepeatCount) active = std::numeric_limits<double>::infinity();
  const bool fillsBackwards =
      a.fillMode == CAMediaTimingFillMode::backwards || a.fillMode == CAMediaTimingFillMode::both;
  const bool fillsForwards =
      a.fillMode == CAMediaTimingFillMode::forwards || a.fillMode == CAMediaTimingFillMode::both;
  double progress;  // linear progress within the current run, 0..1
  if (local < 0) {
    if (!fillsBackwards) return std::nullopt;
    progress = 0;
  } else if (local >= active) {
    if (!fillsForwards) return std::nullopt;
    const double end = std::fmod(active, cycle);
    progress =
        end == 0 ? (a.autoreverses ? 0 : 1) : (end <= a.duration ? end / a.duration : 2 - end / a.duration);
  } else {
    const double within = std::fmod(local, cycle);
    progress = within <= a.duration ? within / a.duration : 2 - within / a.duration;
  }
  const double eased = a.timingFunction ? a.timingFunction->evaluate(progress) : progress;

  CAValue from = a.fromValue, to = a.toValue;
  if (!isSet(from)) from = isSet(to) && isSet(a.byValue) ? minus(to, a.byValue) : beneath;
  if (!isSet(to)) to = isSet(a.byValue) ? plus(from, a.byValue) : beneath;
  CAValue shown = interpolate(from, to, eased);
  if (a.isAdditive) shown = plus(beneath, shown);
  return shown;
}

}  // namespace

CALayer::CALayer() = default;
CALayer::~CALayer() = default;

void CALayer::checkThread(const char* what) const {
#ifdef MORVIK_DEBUG_CHECKS
  dispatch::assertMainThread(what);
#else
  (void)what;
#endif
}

// Geometry ------------------------------------------------------------------

CGRect CALayer::frame() const {
  const CGRect local{{-anchorPoint_.x * bounds_.size.width, -anchorPoint_.y * bounds_.size.height},
                     bounds_.size};
  CGRect r = transform_.isIdentity() ? local : local.applying(transform_);
  return r.offsetBy(position_.x, position_.y);
}

void CALayer::setFrame(const CGRect& frame) {
  checkThread("CALayer::setFrame");
  if (frame.isNull()) return;
  const CGRect f = frame.standardized();
  const bool sizeChanged = f.size != bounds_.size;
  bounds_.size = f.size;
  position_ = {f.origin.x + anchorPoint_.x * f.size.width, f.origin.y + anchorPoint_.y * f.size.height};
  if (sizeChanged) needsLayout_ = true;
}

void CALayer::setBounds(const CGRect& bounds) {
  checkThread("CALayer::setBounds");
  if (bounds.isNull()) return;
  const CGRect b = bounds.standardized();
  if (b.size != bounds_.size) needsLayout_ = true;
  bounds_ = b;
}

void CALayer::setPosition(const CGPoint& position) {
  checkThread("CALayer::setPosition");
  position_ = position;
}

void CALayer::setAnchorPoint(const CGPoint& anchorPoint) {
  checkThread("CALayer::setAnchorPoint");
  anchorPoint_ = anchorPoint;
}

void CALayer::setZPosition(CGFloat z) {
  checkThread("CALayer::setZPosition");
  zPosition_ = z;
}

void CALayer::setAffineTransform(const CGAffineTransform& transform) {
  checkThread("CALayer::setAffineTransform");
  transform_ = transform;
}

namespace {

// This layer's coordinates to its superlayer's.
CGAffineTransform toSuperlayer(const CALayer& l) {
  const CGRect b = l.bounds();
  const CGPoint a = l.anchorPoint();
  const CGPoint p = l.position();
  return CGAffineTransform::makeTranslation(-(b.origin.x + a.x * b.size.width),
                                            -(b.origin.y + a.y * b.size.height))
      .concatenating(l.affineTransform())
      .concatenating(CGAffineTransform::makeTranslation(p.x, p.y));
}

// This layer's coordinates to its root's, and the root.
CGAffineTransform toRoot(const CALayer* l, const CALayer** root) {
  CGAffineTransform t;
  const CALayer* cur = l;
  std::shared_ptr<CALayer> parent;
  while ((parent = cur->superlayer())) {
    t = t.concatenating(toSuperlayer(*cur));
    cur = parent.get();
  }
  *root = cur;
  return t;
}

}  // namespace

CGPoint CALayer::convert(const CGPoint& point, const CALayer* to) const {
  const CALayer* rootA = nullptr;
  const CGAffineTransform up = toRoot(this, &rootA);
  if (!to) return applying(point, up);
  const CALayer* rootB = nullptr;
  const CGAffineTransform other = toRoot(to, &rootB);
  if (rootA != rootB) return point;
  return applying(point, up.concatenating(other.inverted()));
}

CGRect CALayer::convert(const CGRect& rect, const CALayer* to) const {
  if (rect.isNull()) return rect;
  const CALayer* rootA = nullptr;
  const CGAffineTransform up = toRoot(this, &rootA);
  if (!to) return rect.applying(up);
  const CALayer* rootB = nullptr;
  const CGAffineTransform other = toRoot(to, &rootB);
  if (rootA != rootB) return rect;
  return rect.applying(up.concatenating(other.inverted()));
}

// Appearance ----------------------------------------------------------------

void CALayer::setOpacity(float opacity) {
  checkThread("CALayer::setOpacity");
  opacity_ = clampUnit(opacity);
}
void CALayer::setHidden(bool hidden) {
  checkThread("CALayer::setHidden");
  hidden_ = hidden;
}
void CALayer::setBackgroundColor(std::optional<CGColor> color) {
  checkThread("CALayer::setBackgroundColor");
  backgroundColor_ = color;
}
void CALayer::setCornerRadius(CGFloat radius) {
  checkThread("CALayer::setCornerRadius");
  cornerRadius_ = std::max<CGFloat>(0, radius);
}
void CALayer::setMasksToBounds(bool masks) {
  checkThread("CALayer::setMasksToBounds");
  masksToBounds_ = masks;
}
void CALayer::setBorderWidth(CGFloat width) {
  checkThread("CALayer::setBorderWidth");
  borderWidth_ = std::max<CGFloat>(0, width);
}
void CALayer::setBorderColor(std::optional<CGColor> color) {
  checkThread("CALayer::setBorderColor");
  borderColor_ = color;
}
void CALayer::setShadowColor(std::optional<CGColor> color) {
  checkThread("CALayer::setShadowColor");
  shadowColor_ = color;
}
void CALayer::setShadowOpacity(float opacity) {
  checkThread("CALayer::setShadowOpacity");
  shadowOpacity_ = clampUnit(opacity);
}
void CALayer::setShadowOffset(const CGSize& offset) {
  checkThread("CALayer::setShadowOffset");
  shadowOffset_ = offset;
}
void CALayer::setShadowRadius(CGFloat radius) {
  checkThread("CALayer::setShadowRadius");
  shadowRadius_ = std::max<CGFloat>(0, radius);
}
void CALayer::setName(std::optional<std::string> name) {
  checkThread("CALayer::setName");
  name_ = std::move(name);
}

void CALayer::setContents(std::shared_ptr<CGImage> contents) {
  checkThread("CALayer::setContents");
  contents_ = std::move(contents);
}
void CALayer::setContentsGravity(ContentsGravity gravity) {
  checkThread("CALayer::setContentsGravity");
  contentsGravity_ = gravity;
}

void CALayer::setMask(std::shared_ptr<CALayer> mask) {
  checkThread("CALayer::setMask");
  if (mask.get() == this) return;
  if (mask) mask->removeFromSuperlayer();
  mask_ = std::move(mask);
}

// Tree ----------------------------------------------------------------------

bool CALayer::isDescendant(const CALayer& of) const {
  for (const CALayer* cur = this; cur;) {
    if (cur == &of) return true;
    auto parent = cur->superlayer();
    cur = parent.get();
  }
  return false;
}

bool CALayer::canAdopt(const std::shared_ptr<CALayer>& layer) const {
  // Refuses cycles: the layer itself or any of this layer's ancestors.
  return layer && !isDescendant(*layer);
}

void CALayer::detachChild(const CALayer* child) {
  auto it =
      std::find_if(sublayers_.begin(), sublayers_.end(), [&](const auto& l) { return l.get() == child; });
  if (it != sublayers_.end()) sublayers_.erase(it);
}

void CALayer::adopt(const std::shared_ptr<CALayer>& layer, std::size_t index) {
  layer->removeFromSuperlayer();
  index = std::min(index, sublayers_.size());
  sublayers_.insert(sublayers_.begin() + static_cast<std::ptrdiff_t>(index), layer);
  layer->superlayer_ = weak_from_this();
  if (mask_ == layer) mask_.reset();
}

void CALayer::addSublayer(std::shared_ptr<CALayer> layer) {
  checkThread("CALayer::addSublayer");
  if (!canAdopt(layer)) return;
  // After a removal from this same layer the count drops by one: append anyway.
  adopt(layer, static_cast<std::size_t>(-1));
}

void CALayer::insertSublayer(std::shared_ptr<CALayer> layer, std::size_t at) {
  checkThread("CALayer::insertSublayer");
  if (!canAdopt(layer)) return;
  adopt(layer, at);
}

void CALayer::insertSublayerBelow(std::shared_ptr<CALayer> layer, const std::shared_ptr<CALayer>& sibling) {
  checkThread("CALayer::insertSublayerBelow");
  if (!canAdopt(layer) || layer == sibling) return;
  layer->removeFromSuperlayer();
  auto it = std::find(sublayers_.begin(), sublayers_.end(), sibling);
  adopt(layer, it == sublayers_.end() ? 0 : static_cast<std::size_t>(it - sublayers_.begin()));
}

void CALayer::insertSublayerAbove(std::shared_ptr<CALayer> layer, const std::shared_ptr<CALayer>& sibling) {
  checkThread("CALayer::insertSublayerAbove");
  if (!canAdopt(layer) || layer == sibling) return;
  layer->removeFromSuperlayer();
  auto it = std::find(sublayers_.begin(), sublayers_.end(), sibling);
  adopt(layer,
        it == sublayers_.end() ? sublayers_.size() : static_cast<std::size_t>(it - sublayers_.begin()) + 1);
}

void CALayer::replaceSublayer(const std::shared_ptr<CALayer>& oldLayer, std::shared_ptr<CALayer> with) {
  checkThread("CALayer::replaceSublayer");
  auto it = std::find(sublayers_.begin(), sublayers_.end(), oldLayer);
  if (it == sublayers_.end() || oldLayer == with) return;
  if (with && !canAdopt(with)) return;
  const auto index = static_cast<std::size_t>(it - sublayers_.begin());
  oldLayer->removeFromSuperlayer();
  if (with) {
    // Removing `with` from this same layer may shift the slot.
    auto again = std::find(sublayers_.begin(), sublayers_.end(), with);
    const bool before =
        again != sublayers_.end() && static_cast<std::size_t>(again - sublayers_.begin()) < index;
    adopt(with, before ? index - 1 : index);
  }
}

void CALayer::removeFromSuperlayer() {
  checkThread("CALayer::removeFromSuperlayer");
  auto parent = superlayer_.lock();
  superlayer_.reset();
  if (!parent) return;
  // The parent may hold the last reference to this layer.
  auto self = weak_from_this().lock();
  parent->detachChild(this);
}

void CALayer::setSublayers(std::vector<std::shared_ptr<CALayer>> layers) {
  checkThread("CALayer::setSublayers");
  for (const auto& old : std::vector<std::shared_ptr<CALayer>>(sublayers_)) old->removeFromSuperlayer();
  for (auto& l : layers)
    if (canAdopt(l)) adopt(l, sublayers_.size());
}

// Layout --------------------------------------------------------------------

void CALayer::setNeedsLayout() {
  checkThread("CALayer::setNeedsLayout");
  needsLayout_ = true;
}

void CALayer::layoutIfNeeded() {
  checkThread("CALayer::layoutIfNeeded");
  auto self = weak_from_this().lock();  // layout may detach this layer
  if (needsLayout_) {
    needsLayout_ = false;
    layoutSublayers();
  }
  for (const auto& child : std::vector<std::shared_ptr<CALayer>>(sublayers_)) child->layoutIfNeeded();
}

void CALayer::layoutSublayers() {
  if (auto d = delegate.lock()) d->layoutSublayers(*this);
}

// Animations ----------------------------------------------------------------

void CALayer::add(const CABasicAnimation& animation, const std::string& forKey) {
  checkThread("CALayer::add(animation)");
  CABasicAnimation copy = animation;
  if (copy.duration <= 0) copy.duration = CATransaction::animationDuration();
  std::string key = forKey.empty() ? "animation-" + std::to_string(nextAnimationSerial_) : forKey;
  removeAnimation(key);
  const std::uint64_t serial = nextAnimationSerial_++;
  const double now = nowSeconds();
  animations_.push_back({key, copy, serial, copy.beginTime > 0 ? copy.beginTime : now});

  const double total = copy.totalDuration();
  if (!copy.isRemovedOnCompletion || !std::isfinite(total)) return;
  double delay = total;
  if (copy.beginTime > 0) delay += std::max(0.0, copy.beginTime - now);
  std::weak_ptr<CALayer> weak = weak_from_this();
  if (weak.expired()) return;  // not owned by a shared_ptr: nothing can reach it later
  dispatch::DispatchQueue::main().asyncAfter(dispatch::DispatchTime::now() + delay, [weak, key, serial] {
    auto layer = weak.lock();
    if (!layer) return;
    auto& list = layer->animations_;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const AnimationEntry& e) { return e.key == key && e.serial == serial; }),
               list.end());
  });
}

const CABasicAnimation* CALayer::animation(const std::string& forKey) const {
  for (const AnimationEntry& e : animations_)
    if (e.key == forKey) return &e.animation;
  return nullptr;
}

std::vector<std::string> CALayer::animationKeys() const {
  std::vector<std::string> keys;
  keys.reserve(animations_.size());
  for (const AnimationEntry& e : animations_) keys.push_back(e.key);
  return keys;
}

void CALayer::removeAnimation(const std::string& forKey) {
  checkThread("CALayer::removeAnimation");
  animations_.erase(std::remove_if(animations_.begin(), animations_.end(),
                                   [&](const AnimationEntry& e) { return e.key == forKey; }),
                    animations_.end());
}

void CALayer::removeAllAnimations() {
  checkThread("CALayer::removeAllAnimations");
  animations_.clear();
}

// Presentation --------------------------------------------------------------

CAValue CALayer::modelValue(const std::string& keyPath) const {
  if (keyPath == "opacity") return static_cast<double>(opacity_);
  // The rotation the model transform holds (an animation of it turns the layer about its anchor).
  if (keyPath == "transform.rotation.z" || keyPath == "transform.rotation")
    return static_cast<double>(std::atan2(transform_.b, transform_.a));
  if (keyPath == "position") return position_;
  if (keyPath == "position.x") return static_cast<double>(position_.x);
  if (keyPath == "position.y") return static_cast<double>(position_.y);
  if (keyPath == "bounds") return bounds_;
  if (keyPath == "cornerRadius") return static_cast<double>(cornerRadius_);
  if (keyPath == "borderWidth") return static_cast<double>(borderWidth_);
  if (keyPath == "shadowOpacity") return static_cast<double>(shadowOpacity_);
  return {};
}

CAValue CALayer::presentationValue(const std::string& keyPath) const {
  CAValue shown = modelValue(keyPath);
  const double now = nowSeconds();
  // In the order added: a later animation of the same key path shows over an earlier one.
  for (const AnimationEntry& e : animations_) {
    if (e.animation.keyPath != keyPath) continue;
    if (auto value = sample(e.animation, e.begin, shown, now)) shown = std::move(*value);
  }
  return shown;
}

float CALayer::presentationOpacity() const {
  const CAValue shown = presentationValue("opacity");
  const double* value = std::get_if<double>(&shown);
  return value ? clampUnit(static_cast<float>(*value)) : opacity_;
}

// Descriptions --------------------------------------------------------------

std::string CALayer::description() const {
  const CGRect f = frame();
  std::string s = "<" + className();
  if (name_) s += "; name = " + *name_;
  s += "; frame = (" + num(f.origin.x) + " " + num(f.origin.y) + "; " + num(f.size.width) + " " +
       num(f.size.height) + ")";
  s += "; opacity = " + num(presentationOpacity());
  if (hidden_) s += "; hidden = YES";
  s += descriptionFields();
  s += ">";
  return s;
}

void CALayer::appendDescription(std::string& out, int depth) const {
  for (int i = 0; i < depth; ++i) out += "   | ";
  out += description();
  out += "\n";
  for (const auto& child : sublayers_) child->appendDescription(out, depth + 1);
}

std::string CALayer::recursiveDescription() const {
  std::string out;
  appendDescription(out, 0);
  return out;
}

}  // namespace quartz

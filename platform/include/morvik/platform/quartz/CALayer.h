// Core Animation layers: a tree of plain model objects (no compositing, no
// implicit animation). Main thread only: debug builds (MORVIK_DEBUG_CHECKS)
// abort with a message when a mutator runs on another thread.
//
// Ownership: a layer owns its sublayers (shared_ptr) and its mask; it holds
// its superlayer and its delegate weakly. Create layers with
// std::make_shared (CALayer::layer() for short); subclasses keep that rule.
//
// Geometry follows the platform: `bounds` gives the layer's own coordinate
// space and size, `position` is where the `anchorPoint` (unit coordinates of
// the bounds, (0.5, 0.5) by default) sits in the superlayer. `frame` is
// derived: setting it changes bounds.size and position, never bounds.origin.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <morvik/platform/quartz/CAAnimation.h>
#include <morvik/platform/quartz/CGColor.h>
#include <morvik/platform/quartz/CGImage.h>
#include <morvik/platform/quartz/CGGeometry.h>

namespace quartz {

class CALayer;

// Receives layout calls for a layer (a view backing its layer, typically).
class CALayerDelegate {
 public:
  virtual ~CALayerDelegate() = default;
  virtual void layoutSublayers(CALayer& of) { (void)of; }
};

class CALayer : public std::enable_shared_from_this<CALayer> {
 public:
  CALayer();
  virtual ~CALayer();
  CALayer(const CALayer&) = delete;
  CALayer& operator=(const CALayer&) = delete;

  static std::shared_ptr<CALayer> layer() { return std::make_shared<CALayer>(); }

  // Geometry.
  CGRect frame() const;
  void setFrame(const CGRect& frame);
  CGRect bounds() const { return bounds_; }
  void setBounds(const CGRect& bounds);
  CGPoint position() const { return position_; }
  void setPosition(const CGPoint& position);
  CGPoint anchorPoint() const { return anchorPoint_; }
  void setAnchorPoint(const CGPoint& anchorPoint);
  CGFloat zPosition() const { return zPosition_; }
  void setZPosition(CGFloat z);
  // Maps a point from this layer's coordinates to another layer's (or back);
  // both must be in the same tree (else the point is returned unchanged).
  CGPoint convert(const CGPoint& point, const CALayer* to) const;
  CGRect convert(const CGRect& rect, const CALayer* to) const;

  // Appearance.
  float opacity() const { return opacity_; }
  void setOpacity(float opacity);  // clamped to 0..1
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden);
  const std::optional<CGColor>& backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(std::optional<CGColor> color);
  CGFloat cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(CGFloat radius);
  bool masksToBounds() const { return masksToBounds_; }
  void setMasksToBounds(bool masks);
  CGFloat borderWidth() const { return borderWidth_; }
  void setBorderWidth(CGFloat width);
  // Opaque black by default.
  const std::optional<CGColor>& borderColor() const { return borderColor_; }
  void setBorderColor(std::optional<CGColor> color);
  // Opaque black by default.
  const std::optional<CGColor>& shadowColor() const { return shadowColor_; }
  void setShadowColor(std::optional<CGColor> color);
  float shadowOpacity() const { return shadowOpacity_; }
  void setShadowOpacity(float opacity);  // clamped to 0..1
  // (0, -3) by default, as on the platform.
  CGSize shadowOffset() const { return shadowOffset_; }
  void setShadowOffset(const CGSize& offset);
  CGFloat shadowRadius() const { return shadowRadius_; }
  void setShadowRadius(CGFloat radius);
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> name);
  CGAffineTransform affineTransform() const { return transform_; }
  void setAffineTransform(const CGAffineTransform& transform);

  // A bitmap drawn over the background, placed in the bounds by the gravity
  // (resize by default); none draws nothing.
  enum class ContentsGravity { resize, resizeAspect, resizeAspectFill, center };
  const std::shared_ptr<CGImage>& contents() const { return contents_; }
  void setContents(std::shared_ptr<CGImage> contents);
  ContentsGravity contentsGravity() const { return contentsGravity_; }
  void setContentsGravity(ContentsGravity gravity);

  // The mask layer (not a sublayer; it has no superlayer). Setting a layer
  // that already is a sublayer somewhere removes it from there first.
  std::shared_ptr<CALayer> mask() const { return mask_; }
  void setMask(std::shared_ptr<CALayer> mask);

  // Tree. Adding a layer that has a superlayer removes it from that one first
  // (also when re-adding to the same parent). Adding a layer to itself or to
  // one of its own descendants is refused (nothing changes).
  std::shared_ptr<CALayer> superlayer() const { return superlayer_.lock(); }
  const std::vector<std::shared_ptr<CALayer>>& sublayers() const { return sublayers_; }
  void addSublayer(std::shared_ptr<CALayer> layer);
  // Index clamped to the number of sublayers.
  void insertSublayer(std::shared_ptr<CALayer> layer, std::size_t at);
  // When `sibling` is not a sublayer of this layer: below inserts at the
  // bottom and above at the top. Inserting a layer relative to itself does nothing.
  void insertSublayerBelow(std::shared_ptr<CALayer> layer, const std::shared_ptr<CALayer>& sibling);
  void insertSublayerAbove(std::shared_ptr<CALayer> layer, const std::shared_ptr<CALayer>& sibling);
  void replaceSublayer(const std::shared_ptr<CALayer>& oldLayer, std::shared_ptr<CALayer> with);
  void removeFromSuperlayer();
  // Replaces every sublayer (each new one is taken from its old parent).
  void setSublayers(std::vector<std::shared_ptr<CALayer>> layers);
  bool isDescendant(const CALayer& of) const;

  // Layout. setNeedsLayout marks the layer; layoutIfNeeded lays out marked
  // layers from this one down. layoutSublayers asks the delegate (or does
  // nothing); subclasses may override it.
  void setNeedsLayout();
  bool needsLayout() const { return needsLayout_; }
  void layoutIfNeeded();
  virtual void layoutSublayers();
  std::weak_ptr<CALayerDelegate> delegate;

  // Animations by key. Adding under a key replaces the animation there; an
  // empty key gets a generated one. An animation with isRemovedOnCompletion
  // and a finite duration is removed on the main queue when its time on the
  // dispatch clock has passed (unless replaced or removed before).
  void add(const CABasicAnimation& animation, const std::string& forKey);
  const CABasicAnimation* animation(const std::string& forKey) const;
  std::vector<std::string> animationKeys() const;  // in the order added
  void removeAnimation(const std::string& forKey);
  void removeAllAnimations();

  // Presentation: what the layer shows at the dispatch clock's present time,
  // as the platform's presentation layer does. The model values above change
  // at once; an animation recorded on the layer decides what is seen while
  // it runs (interpolated with its timing function; before its begin time
  // only with a backwards fill, after its end only with a forwards fill).
  // Numbers, points, sizes and rectangles are interpolated; other values
  // switch halfway. Key paths: "opacity", "position", "position.x",
  // "position.y", "bounds", "cornerRadius", "borderWidth", "shadowOpacity",
  // "transform.rotation.z" (and "transform.rotation"), plus what subclasses add; an unknown key path gives an empty value.
  CAValue presentationValue(const std::string& keyPath) const;
  float presentationOpacity() const;  // clamped to 0..1

  // The class name shown in descriptions.
  virtual std::string className() const { return "CALayer"; }
  // "<CALayer; name = ...; frame = (x y; w h); opacity = 1; hidden = YES>"
  // (name and hidden only when set; the opacity shown at present).
  virtual std::string description() const;
  // This layer and its sublayers, one per line, indented by depth.
  std::string recursiveDescription() const;

 protected:
  // Extra "; key = value" fields for subclasses' descriptions.
  virtual std::string descriptionFields() const { return {}; }
  // The model value behind an animatable key path (empty when unknown).
  virtual CAValue modelValue(const std::string& keyPath) const;
  void checkThread(const char* what) const;

 private:
  struct AnimationEntry {
    std::string key;
    CABasicAnimation animation;
    std::uint64_t serial;
    double begin;  // seconds on the dispatch clock
  };
  void detachChild(const CALayer* child);
  bool canAdopt(const std::shared_ptr<CALayer>& layer) const;
  void adopt(const std::shared_ptr<CALayer>& layer, std::size_t index);
  void appendDescription(std::string& out, int depth) const;

  CGRect bounds_;
  CGPoint position_;
  CGPoint anchorPoint_{0.5, 0.5};
  CGFloat zPosition_ = 0;
  float opacity_ = 1;
  bool hidden_ = false;
  std::optional<CGColor> backgroundColor_;
  CGFloat cornerRadius_ = 0;
  bool masksToBounds_ = false;
  CGFloat borderWidth_ = 0;
  std::optional<CGColor> borderColor_ = CGColor::black();
  std::optional<CGColor> shadowColor_ = CGColor::black();
  float shadowOpacity_ = 0;
  CGSize shadowOffset_{0, -3};
  CGFloat shadowRadius_ = 3;
  std::optional<std::string> name_;
  CGAffineTransform transform_;
  std::shared_ptr<CALayer> mask_;
  std::shared_ptr<CGImage> contents_;
  ContentsGravity contentsGravity_ = ContentsGravity::resize;
  std::weak_ptr<CALayer> superlayer_;
  std::vector<std::shared_ptr<CALayer>> sublayers_;
  bool needsLayout_ = false;
  std::vector<AnimationEntry> animations_;
  std::uint64_t nextAnimationSerial_ = 1;
};

}  // namespace quartz

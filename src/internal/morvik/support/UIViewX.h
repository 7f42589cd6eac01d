// UIViewX: a view whose layer is a two-colour linear gradient, with border,
// corner radius and shadow as view properties. Internal; reachable by
// interface files as "UIViewX" with every property below.
//
// A new view (from code or a file) holds the initial values without having
// applied them: its layer keeps its own defaults (no gradient colours, no
// border, no shadow) until a property is set. Setting firstColor,
// secondColor or horizontalGradient (re)draws the gradient; each other
// property passes to the layer when set. Main thread only.
#pragma once

#include <memory>
#include <string>

#include <morvik/platform/quartz/CAGradientLayer.h>
#include <morvik/platform/uikit/UIView.h>

namespace morvik {

class UIViewX : public uikit::UIView {
 public:
  // init(frame:) (also what an interface file's init(coder:) runs).
  explicit UIViewX(const uikit::CGRect& frame = {});
  std::string className() const override { return "UIViewX"; }

  // layerClass: the backing layer is a CAGradientLayer.
  std::shared_ptr<quartz::CAGradientLayer> gradientLayer() const;

  const uikit::UIColor& firstColor() const { return firstColor_; }
  virtual void setFirstColor(const uikit::UIColor& color);
  const uikit::UIColor& secondColor() const { return secondColor_; }
  virtual void setSecondColor(const uikit::UIColor& color);
  bool horizontalGradient() const { return horizontalGradient_; }
  virtual void setHorizontalGradient(bool horizontal);
  // Colours [first, second] with no locations; top to bottom, or left to
  // right when horizontalGradient.
  virtual void updateGradient();

  const uikit::UIColor& borderColor() const { return borderColor_; }
  virtual void setBorderColor(const uikit::UIColor& color);
  uikit::CGFloat borderWidth() const { return borderWidth_; }
  virtual void setBorderWidth(uikit::CGFloat width);
  uikit::CGFloat cornerRadius() const { return cornerRadius_; }
  virtual void setCornerRadius(uikit::CGFloat radius);
  uikit::CGFloat shadowOpacity() const { return shadowOpacity_; }
  virtual void setShadowOpacity(uikit::CGFloat opacity);
  const uikit::UIColor& shadowColor() const { return shadowColor_; }
  virtual void setShadowColor(const uikit::UIColor& color);
  uikit::CGFloat shadowRadius() const { return shadowRadius_; }
  virtual void setShadowRadius(uikit::CGFloat radius);
  // Not stored: the layer's own value.
  virtual uikit::CGSize shadowOffset() const;
  virtual void setShadowOffset(const uikit::CGSize& offset);

 private:
  uikit::UIColor firstColor_ = uikit::UIColor::white();
  uikit::UIColor secondColor_ = uikit::UIColor::black();
  bool horizontalGradient_ = false;
  uikit::UIColor borderColor_ = uikit::UIColor::clear();
  uikit::CGFloat borderWidth_ = 0;
  uikit::CGFloat cornerRadius_ = 0;
  uikit::CGFloat shadowOpacity_ = 0;
  uikit::UIColor shadowColor_ = uikit::UIColor::clear();
  uikit::CGFloat shadowRadius_ = 0;
};

}  // namespace morvik

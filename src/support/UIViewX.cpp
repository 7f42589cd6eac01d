#include "morvik/support/UIViewX.h"

namespace morvik {

UIViewX::UIViewX(const uikit::CGRect& frame) : UIView(frame, quartz::CAGradientLayer::layer()) {}

std::shared_ptr<quartz::CAGradientLayer> UIViewX::gradientLayer() const {
  return std::static_pointer_cast<quartz::CAGradientLayer>(layer());
}

void UIViewX::setFirstColor(const uikit::UIColor& color) {
  firstColor_ = color;
  updateGradient();
}

void UIViewX::setSecondColor(const uikit::UIColor& color) {
  secondColor_ = color;
  updateGradient();
}

void UIViewX::setHorizontalGradient(bool horizontal) {
  horizontalGradient_ = horizontal;
  updateGradient();
}

void UIViewX::updateGradient() {
  checkThread("UIViewX::updateGradient");
  auto gradient = gradientLayer();
  gradient->setColors({firstColor_.cgColor(), secondColor_.cgColor()});
  gradient->setLocations(std::nullopt);
  if (horizontalGradient_) {
    gradient->setStartPoint({0, 0.5});
    gradient->setEndPoint({1, 0.5});
  } else {
    gradient->setStartPoint({0, 0});
    gradient->setEndPoint({0, 1});
  }
}

void UIViewX::setBorderColor(const uikit::UIColor& color) {
  checkThread("UIViewX::setBorderColor");
  borderColor_ = color;
  layer()->setBorderColor(color.cgColor());
}

void UIViewX::setBorderWidth(uikit::CGFloat width) {
  checkThread("UIViewX::setBorderWidth");
  borderWidth_ = width;
  layer()->setBorderWidth(width);
}

void UIViewX::setCornerRadius(uikit::CGFloat radius) {
  checkThread("UIViewX::setCornerRadius");
  cornerRadius_ = radius;
  layer()->setCornerRadius(radius);
}

void UIViewX::setShadowOpacity(uikit::CGFloat opacity) {
  checkThread("UIViewX::setShadowOpacity");
  shadowOpacity_ = opacity;
  layer()->setShadowOpacity(static_cast<float>(opacity));
}

void UIViewX::setShadowColor(const uikit::UIColor& color) {
  checkThread("UIViewX::setShadowColor");
  shadowColor_ = color;
  layer()->setShadowColor(color.cgColor());
}

void UIViewX::setShadowRadius(uikit::CGFloat radius) {
  checkThread("UIViewX::setShadowRadius");
  shadowRadius_ = radius;
  layer()->setShadowRadius(radius);
}

uikit::CGSize UIViewX::shadowOffset() const { return layer()->shadowOffset(); }

void UIViewX::setShadowOffset(const uikit::CGSize& offset) {
  checkThread("UIViewX::setShadowOffset");
  layer()->setShadowOffset(offset);
}

}  // namespace morvik

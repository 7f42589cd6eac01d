#include <morvik/platform/quartz/CAShapeLayer.h>

#include <algorithm>
#include <cmath>

namespace quartz {

namespace {
CGFloat unit(CGFloat v) { return std::isnan(v) ? 0 : std::clamp<CGFloat>(v, 0, 1); }
}  // namespace

void CAShapeLayer::setPath(std::optional<CGPath> path) {
  checkThread("CAShapeLayer::setPath");
  path_ = std::move(path);
}
void CAShapeLayer::setFillColor(std::optional<CGColor> color) {
  checkThread("CAShapeLayer::setFillColor");
  fillColor_ = color;
}
void CAShapeLayer::setStrokeColor(std::optional<CGColor> color) {
  checkThread("CAShapeLayer::setStrokeColor");
  strokeColor_ = color;
}
void CAShapeLayer::setFillRule(CAShapeLayerFillRule rule) {
  checkThread("CAShapeLayer::setFillRule");
  fillRule_ = rule;
}
void CAShapeLayer::setLineWidth(CGFloat width) {
  checkThread("CAShapeLayer::setLineWidth");
  lineWidth_ = std::max<CGFloat>(0, width);
}
void CAShapeLayer::setLineDashPattern(std::vector<CGFloat> pattern) {
  checkThread("CAShapeLayer::setLineDashPattern");
  lineDashPattern_ = std::move(pattern);
}
void CAShapeLayer::setLineDashPhase(CGFloat phase) {
  checkThread("CAShapeLayer::setLineDashPhase");
  lineDashPhase_ = phase;
}
void CAShapeLayer::setLineCap(CAShapeLayerLineCap cap) {
  checkThread("CAShapeLayer::setLineCap");
  lineCap_ = cap;
}
void CAShapeLayer::setLineJoin(CAShapeLayerLineJoin join) {
  checkThread("CAShapeLayer::setLineJoin");
  lineJoin_ = join;
}
void CAShapeLayer::setMiterLimit(CGFloat limit) {
  checkThread("CAShapeLayer::setMiterLimit");
  miterLimit_ = limit;
}
void CAShapeLayer::setStrokeStart(CGFloat value) {
  checkThread("CAShapeLayer::setStrokeStart");
  strokeStart_ = unit(value);
}
void CAShapeLayer::setStrokeEnd(CGFloat value) {
  checkThread("CAShapeLayer::setStrokeEnd");
  strokeEnd_ = unit(value);
}

bool CAShapeLayer::fillContains(const CGPoint& point) const {
  if (!path_) return false;
  return path_->contains(
      point, fillRule_ == CAShapeLayerFillRule::evenOdd ? CGPathFillRule::evenOdd : CGPathFillRule::winding);
}

std::string CAShapeLayer::descriptionFields() const {
  std::string s;
  if (path_) s += "; path = " + toString(path_->boundingBoxOfPath());
  if (fillColor_) s += "; fill = " + toString(*fillColor_);
  if (strokeColor_) s += "; stroke = " + toString(*strokeColor_);
  if (fillRule_ == CAShapeLayerFillRule::evenOdd) s += "; fillRule = evenOdd";
  return s;
}

CAValue CAShapeLayer::modelValue(const std::string& keyPath) const {
  if (keyPath == "strokeStart") return static_cast<double>(strokeStart_);
  if (keyPath == "strokeEnd") return static_cast<double>(strokeEnd_);
  if (keyPath == "lineWidth") return static_cast<double>(lineWidth_);
  return CALayer::modelValue(keyPath);
}

}  // namespace quartz

#include <morvik/platform/quartz/UIBezierPath.h>

#include <algorithm>

namespace quartz {

// Screen clockwise (y down) is the direction of increasing angles, which is
// what the path's y-up "counter-clockwise" flag draws.

UIBezierPath UIBezierPath::rect(const CGRect& r) {
  UIBezierPath p;
  p.path_.addRect(r);
  return p;
}

UIBezierPath UIBezierPath::ovalIn(const CGRect& r) {
  UIBezierPath p;
  p.path_.addEllipse(r);
  return p;
}

UIBezierPath UIBezierPath::roundedRect(const CGRect& r, CGFloat cornerRadius) {
  UIBezierPath p;
  const CGFloat radius = std::max<CGFloat>(0, cornerRadius);
  p.path_.addRoundedRect(r, radius, radius);
  return p;
}

UIBezierPath UIBezierPath::arcCenter(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle,
                                     bool clockwise) {
  UIBezierPath p;
  p.path_.addArc(center, radius, startAngle, endAngle, !clockwise);
  return p;
}

void UIBezierPath::move(CGPoint to) { path_.move(to); }
void UIBezierPath::addLine(CGPoint to) { path_.addLine(to); }
void UIBezierPath::addQuadCurve(CGPoint to, CGPoint controlPoint) { path_.addQuadCurve(to, controlPoint); }
void UIBezierPath::addCurve(CGPoint to, CGPoint controlPoint1, CGPoint controlPoint2) {
  path_.addCurve(to, controlPoint1, controlPoint2);
}
void UIBezierPath::addArc(CGPoint withCenter, CGFloat radius, CGFloat startAngle, CGFloat endAngle,
                          bool clockwise) {
  path_.addArc(withCenter, radius, startAngle, endAngle, !clockwise);
}
void UIBezierPath::close() { path_.closeSubpath(); }
void UIBezierPath::append(const UIBezierPath& other) { path_.addPath(other.path_); }
void UIBezierPath::removeAllPoints() { path_ = CGMutablePath(); }
void UIBezierPath::apply(const CGAffineTransform& transform) { path_ = CGMutablePath(path_.copy(transform)); }

bool UIBezierPath::contains(const CGPoint& point) const {
  return path_.contains(point, usesEvenOddFillRule ? CGPathFillRule::evenOdd : CGPathFillRule::winding);
}

}  // namespace quartz

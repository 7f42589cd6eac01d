// UIBezierPath: the platform's path builder in view coordinates (top-left
// origin, y down), re-exported by the uikit layer. A plain value wrapping a
// CGMutablePath plus the stroke attributes a drawer reads.
#pragma once

#include <morvik/platform/quartz/CGPath.h>

namespace quartz {

enum class CGLineCap { butt, round, square };
enum class CGLineJoin { miter, round, bevel };

class UIBezierPath {
 public:
  UIBezierPath() = default;
  explicit UIBezierPath(const CGPath& path) : path_(path) {}

  static UIBezierPath rect(const CGRect& rect);
  static UIBezierPath ovalIn(const CGRect& rect);
  // All four corners rounded; the radius is clamped to half the shorter side.
  static UIBezierPath roundedRect(const CGRect& rect, CGFloat cornerRadius);
  // `clockwise` as seen on screen (y down): angles increase clockwise from
  // the positive x axis. The start is a new subpath.
  static UIBezierPath arcCenter(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle,
                                bool clockwise);

  void move(CGPoint to);
  void addLine(CGPoint to);
  void addQuadCurve(CGPoint to, CGPoint controlPoint);
  void addCurve(CGPoint to, CGPoint controlPoint1, CGPoint controlPoint2);
  // Same angle convention as arcCenter; joins the current point with a line.
  void addArc(CGPoint withCenter, CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise);
  void close();
  void append(const UIBezierPath& other);
  void removeAllPoints();
  void apply(const CGAffineTransform& transform);

  bool isEmpty() const { return path_.isEmpty(); }
  CGPoint currentPoint() const { return path_.currentPoint(); }
  // Bounding box of the curve, control points excluded; null when empty.
  CGRect bounds() const { return path_.boundingBoxOfPath(); }
  bool contains(const CGPoint& point) const;

  const CGPath& cgPath() const { return path_; }

  CGFloat lineWidth = 1;
  CGLineCap lineCapStyle = CGLineCap::butt;
  CGLineJoin lineJoinStyle = CGLineJoin::miter;
  bool usesEvenOddFillRule = false;

 private:
  CGMutablePath path_;
};

}  // namespace quartz

// Core Graphics geometry: points, sizes, rectangles and affine transforms with
// the platform's semantics (rectangles are standardised by the accessors; the
// null rectangle is the result of intersecting disjoint rectangles).
#pragma once

#include <cmath>
#include <limits>
#include <string>

namespace quartz {

using CGFloat = double;

struct CGPoint {
  CGFloat x = 0;
  CGFloat y = 0;
  static constexpr CGPoint zero() { return {}; }
  friend bool operator==(const CGPoint&, const CGPoint&) = default;
};

struct CGSize {
  CGFloat width = 0;
  CGFloat height = 0;
  static constexpr CGSize zero() { return {}; }
  friend bool operator==(const CGSize&, const CGSize&) = default;
};

struct CGVector {
  CGFloat dx = 0;
  CGFloat dy = 0;
  friend bool operator==(const CGVector&, const CGVector&) = default;
};

struct CGAffineTransform;

struct CGRect {
  CGPoint origin;
  CGSize size;

  static constexpr CGRect zero() { return {}; }
  // The null rectangle: origin at infinity, zero size.
  static CGRect null();
  static CGRect infinite();
  static constexpr CGRect make(CGFloat x, CGFloat y, CGFloat w, CGFloat h) { return {{x, y}, {w, h}}; }

  CGFloat minX() const;
  CGFloat midX() const;
  CGFloat maxX() const;
  CGFloat minY() const;
  CGFloat midY() const;
  CGFloat maxY() const;
  CGFloat width() const;   // always >= 0
  CGFloat height() const;  // always >= 0
  bool isNull() const;
  bool isEmpty() const;  // null, or zero width or height
  bool isInfinite() const;

  CGRect standardized() const;
  CGRect integral() const;
  CGRect insetBy(CGFloat dx, CGFloat dy) const;
  CGRect offsetBy(CGFloat dx, CGFloat dy) const;
  CGRect intersection(const CGRect& other) const;  // null when disjoint
  CGRect unionWith(const CGRect& other) const;     // spelled `union` on the platform
  bool intersects(const CGRect& other) const;
  bool contains(const CGPoint& p) const;
  bool contains(const CGRect& r) const;
  CGRect applying(const CGAffineTransform& t) const;  // bounding box of the transformed corners

  friend bool operator==(const CGRect&, const CGRect&) = default;
};

struct CGAffineTransform {
  CGFloat a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  static constexpr CGAffineTransform identity() { return {}; }
  static CGAffineTransform makeScale(CGFloat sx, CGFloat sy);
  static CGAffineTransform makeTranslation(CGFloat tx, CGFloat ty);
  static CGAffineTransform makeRotation(CGFloat angle);  // radians, counter-clockwise in y-up space

  bool isIdentity() const;
  CGAffineTransform scaledBy(CGFloat sx, CGFloat sy) const;
  CGAffineTransform translatedBy(CGFloat tx, CGFloat ty) const;
  CGAffineTransform rotated(CGFloat angle) const;
  CGAffineTransform concatenating(const CGAffineTransform& t2) const;  // this, then t2
  CGAffineTransform inverted() const;                                  // itself when not invertible

  friend bool operator==(const CGAffineTransform&, const CGAffineTransform&) = default;
};

CGPoint applying(const CGPoint& p, const CGAffineTransform& t);
CGSize applying(const CGSize& s, const CGAffineTransform& t);

std::string toString(const CGPoint& p);
std::string toString(const CGSize& s);
std::string toString(const CGRect& r);

}  // namespace quartz

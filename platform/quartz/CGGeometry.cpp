#include <morvik/platform/quartz/CGGeometry.h>

#include <algorithm>
#include <array>
#include <charconv>

namespace quartz {

namespace {

constexpr CGFloat kInf = std::numeric_limits<CGFloat>::infinity();
constexpr CGFloat kMax = std::numeric_limits<CGFloat>::max();

// Shortest text that reads back as the same number ("10", "0.5", "-3.25").
std::string number(CGFloat v) {
  if (v == 0) return "0";  // also folds -0
  std::array<char, 32> buf{};
  auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v);
  if (ec != std::errc()) return "nan";
  return std::string(buf.data(), end);
}

}  // namespace

CGRect CGRect::null() { return {{kInf, kInf}, {0, 0}}; }
CGRect CGRect::infinite() { return {{-kMax / 2, -kMax / 2}, {kMax, kMax}}; }

CGFloat CGRect::minX() const { return std::min(origin.x, origin.x + size.width); }
CGFloat CGRect::maxX() const { return std::max(origin.x, origin.x + size.width); }
CGFloat CGRect::midX() const { return minX() + width() / 2; }
CGFloat CGRect::minY() const { return std::min(origin.y, origin.y + size.height); }
CGFloat CGRect::maxY() const { return std::max(origin.y, origin.y + size.height); }
CGFloat CGRect::midY() const { return minY() + height() / 2; }
CGFloat CGRect::width() const { return std::abs(size.width); }
CGFloat CGRect::height() const { return std::abs(size.height); }

bool CGRect::isNull() const { return origin.x == kInf || origin.y == kInf; }
bool CGRect::isEmpty() const { return isNull() || size.width == 0 || size.height == 0; }
bool CGRect::isInfinite() const { return *this == infinite(); }

CGRect CGRect::standardized() const {
  if (isNull()) return null();
  return {{minX(), minY()}, {width(), height()}};
}

CGRect CGRect::integral() const {
  if (isNull()) return null();
  CGRect s = standardized();
  const CGFloat x0 = std::floor(s.minX()), y0 = std::floor(s.minY());
  const CGFloat x1 = std::ceil(s.maxX()), y1 = std::ceil(s.maxY());
  return {{x0, y0}, {x1 - x0, y1 - y0}};
}

CGRect CGRect::insetBy(CGFloat dx, CGFloat dy) const {
  if (isNull()) return null();
  CGRect s = standardized();
  s.origin.x += dx;
  s.origin.y += dy;
  s.size.width -= 2 * dx;
  s.size.height -= 2 * dy;
  if (s.size.width < 0 || s.size.height < 0) return null();
  return s;
}

CGRect CGRect::offsetBy(CGFloat dx, CGFloat dy) const {
  if (isNull()) return null();
  CGRect s = standardized();
  s.origin.x += dx;
  s.origin.y += dy;
  return s;
}

CGRect CGRect::intersection(const CGRect& other) const {
  if (isNull() || other.isNull()) return null();
  const CGFloat x0 = std::max(minX(), other.minX()), x1 = std::min(maxX(), other.maxX());
  const CGFloat y0 = std::max(minY(), other.minY()), y1 = std::min(maxY(), other.maxY());
  if (x1 < x0 || y1 < y0) return null();
  return {{x0, y0}, {x1 - x0, y1 - y0}};
}

CGRect CGRect::unionWith(const CGRect& other) const {
  if (isNull()) return other.standardized();
  if (other.isNull()) return standardized();
  const CGFloat x0 = std::min(minX(), other.minX()), x1 = std::max(maxX(), other.maxX());
  const CGFloat y0 = std::min(minY(), other.minY()), y1 = std::max(maxY(), other.maxY());
  return {{x0, y0}, {x1 - x0, y1 - y0}};
}

bool CGRect::intersects(const CGRect& other) const { return !intersection(other).isEmpty(); }

bool CGRect::contains(const CGPoint& p) const {
  if (isEmpty()) return false;
  return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
}

bool CGRect::contains(const CGRect& r) const {
  if (isNull()) return false;
  if (r.isNull()) return true;
  return r.minX() >= minX() && r.maxX() <= maxX() && r.minY() >= minY() && r.maxY() <= maxY();
}

CGRect CGRect::applying(const CGAffineTransform& t) const {
  if (isNull()) return null();
  if (t.isIdentity()) return standardized();
  const std::array<CGPoint, 4> corners{
      quartz::applying(CGPoint{minX(), minY()}, t), quartz::applying(CGPoint{maxX(), minY()}, t),
      quartz::applying(CGPoint{minX(), maxY()}, t), quartz::applying(CGPoint{maxX(), maxY()}, t)};
  CGFloat x0 = kInf, y0 = kInf, x1 = -kInf, y1 = -kInf;
  for (const CGPoint& c : corners) {
    x0 = std::min(x0, c.x);
    y0 = std::min(y0, c.y);
    x1 = std::max(x1, c.x);
    y1 = std::max(y1, c.y);
  }
  return {{x0, y0}, {x1 - x0, y1 - y0}};
}

CGAffineTransform CGAffineTransform::makeScale(CGFloat sx, CGFloat sy) { return {sx, 0, 0, sy, 0, 0}; }
CGAffineTransform CGAffineTransform::makeTranslation(CGFloat tx, CGFloat ty) { return {1, 0, 0, 1, tx, ty}; }
CGAffineTransform CGAffineTransform::makeRotation(CGFloat angle) {
  const CGFloat c = std::cos(angle), s = std::sin(angle);
  return {c, s, -s, c, 0, 0};
}

bool CGAffineTransform::isIdentity() const { return *this == identity(); }

CGAffineTransform CGAffineTransform::scaledBy(CGFloat sx, CGFloat sy) const {
  return makeScale(sx, sy).concatenating(*this);
}
CGAffineTransform CGAffineTransform::translatedBy(CGFloat x, CGFloat y) const {
  return makeTranslation(x, y).concatenating(*this);
}
CGAffineTransform CGAffineTransform::rotated(CGFloat angle) const {
  return makeRotation(angle).concatenating(*this);
}

CGAffineTransform CGAffineTransform::concatenating(const CGAffineTransform& t2) const {
  const CGAffineTransform& t1 = *this;
  return {t1.a * t2.a + t1.b * t2.c,           t1.a * t2.b + t1.b * t2.d,
          t1.c * t2.a + t1.d * t2.c,           t1.c * t2.b + t1.d * t2.d,
          t1.tx * t2.a + t1.ty * t2.c + t2.tx, t1.tx * t2.b + t1.ty * t2.d + t2.ty};
}

CGAffineTransform CGAffineTransform::inverted() const {
  const CGFloat det = a * d - b * c;
  if (det == 0 || !std::isfinite(det)) return *this;
  return {d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det};
}

CGPoint applying(const CGPoint& p, const CGAffineTransform& t) {
  return {t.a * p.x + t.c * p.y + t.tx, t.b * p.x + t.d * p.y + t.ty};
}

CGSize applying(const CGSize& s, const CGAffineTransform& t) {
  return {t.a * s.width + t.c * s.height, t.b * s.width + t.d * s.height};
}

std::string toString(const CGPoint& p) { return "{" + number(p.x) + ", " + number(p.y) + "}"; }
std::string toString(const CGSize& s) { return "{" + number(s.width) + ", " + number(s.height) + "}"; }
std::string toString(const CGRect& r) { return "{" + toString(r.origin) + ", " + toString(r.size) + "}"; }

}  // namespace quartz

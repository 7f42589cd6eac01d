#include <morvik/platform/quartz/CGPath.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "quartz/PathFlattening.h"

namespace quartz {

namespace {

constexpr CGFloat kTwoPi = 2 * std::numbers::pi;

CGPoint lerp(CGPoint a, CGPoint b, CGFloat t) { return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}; }

struct Box {
  CGFloat x0 = std::numeric_limits<CGFloat>::infinity(), y0 = x0;
  CGFloat x1 = -std::numeric_limits<CGFloat>::infinity(), y1 = x1;
  bool any = false;
  void add(CGPoint p) {
    x0 = std::min(x0, p.x);
    y0 = std::min(y0, p.y);
    x1 = std::max(x1, p.x);
    y1 = std::max(y1, p.y);
    any = true;
  }
  CGRect rect() const { return any ? CGRect{{x0, y0}, {x1 - x0, y1 - y0}} : CGRect::null(); }
};

CGPoint cubicAt(CGPoint p0, CGPoint p1, CGPoint p2, CGPoint p3, CGFloat t) {
  const CGFloat u = 1 - t;
  const CGFloat a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
  return {a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y};
}

// Parameters in (0, 1) where one coordinate of a cubic has a turning point.
void cubicExtrema(CGFloat p0, CGFloat p1, CGFloat p2, CGFloat p3, std::vector<CGFloat>& out) {
  // Derivative / 3: a t^2 + b t + c.
  const CGFloat a = -p0 + 3 * p1 - 3 * p2 + p3;
  const CGFloat b = 2 * (p0 - 2 * p1 + p2);
  const CGFloat c = p1 - p0;
  auto keep = [&](CGFloat t) {
    if (t > 0 && t < 1) out.push_back(t);
  };
  if (std::abs(a) < 1e-12) {
    if (std::abs(b) > 1e-12) keep(-c / b);
    return;
  }
  const CGFloat disc = b * b - 4 * a * c;
  if (disc < 0) return;
  const CGFloat s = std::sqrt(disc);
  keep((-b + s) / (2 * a));
  keep((-b - s) / (2 * a));
}

}  // namespace

std::vector<std::vector<CGPoint>> flattenPath(const CGPath& path, const CGAffineTransform& transform,
                                              int segmentsPerCurve) {
  std::vector<std::vector<CGPoint>> polys;
  CGPoint current, start;
  auto T = [&](CGPoint p) { return applying(p, transform); };
  for (const CGPathElement& e : path.elements()) {
    switch (e.type) {
      case CGPathElementType::moveToPoint:
        current = start = e.points[0];
        polys.push_back({T(current)});
        break;
      case CGPathElementType::addLineToPoint:
        if (polys.empty()) polys.push_back({T(current)});
        current = e.points[0];
        polys.back().push_back(T(current));
        break;
      case CGPathElementType::addQuadCurveToPoint: {
        if (polys.empty()) polys.push_back({T(current)});
        const CGPoint p0 = current, c = e.points[0], p1 = e.points[1];
        for (int i = 1; i <= segmentsPerCurve; ++i) {
          const CGFloat t = CGFloat(i) / segmentsPerCurve;
          polys.back().push_back(T(lerp(lerp(p0, c, t), lerp(c, p1, t), t)));
        }
        current = p1;
        break;
      }
      case CGPathElementType::addCurveToPoint: {
        if (polys.empty()) polys.push_back({T(current)});
        const CGPoint p0 = current;
        for (int i = 1; i <= segmentsPerCurve; ++i) {
          const CGFloat t = CGFloat(i) / segmentsPerCurve;
          polys.back().push_back(T(cubicAt(p0, e.points[0], e.points[1], e.points[2], t)));
        }
        current = e.points[2];
        break;
      }
      case CGPathElementType::closeSubpath:
        current = start;
        break;
    }
  }
  return polys;
}

int windingNumber(const std::vector<std::vector<CGPoint>>& polygons, CGPoint p, int* crossings) {
  int winding = 0, count = 0;
  for (const auto& poly : polygons) {
    const std::size_t n = poly.size();
    if (n < 2) continue;
    for (std::size_t i = 0; i < n; ++i) {
      const CGPoint a = poly[i], b = poly[(i + 1) % n];  // implicitly closed
      if ((a.y <= p.y) == (b.y <= p.y)) continue;
      const CGFloat x = a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y);
      if (x > p.x) {
        ++count;
        winding += (b.y > a.y) ? 1 : -1;
      }
    }
  }
  if (crossings) *crossings = count;
  return winding;
}

CGPath CGPath::makeRect(const CGRect& rect, const CGAffineTransform* transform) {
  CGMutablePath p;
  p.addRect(rect);
  return transform ? p.copy(*transform) : CGPath(p);
}

CGPath CGPath::makeEllipse(const CGRect& rect, const CGAffineTransform* transform) {
  CGMutablePath p;
  p.addEllipse(rect);
  return transform ? p.copy(*transform) : CGPath(p);
}

CGPoint CGPath::currentPoint() const {
  if (elements_.empty()) return {};
  const CGPathElement& last = elements_.back();
  if (last.type == CGPathElementType::closeSubpath) return subpathStart_;
  return last.points.back();
}

CGRect CGPath::boundingBox() const {
  Box box;
  for (const CGPathElement& e : elements_)
    for (const CGPoint& p : e.points) box.add(p);
  return box.rect();
}

CGRect CGPath::boundingBoxOfPath() const {
  Box box;
  CGPoint current, start;
  for (const CGPathElement& e : elements_) {
    switch (e.type) {
      case CGPathElementType::moveToPoint:
      case CGPathElementType::addLineToPoint:
        if (e.type == CGPathElementType::moveToPoint) start = e.points[0];
        current = e.points[0];
        box.add(current);
        break;
      case CGPathElementType::addQuadCurveToPoint: {
        // Elevate to a cubic to share the extrema code.
        const CGPoint c1 = lerp(current, e.points[0], 2.0 / 3.0),
                      c2 = lerp(e.points[1], e.points[0], 2.0 / 3.0);
        std::vector<CGFloat> ts;
        cubicExtrema(current.x, c1.x, c2.x, e.points[1].x, ts);
        cubicExtrema(current.y, c1.y, c2.y, e.points[1].y, ts);
        for (CGFloat t : ts) box.add(cubicAt(current, c1, c2, e.points[1], t));
        current = e.points[1];
        box.add(current);
        break;
      }
      case CGPathElementType::addCurveToPoint: {
        std::vector<CGFloat> ts;
        cubicExtrema(current.x, e.points[0].x, e.points[1].x, e.points[2].x, ts);
        cubicExtrema(current.y, e.points[0].y, e.points[1].y, e.points[2].y, ts);
        for (CGFloat t : ts) box.add(cubicAt(current, e.points[0], e.points[1], e.points[2], t));
        current = e.points[2];
        box.add(current);
        break;
      }
      case CGPathElementType::closeSubpath:
        current = start;
        break;
    }
  }
  return box.rect();
}

bool CGPath::contains(const CGPoint& point, CGPathFillRule rule, const CGAffineTransform& transform) const {
  if (elements_.empty()) return false;
  int crossings = 0;
  const int winding = windingNumber(flattenPath(*this, transform, 32), point, &crossings);
  return rule == CGPathFillRule::evenOdd ? (crossings % 2) == 1 : winding != 0;
}

CGPath CGPath::copy(const CGAffineTransform& transform) const {
  CGPath out = *this;
  for (CGPathElement& e : out.elements_)
    for (CGPoint& p : e.points) p = applying(p, transform);
  out.subpathStart_ = applying(subpathStart_, transform);
  return out;
}

void CGMutablePath::move(CGPoint to) {
  elements_.push_back({CGPathElementType::moveToPoint, {to}});
  subpathStart_ = to;
  subpathOpen_ = true;
}

void CGMutablePath::addLine(CGPoint to) {
  if (!subpathOpen_) {
    // No open subpath: start one where the path currently ends (or at `to`).
    const CGPoint from = elements_.empty() ? to : currentPoint();
    move(from);
    if (from == to && elements_.size() == 1) return;
  }
  elements_.push_back({CGPathElementType::addLineToPoint, {to}});
}

void CGMutablePath::addLines(const std::vector<CGPoint>& between) {
  for (std::size_t i = 0; i < between.size(); ++i) {
    if (i == 0)
      move(between[0]);
    else
      addLine(between[i]);
  }
}

void CGMutablePath::addQuadCurve(CGPoint to, CGPoint control) {
  if (!subpathOpen_) move(elements_.empty() ? control : currentPoint());
  elements_.push_back({CGPathElementType::addQuadCurveToPoint, {control, to}});
}

void CGMutablePath::addCurve(CGPoint to, CGPoint control1, CGPoint control2) {
  if (!subpathOpen_) move(elements_.empty() ? control1 : currentPoint());
  elements_.push_back({CGPathElementType::addCurveToPoint, {control1, control2, to}});
}

void CGMutablePath::closeSubpath() {
  if (!subpathOpen_) return;
  elements_.push_back({CGPathElementType::closeSubpath, {}});
  subpathOpen_ = false;
}

void CGMutablePath::addRect(const CGRect& rect) {
  if (rect.isNull()) return;
  const CGRect r = rect.standardized();
  move({r.minX(), r.minY()});
  addLine({r.maxX(), r.minY()});
  addLine({r.maxX(), r.maxY()});
  addLine({r.minX(), r.maxY()});
  closeSubpath();
}

namespace {

// Appends cubic segments for an elliptical arc (radii rx, ry) from angle a0
// sweeping `sweep` radians (signed), without the initial move or line.
void appendArcCurves(CGMutablePath& p, CGPoint c, CGFloat rx, CGFloat ry, CGFloat a0, CGFloat sweep) {
  const int n = std::max(1, static_cast<int>(std::ceil(std::abs(sweep) / (std::numbers::pi / 2) - 1e-9)));
  const CGFloat seg = sweep / n;
  const CGFloat k = 4.0 / 3.0 * std::tan(seg / 4);
  CGFloat t0 = a0;
  for (int i = 0; i < n; ++i) {
    const CGFloat t1 = t0 + seg;
    const CGPoint p0{c.x + rx * std::cos(t0), c.y + ry * std::sin(t0)};
    const CGPoint p3{c.x + rx * std::cos(t1), c.y + ry * std::sin(t1)};
    const CGPoint c1{p0.x - k * rx * std::sin(t0), p0.y + k * ry * std::cos(t0)};
    const CGPoint c2{p3.x + k * rx * std::sin(t1), p3.y - k * ry * std::cos(t1)};
    p.addCurve(p3, c1, c2);
    t0 = t1;
  }
}

}  // namespace

void CGMutablePath::addEllipse(const CGRect& in) {
  if (in.isNull()) return;
  const CGRect r = in.standardized();
  const CGPoint c{r.midX(), r.midY()};
  const CGFloat rx = r.width() / 2, ry = r.height() / 2;
  move({c.x + rx, c.y});
  appendArcCurves(*this, c, rx, ry, 0, kTwoPi);
  closeSubpath();
}

void CGMutablePath::addRoundedRect(const CGRect& in, CGFloat cornerWidth, CGFloat cornerHeight) {
  if (in.isNull()) return;
  const CGRect r = in.standardized();
  const CGFloat rx = std::clamp(cornerWidth, 0.0, r.width() / 2);
  const CGFloat ry = std::clamp(cornerHeight, 0.0, r.height() / 2);
  if (rx == 0 || ry == 0) {
    addRect(r);
    return;
  }
  const CGFloat pi = std::numbers::pi;
  move({r.minX() + rx, r.minY()});
  addLine({r.maxX() - rx, r.minY()});
  appendArcCurves(*this, {r.maxX() - rx, r.minY() + ry}, rx, ry, -pi / 2, pi / 2);
  addLine({r.maxX(), r.maxY() - ry});
  appendArcCurves(*this, {r.maxX() - rx, r.maxY() - ry}, rx, ry, 0, pi / 2);
  addLine({r.minX() + rx, r.maxY()});
  appendArcCurves(*this, {r.minX() + rx, r.maxY() - ry}, rx, ry, pi / 2, pi / 2);
  addLine({r.minX(), r.minY() + ry});
  appendArcCurves(*this, {r.minX() + rx, r.minY() + ry}, rx, ry, pi, pi / 2);
  closeSubpath();
}

void CGMutablePath::addArc(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle,
                           bool clockwise) {
  if (!std::isfinite(startAngle) || !std::isfinite(endAngle) || !std::isfinite(radius)) return;
  radius = std::abs(radius);
  CGFloat sweep = endAngle - startAngle;
  if (!clockwise) {
    if (sweep < 0) sweep = std::fmod(sweep, kTwoPi) + kTwoPi;
    sweep = std::min(sweep, kTwoPi);
  } else {
    if (sweep > 0) sweep = std::fmod(sweep, kTwoPi) - kTwoPi;
    sweep = std::max(sweep, -kTwoPi);
  }
  const CGPoint first{center.x + radius * std::cos(startAngle), center.y + radius * std::sin(startAngle)};
  if (subpathOpen_)
    addLine(first);
  else
    move(first);
  if (sweep == 0 || radius == 0) return;
  appendArcCurves(*this, center, radius, radius, startAngle, sweep);
}

void CGMutablePath::addPath(const CGPath& path, const CGAffineTransform& transform) {
  const CGPath moved = transform.isIdentity() ? path : path.copy(transform);
  for (const CGPathElement& e : moved.elements()) {
    switch (e.type) {
      case CGPathElementType::moveToPoint:
        move(e.points[0]);
        break;
      case CGPathElementType::addLineToPoint:
        addLine(e.points[0]);
        break;
      case CGPathElementType::addQuadCurveToPoint:
        addQuadCurve(e.points[1], e.points[0]);
        break;
      case CGPathElementType::addCurveToPoint:
        addCurve(e.points[2], e.points[0], e.points[1]);
        break;
      case CGPathElementType::closeSubpath:
        closeSubpath();
        break;
    }
  }
}

}  // namespace quartz

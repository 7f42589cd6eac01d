// Core Graphics paths: a sequence of subpaths made of lines, quadratic and
// cubic Bezier segments. Arcs, ellipses and rounded rectangles are stored as
// cubic segments, as the platform does. Coordinates are those of whoever
// draws the path (layers and image contexts here use a top-left origin).
//
// CGPath is an immutable value; CGMutablePath adds the building calls. Both
// are plain values: copy them freely, share copies between threads.
#pragma once

#include <vector>

#include <morvik/platform/quartz/CGGeometry.h>

namespace quartz {

enum class CGPathElementType {
  moveToPoint,
  addLineToPoint,
  addQuadCurveToPoint,
  addCurveToPoint,
  closeSubpath
};

struct CGPathElement {
  CGPathElementType type = CGPathElementType::moveToPoint;
  // moveTo/lineTo: 1 point; quad curve: control, end; cubic: control1, control2, end; close: none.
  std::vector<CGPoint> points;
  friend bool operator==(const CGPathElement&, const CGPathElement&) = default;
};

enum class CGPathFillRule { winding, evenOdd };

class CGPath {
 public:
  CGPath() = default;
  // A closed rectangle path (standardised).
  static CGPath makeRect(const CGRect& rect, const CGAffineTransform* transform = nullptr);
  // An ellipse inscribed in the rectangle.
  static CGPath makeEllipse(const CGRect& rect, const CGAffineTransform* transform = nullptr);

  bool isEmpty() const { return elements_.empty(); }
  const std::vector<CGPathElement>& elements() const { return elements_; }
  // The end point of the last element; zero for an empty path.
  CGPoint currentPoint() const;

  // Smallest rectangle holding every point of the path, control points
  // included. The null rectangle for an empty path.
  CGRect boundingBox() const;
  // Smallest rectangle holding the drawn curve itself (control points excluded).
  CGRect boundingBoxOfPath() const;
  // Whether a point lies inside the filled area under the fill rule. Open
  // subpaths count as closed, as when filling.
  bool contains(const CGPoint& point, CGPathFillRule rule = CGPathFillRule::winding,
                const CGAffineTransform& transform = CGAffineTransform::identity()) const;

  // The path with every point transformed.
  CGPath copy(const CGAffineTransform& transform) const;

  friend bool operator==(const CGPath&, const CGPath&) = default;

 protected:
  std::vector<CGPathElement> elements_;
  // Start of the current subpath, the point closeSubpath returns to.
  CGPoint subpathStart_;
};

class CGMutablePath : public CGPath {
 public:
  CGMutablePath() = default;
  explicit CGMutablePath(const CGPath& path)
      : CGPath(path),
        subpathOpen_(!path.isEmpty() && path.elements().back().type != CGPathElementType::closeSubpath) {}

  void move(CGPoint to);
  // Starts a subpath at the current point when none is open (as the platform
  // tolerates); from an empty path it starts at `to` instead.
  void addLine(CGPoint to);
  void addLines(const std::vector<CGPoint>& between);
  void addQuadCurve(CGPoint to, CGPoint control);
  void addCurve(CGPoint to, CGPoint control1, CGPoint control2);
  void closeSubpath();
  void addRect(const CGRect& rect);
  void addEllipse(const CGRect& in);
  // Corner radii are clamped to half the rectangle's width and height.
  void addRoundedRect(const CGRect& in, CGFloat cornerWidth, CGFloat cornerHeight);
  // Arc of a circle in y-up terms: `clockwise` true sweeps from startAngle
  // towards decreasing angles. A line joins the current point to the arc's
  // start when a subpath is open. A sweep of 2 pi or more draws a full circle.
  void addArc(CGPoint center, CGFloat radius, CGFloat startAngle, CGFloat endAngle, bool clockwise);
  void addPath(const CGPath& path, const CGAffineTransform& transform = CGAffineTransform::identity());

 private:
  bool subpathOpen_ = false;
};

}  // namespace quartz

#include <gtest/gtest.h>
#include <morvik/platform/quartz.h>

#include <numbers>

using namespace quartz;

namespace {
constexpr double pi = std::numbers::pi;
void expectRectNear(CGRect a, CGRect b, double tol = 1e-6) {
  EXPECT_NEAR(a.minX(), b.minX(), tol);
  EXPECT_NEAR(a.minY(), b.minY(), tol);
  EXPECT_NEAR(a.width(), b.width(), tol);
  EXPECT_NEAR(a.height(), b.height(), tol);
}
}  // namespace

TEST(CGPathTest, BoundingBoxesOfShapes) {
  EXPECT_TRUE(CGPath().boundingBox().isNull());
  EXPECT_TRUE(CGPath().boundingBoxOfPath().isNull());
  const CGRect r = CGRect::make(10, 20, 100, 60);
  expectRectNear(UIBezierPath::rect(r).bounds(), r);
  expectRectNear(UIBezierPath::ovalIn(r).bounds(), r);
  expectRectNear(UIBezierPath::roundedRect(r, 18).bounds(), r);
  // A radius beyond half the short side is clamped: still within the rect.
  expectRectNear(UIBezierPath::roundedRect(r, 500).bounds(), r);
  expectRectNear(UIBezierPath::rect(CGRect{{110, 80}, {-100, -60}}).bounds(), r);
}

TEST(CGPathTest, CurveBoundsExcludeControlPointsButBoundingBoxIncludesThem) {
  CGMutablePath p;
  p.move({0, 0});
  p.addCurve({10, 0}, {0, 10}, {10, 10});
  expectRectNear(p.boundingBox(), CGRect::make(0, 0, 10, 10));
  expectRectNear(p.boundingBoxOfPath(), CGRect::make(0, 0, 10, 7.5));
  CGMutablePath q;
  q.move({0, 0});
  q.addQuadCurve({10, 0}, {5, 10});
  expectRectNear(q.boundingBoxOfPath(), CGRect::make(0, 0, 10, 5));
}

TEST(UIBezierPathTest, ArcsTurnClockwiseOnScreenWhenAsked) {
  // Screen clockwise from 0 to pi/2: a quarter through the lower right (y down).
  const auto cw = UIBezierPath::arcCenter({0, 0}, 10, 0, pi / 2, true);
  expectRectNear(cw.bounds(), CGRect::make(0, 0, 10, 10));
  EXPECT_NEAR(cw.currentPoint().x, 0, 1e-9);
  EXPECT_NEAR(cw.currentPoint().y, 10, 1e-9);
  // The other way round takes three quarters of the circle.
  const auto ccw = UIBezierPath::arcCenter({0, 0}, 10, 0, pi / 2, false);
  expectRectNear(ccw.bounds(), CGRect::make(-10, -10, 20, 20));
}

TEST(UIBezierPathTest, SpinnerRingsCloseOnlyAtAFullTurn) {
  const CGPoint c{25, 25};
  const auto ring = UIBezierPath::arcCenter(c, 24, pi / 2, pi / 2 + 2 * pi, true);
  expectRectNear(ring.bounds(), CGRect::make(1, 1, 48, 48), 1e-3);
  EXPECT_NEAR(ring.currentPoint().x, 25, 1e-9);
  EXPECT_NEAR(ring.currentPoint().y, 49, 1e-9);
  // 1.8 pi leaves a gap of a tenth of a turn: the end is not back at the start.
  const auto gap = UIBezierPath::arcCenter(c, 24, pi / 2, pi / 2 + 1.8 * pi, true);
  EXPECT_GT(std::hypot(gap.currentPoint().x - 25, gap.currentPoint().y - 49), 10);
}

TEST(UIBezierPathTest, EvenOddCutsTheInnerShapeOutAndNonZeroDoesNot) {
  // The capture overlay: the bounds plus a card cutout.
  auto dim = UIBezierPath::rect(CGRect::make(0, 0, 300, 500));
  dim.append(UIBezierPath::roundedRect(CGRect::make(16, 150, 268, 169), 18));
  const CGPoint inCutout{150, 230}, outside{150, 50}, cutoutCorner{17, 151};
  EXPECT_TRUE(dim.contains(inCutout));  // non-zero: both shapes wind the same way
  dim.usesEvenOddFillRule = true;
  EXPECT_FALSE(dim.contains(inCutout));
  EXPECT_TRUE(dim.contains(outside));
  EXPECT_TRUE(dim.contains(cutoutCorner));  // rounded corner lies outside the cutout

  auto layer = CAShapeLayer::layer();
  layer->setPath(dim.cgPath());
  layer->setFillRule(CAShapeLayerFillRule::evenOdd);
  EXPECT_FALSE(layer->fillContains(inCutout));
  layer->setFillRule(CAShapeLayerFillRule::nonZero);
  EXPECT_TRUE(layer->fillContains(inCutout));
}

TEST(CGMutablePathTest, BuildingEdgeCases) {
  CGMutablePath p;
  p.addLine({5, 5});  // no subpath yet: starts one there
  p.addLine({10, 5});
  ASSERT_EQ(p.elements().size(), 2u);
  EXPECT_EQ(p.elements()[0].type, CGPathElementType::moveToPoint);
  p.addLine({10, 10});
  p.closeSubpath();
  EXPECT_EQ(p.currentPoint(), (CGPoint{5, 5}));
  p.closeSubpath();  // nothing open: ignored
  EXPECT_EQ(p.elements().size(), 4u);
  p.addArc({0, 0}, 1, 0, 0, false);  // zero sweep: only the start point
  EXPECT_EQ(p.elements().back().type, CGPathElementType::moveToPoint);

  CGMutablePath copy(CGPath::makeRect(CGRect::make(0, 0, 4, 4)));
  copy.addPath(CGPath::makeRect(CGRect::make(0, 0, 1, 1)), CGAffineTransform::makeTranslation(10, 10));
  expectRectNear(copy.boundingBoxOfPath(), CGRect::make(0, 0, 11, 11));
  EXPECT_TRUE(copy.contains({10.5, 10.5}));
  EXPECT_FALSE(copy.contains({7, 7}));
  EXPECT_TRUE(copy.contains({5, 5}, CGPathFillRule::winding, CGAffineTransform::makeScale(2, 2)));
}

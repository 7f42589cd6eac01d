#include <gtest/gtest.h>
#include <morvik/platform/quartz.h>

#include <cmath>
#include <numbers>

using namespace quartz;

namespace {
void expectPointNear(CGPoint a, CGPoint b) {
  EXPECT_NEAR(a.x, b.x, 1e-9);
  EXPECT_NEAR(a.y, b.y, 1e-9);
}
}  // namespace

TEST(CGRectTest, NegativeSizesAreStandardisedByAccessorsAndOperations) {
  const CGRect r{{10, 10}, {-4, -6}};
  EXPECT_EQ(r.minX(), 6);
  EXPECT_EQ(r.maxX(), 10);
  EXPECT_EQ(r.midX(), 8);
  EXPECT_EQ(r.minY(), 4);
  EXPECT_EQ(r.midY(), 7);
  EXPECT_EQ(r.width(), 4);
  EXPECT_EQ(r.height(), 6);
  EXPECT_EQ(r.standardized(), CGRect::make(6, 4, 4, 6));
  EXPECT_EQ(r.insetBy(1, 1), CGRect::make(7, 5, 2, 4));
  EXPECT_EQ(r.offsetBy(1, 2), CGRect::make(7, 6, 4, 6));
  EXPECT_EQ(r.intersection(CGRect::make(0, 0, 8, 8)), CGRect::make(6, 4, 2, 4));
  EXPECT_TRUE(r.contains(CGPoint{7, 5}));
}

TEST(CGRectTest, NullRectanglesComeFromDisjointIntersectionsAndOverInsets) {
  const CGRect a = CGRect::make(0, 0, 10, 10);
  const CGRect disjoint = a.intersection(CGRect::make(20, 20, 5, 5));
  EXPECT_TRUE(disjoint.isNull());
  EXPECT_TRUE(disjoint.isEmpty());
  EXPECT_FALSE(a.intersects(CGRect::make(20, 20, 5, 5)));
  EXPECT_TRUE(a.insetBy(6, 0).isNull());
  EXPECT_TRUE(CGRect::null().offsetBy(3, 3).isNull());
  EXPECT_TRUE(CGRect::null().applying(CGAffineTransform::makeScale(2, 2)).isNull());
  EXPECT_EQ(CGRect::null().unionWith(a), a);
  EXPECT_EQ(a.unionWith(CGRect::null()), a);
  EXPECT_FALSE(CGRect::null().contains(CGPoint{}));
  EXPECT_TRUE(a.contains(CGRect::null()));
  EXPECT_FALSE(CGRect::zero().isNull());
  EXPECT_TRUE(CGRect::zero().isEmpty());
  EXPECT_TRUE(CGRect::infinite().isInfinite());
}

TEST(CGRectTest, TouchingRectanglesMeetInAnEmptyRectangleButDoNotIntersect) {
  const CGRect a = CGRect::make(0, 0, 10, 10), b = CGRect::make(10, 0, 10, 10);
  const CGRect meet = a.intersection(b);
  EXPECT_FALSE(meet.isNull());
  EXPECT_EQ(meet, CGRect::make(10, 0, 0, 10));
  EXPECT_FALSE(a.intersects(b));
  // Half-open containment: the far edges belong to the neighbour.
  EXPECT_TRUE(a.contains(CGPoint{0, 0}));
  EXPECT_FALSE(a.contains(CGPoint{10, 5}));
  EXPECT_TRUE(b.contains(CGPoint{10, 5}));
}

TEST(CGRectTest, IntegralAndUnionCoverTheirInputs) {
  EXPECT_EQ(CGRect::make(0.5, 0.2, 1.2, 1.9).integral(), CGRect::make(0, 0, 2, 3));
  EXPECT_EQ(CGRect::make(0, 0, 1, 1).unionWith(CGRect::make(5, -2, 1, 1)), CGRect::make(0, -2, 6, 3));
  EXPECT_TRUE(CGRect::make(0, 0, 10, 10).contains(CGRect::make(2, 2, 8, 8)));
  EXPECT_FALSE(CGRect::make(0, 0, 10, 10).contains(CGRect::make(2, 2, 9, 8)));
}

TEST(CGAffineTransformTest, ComposesInThePlatformsOrder) {
  // scaledBy/translatedBy prepend: the translation happens in the scaled space.
  const auto t = CGAffineTransform::makeScale(2, 2).translatedBy(5, 0);
  expectPointNear(applying(CGPoint{0, 0}, t), {10, 0});
  // concatenating: this first, then the argument.
  const auto u = CGAffineTransform::makeTranslation(5, 0).concatenating(CGAffineTransform::makeScale(2, 2));
  expectPointNear(applying(CGPoint{0, 0}, u), {10, 0});
  const auto v = CGAffineTransform::makeScale(2, 2).concatenating(CGAffineTransform::makeTranslation(5, 0));
  expectPointNear(applying(CGPoint{0, 0}, v), {5, 0});
  const auto r = CGAffineTransform::makeRotation(std::numbers::pi / 2);
  expectPointNear(applying(CGPoint{1, 0}, r), {0, 1});
  const CGSize s = applying(CGSize{2, 1}, r);
  EXPECT_NEAR(s.width, -1, 1e-12);
  EXPECT_NEAR(s.height, 2, 1e-12);
}

TEST(CGAffineTransformTest, InverseUndoesAndSingularTransformsAreReturnedUnchanged) {
  const auto t = CGAffineTransform::makeRotation(0.7).scaledBy(3, -2).translatedBy(4, 9);
  const CGPoint p{3.5, -8};
  expectPointNear(applying(applying(p, t), t.inverted()), p);
  const auto singular = CGAffineTransform::makeScale(0, 1);
  EXPECT_EQ(singular.inverted(), singular);
  EXPECT_TRUE(CGAffineTransform::identity().inverted().isIdentity());
}

TEST(CGAffineTransformTest, RectanglesMapToTheBoundingBoxOfTheirCorners) {
  const CGRect r = CGRect::make(0, 0, 10, 20).applying(CGAffineTransform::makeRotation(std::numbers::pi / 2));
  EXPECT_NEAR(r.minX(), -20, 1e-9);
  EXPECT_NEAR(r.minY(), 0, 1e-9);
  EXPECT_NEAR(r.width(), 20, 1e-9);
  EXPECT_NEAR(r.height(), 10, 1e-9);
  const CGRect flipped = CGRect::make(1, 1, 2, 2).applying(CGAffineTransform{-1, 0, 0, 1, 10, 0});
  EXPECT_EQ(flipped, CGRect::make(7, 1, 2, 2));
}

TEST(CGGeometryTest, TextForms) {
  EXPECT_EQ(toString(CGRect::make(0, 0.5, -3, 10)), "{{0, 0.5}, {-3, 10}}");
  EXPECT_EQ(toString(CGColor::make(1, 0, 0.5, 1)), "rgba(1 0 0.5 1)");
  EXPECT_EQ(CGColor::white().copy(0.25).alpha, 0.25);
  EXPECT_EQ(CGColor::white().copy(4).alpha, 1);
}

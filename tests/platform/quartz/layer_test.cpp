#include <gtest/gtest.h>
#include <morvik/platform/quartz.h>

using namespace quartz;

namespace {
std::vector<CALayer*> raw(const CALayer& l) {
  std::vector<CALayer*> out;
  for (const auto& s : l.sublayers()) out.push_back(s.get());
  return out;
}
}  // namespace

TEST(CALayerGeometryTest, FrameBoundsAndPositionStayConsistentAroundTheAnchorPoint) {
  auto l = CALayer::layer();
  l->setFrame(CGRect::make(10, 20, 100, 50));
  EXPECT_EQ(l->bounds(), CGRect::make(0, 0, 100, 50));
  EXPECT_EQ(l->position(), (CGPoint{60, 45}));

  // Moving the anchor keeps the position: the frame moves instead.
  l->setAnchorPoint({0, 0});
  EXPECT_EQ(l->frame(), CGRect::make(60, 45, 100, 50));
  l->setFrame(CGRect::make(0, 0, 10, 10));
  EXPECT_EQ(l->position(), (CGPoint{0, 0}));

  // Resizing the bounds grows the frame around the anchored position.
  auto c = CALayer::layer();
  c->setFrame(CGRect::make(0, 0, 100, 100));
  c->setBounds(CGRect::make(0, 0, 50, 50));
  EXPECT_EQ(c->frame(), CGRect::make(25, 25, 50, 50));
  // Setting the frame never touches the bounds origin.
  c->setBounds(CGRect::make(5, 5, 50, 50));
  c->setFrame(CGRect{{40, 40}, {-20, -20}});
  EXPECT_EQ(c->bounds(), CGRect::make(5, 5, 20, 20));
  EXPECT_EQ(c->frame(), CGRect::make(20, 20, 20, 20));
}

TEST(CALayerGeometryTest, ConvertsPointsBetweenLayersOfOneTree) {
  auto root = CALayer::layer();
  root->setFrame(CGRect::make(0, 0, 400, 400));
  auto a = CALayer::layer();
  a->setFrame(CGRect::make(10, 20, 100, 100));
  auto b = CALayer::layer();
  b->setFrame(CGRect::make(5, 5, 10, 10));
  b->setBounds(CGRect::make(100, 0, 10, 10));  // scrolled content
  root->addSublayer(a);
  a->addSublayer(b);
  EXPECT_EQ(b->convert(CGPoint{100, 0}, root.get()), (CGPoint{15, 25}));
  EXPECT_EQ(root->convert(CGPoint{15, 25}, b.get()), (CGPoint{100, 0}));
  EXPECT_EQ(b->convert(CGRect::make(100, 0, 10, 10), a.get()), CGRect::make(5, 5, 10, 10));
  auto stranger = CALayer::layer();
  EXPECT_EQ(b->convert(CGPoint{1, 2}, stranger.get()), (CGPoint{1, 2}));
}

TEST(CALayerTreeTest, ReparentingRemovesFromTheOldParent) {
  auto p1 = CALayer::layer(), p2 = CALayer::layer(), child = CALayer::layer();
  p1->addSublayer(child);
  p2->addSublayer(child);
  EXPECT_TRUE(p1->sublayers().empty());
  EXPECT_EQ(p2->sublayers().size(), 1u);
  EXPECT_EQ(child->superlayer(), p2);
  // Re-adding to the same parent moves it to the top, without duplicates.
  auto other = CALayer::layer();
  p2->addSublayer(other);
  p2->addSublayer(child);
  EXPECT_EQ(raw(*p2), (std::vector<CALayer*>{other.get(), child.get()}));
}

TEST(CALayerTreeTest, InsertionsByIndexAndRelativeToSiblings) {
  auto p = CALayer::layer();
  auto a = CALayer::layer(), b = CALayer::layer(), c = CALayer::layer(), d = CALayer::layer();
  p->addSublayer(a);
  p->addSublayer(b);
  p->insertSublayer(c, 1);
  EXPECT_EQ(raw(*p), (std::vector<CALayer*>{a.get(), c.get(), b.get()}));
  p->insertSublayer(d, 99);  // clamped to the end
  EXPECT_EQ(raw(*p).back(), d.get());
  p->insertSublayerBelow(d, a);
  EXPECT_EQ(raw(*p), (std::vector<CALayer*>{d.get(), a.get(), c.get(), b.get()}));
  p->insertSublayerAbove(d, b);
  EXPECT_EQ(raw(*p), (std::vector<CALayer*>{a.get(), c.get(), b.get(), d.get()}));
  // Moving a layer down within its own parent accounts for its old slot.
  p->insertSublayer(d, 1);
  EXPECT_EQ(raw(*p), (std::vector<CALayer*>{a.get(), d.get(), c.get(), b.get()}));
  auto stranger = CALayer::layer();
  auto e = CALayer::layer();
  p->insertSublayerBelow(e, stranger);  // sibling elsewhere: bottom
  EXPECT_EQ(raw(*p).front(), e.get());
  p->replaceSublayer(e, stranger);
  EXPECT_EQ(raw(*p).front(), stranger.get());
  EXPECT_EQ(e->superlayer(), nullptr);
}

TEST(CALayerTreeTest, CyclesAreRefusedAndTheLastOwnerMayDropALayerSafely) {
  auto root = CALayer::layer(), mid = CALayer::layer(), leaf = CALayer::layer();
  root->addSublayer(mid);
  mid->addSublayer(leaf);
  leaf->addSublayer(root);  // would make a cycle
  mid->addSublayer(mid);
  EXPECT_EQ(root->superlayer(), nullptr);
  EXPECT_EQ(mid->sublayers().size(), 1u);

  std::weak_ptr<CALayer> weakLeaf = leaf;
  leaf.reset();  // only `mid` owns it now
  weakLeaf.lock()->removeFromSuperlayer();
  EXPECT_TRUE(weakLeaf.expired());
  EXPECT_TRUE(mid->sublayers().empty());

  // A parent that goes away leaves its children without a superlayer.
  auto child = CALayer::layer();
  mid->addSublayer(child);
  root.reset();
  mid.reset();
  EXPECT_EQ(child->superlayer(), nullptr);
}

TEST(CALayerTreeTest, AMaskIsTakenOutOfTheTree) {
  auto p = CALayer::layer(), m = CALayer::layer();
  p->addSublayer(m);
  p->setMask(m);
  EXPECT_TRUE(p->sublayers().empty());
  EXPECT_EQ(m->superlayer(), nullptr);
  EXPECT_EQ(p->mask(), m);
}

namespace {
struct CountingDelegate : CALayerDelegate {
  int calls = 0;
  void layoutSublayers(CALayer&) override { ++calls; }
};
}  // namespace

TEST(CALayerLayoutTest, LayoutRunsOncePerRequestAndOnResize) {
  auto l = CALayer::layer();
  auto d = std::make_shared<CountingDelegate>();
  l->delegate = d;
  l->setNeedsLayout();
  l->layoutIfNeeded();
  l->layoutIfNeeded();
  EXPECT_EQ(d->calls, 1);
  l->setBounds(CGRect::make(0, 0, 10, 10));
  l->layoutIfNeeded();
  EXPECT_EQ(d->calls, 2);
  l->setPosition({3, 3});  // no resize
  l->layoutIfNeeded();
  EXPECT_EQ(d->calls, 2);
  d.reset();
  l->setNeedsLayout();
  l->layoutIfNeeded();  // delegate gone: nothing happens
}

TEST(CALayerDescriptionTest, DescribesTheTree) {
  auto root = CALayer::layer();
  root->setFrame(CGRect::make(0, 0, 100, 50));
  auto shape = CAShapeLayer::layer();
  shape->setFrame(CGRect::make(1.5, 2, 10, 20));
  shape->setOpacity(0.5);
  shape->setHidden(true);
  shape->setName("outline");
  root->addSublayer(shape);
  const std::string text = root->recursiveDescription();
  EXPECT_NE(text.find("<CALayer; frame = (0 0; 100 50); opacity = 1>"), std::string::npos) << text;
  EXPECT_NE(
      text.find("   | <CAShapeLayer; name = outline; frame = (1.5 2; 10 20); opacity = 0.5; hidden = YES"),
      std::string::npos)
      << text;
}

TEST(CAShapeLayerTest, StrokeRangeAndOpacityAreClamped) {
  auto s = CAShapeLayer::layer();
  s->setStrokeEnd(1.7);
  s->setStrokeStart(-1);
  s->setOpacity(3);
  EXPECT_EQ(s->strokeEnd(), 1);
  EXPECT_EQ(s->strokeStart(), 0);
  EXPECT_EQ(s->opacity(), 1);
  EXPECT_TRUE(s->fillColor().has_value());
  EXPECT_FALSE(s->strokeColor().has_value());
}

TEST(CAGradientLayerTest, ColoursFollowTheStops) {
  auto g = CAGradientLayer::layer();
  EXPECT_FALSE(g->colorAt(0.5).has_value());
  const CGColor green = CGColor::make(0.2, 0.78, 0.35, 1);
  g->setColors({green.copy(0), green.copy(0.85), green.copy(0)});
  g->setLocations(std::vector<double>{0, 0.5, 1});
  EXPECT_NEAR(g->colorAt(0.25)->alpha, 0.425, 1e-9);
  EXPECT_NEAR(g->colorAt(0.5)->alpha, 0.85, 1e-9);
  EXPECT_EQ(g->colorAt(-3)->alpha, 0);
  // A locations list that does not match the colours is ignored (even spread).
  g->setLocations(std::vector<double>{0, 0.9});
  EXPECT_NEAR(g->colorAt(0.5)->alpha, 0.85, 1e-9);
}

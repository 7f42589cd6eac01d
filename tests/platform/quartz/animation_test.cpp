#include <gtest/gtest.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/quartz.h>

using namespace quartz;

namespace {

class ManualClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatch::clock::useManualClock();
    dispatch::MainLoop::drain();
  }
  void TearDown() override {
    dispatch::MainLoop::drain();
    dispatch::clock::useRealClock();
  }
  static void advance(double s) {
    dispatch::clock::advance(s);
    dispatch::MainLoop::drain();
  }
};

CABasicAnimation fade(double duration) {
  CABasicAnimation a("opacity");
  a.fromValue = 1.0;
  a.toValue = 0.0;
  a.duration = duration;
  a.timingFunction = CAMediaTimingFunction(CAMediaTimingFunctionName::easeInEaseOut);
  return a;
}

using CAAnimationTest = ManualClockTest;

TEST_F(CAAnimationTest, AnimationsAreKeptByKeyInOrder) {
  auto l = CALayer::layer();
  auto spin = fade(1);
  spin.keyPath = "transform.rotation.z";
  spin.repeatCount = kCAHugeRepeatCount;
  l->add(spin, "rotationAnimation");
  l->add(fade(0.25), "opacity");
  EXPECT_EQ(l->animationKeys(), (std::vector<std::string>{"rotationAnimation", "opacity"}));
  auto longer = fade(2);
  l->add(longer, "opacity");  // same key: replaced
  ASSERT_NE(l->animation("opacity"), nullptr);
  EXPECT_EQ(l->animation("opacity")->duration, 2);
  EXPECT_EQ(std::get<double>(l->animation("opacity")->toValue), 0.0);
  EXPECT_EQ(l->animationKeys().size(), 2u);
  l->removeAnimation("opacity");
  l->removeAnimation("missing");
  EXPECT_EQ(l->animation("opacity"), nullptr);
  l->removeAllAnimations();
  EXPECT_TRUE(l->animationKeys().empty());
}

TEST_F(CAAnimationTest, FinishedAnimationsLeaveUnlessKept) {
  auto l = CALayer::layer();
  l->add(fade(0.25), "gone");
  auto kept = fade(0.25);
  kept.isRemovedOnCompletion = false;
  kept.fillMode = CAMediaTimingFillMode::forwards;
  l->add(kept, "kept");
  auto endless = fade(1);
  endless.repeatCount = kCAHugeRepeatCount;
  l->add(endless, "endless");
  advance(0.2);
  EXPECT_NE(l->animation("gone"), nullptr);
  advance(0.1);
  EXPECT_EQ(l->animation("gone"), nullptr);
  EXPECT_NE(l->animation("kept"), nullptr);
  advance(1e6);
  EXPECT_NE(l->animation("endless"), nullptr);
}

TEST_F(CAAnimationTest, AReplacedAnimationIsNotRemovedByItsPredecessorsTimer) {
  auto l = CALayer::layer();
  l->add(fade(0.25), "opacity");
  advance(0.2);
  l->add(fade(1), "opacity");
  advance(0.1);  // the first one's end passes
  EXPECT_NE(l->animation("opacity"), nullptr);
  advance(1);
  EXPECT_EQ(l->animation("opacity"), nullptr);
}

TEST_F(CAAnimationTest, DurationsComeFromTheTransactionAndRepeats) {
  auto l = CALayer::layer();
  CATransaction::begin();
  CATransaction::setAnimationDuration(0.1);
  l->add(fade(0), "inherit");
  CATransaction::commit();
  EXPECT_DOUBLE_EQ(l->animation("inherit")->duration, 0.1);
  auto twice = fade(0.5);
  twice.repeatCount = 2;
  twice.autoreverses = true;
  EXPECT_DOUBLE_EQ(twice.totalDuration(), 2.0);
  CAMediaTimingFunction ease(CAMediaTimingFunctionName::easeInEaseOut);
  EXPECT_NEAR(ease.evaluate(0.5), 0.5, 1e-6);
  EXPECT_LT(ease.evaluate(0.2), 0.2);
}

using CATransactionTest = ManualClockTest;

TEST_F(CATransactionTest, CompletionRunsOnTheMainQueueAfterTheDuration) {
  int runs = 0;
  CATransaction::begin();
  CATransaction::setAnimationDuration(0.1);
  CATransaction::setCompletionBlock([&] { ++runs; });
  EXPECT_EQ(CATransaction::depth(), 1);
  CATransaction::commit();
  EXPECT_EQ(CATransaction::depth(), 0);
  dispatch::MainLoop::drain();
  advance(0.05);
  EXPECT_EQ(runs, 0);
  advance(0.06);
  EXPECT_EQ(runs, 1);
  advance(1);
  EXPECT_EQ(runs, 1);
}

TEST_F(CATransactionTest, NestedTransactionsInheritAndWaitForTheOutermostCommit) {
  std::vector<std::string> order;
  CATransaction::begin();
  CATransaction::setAnimationDuration(0.5);
  CATransaction::setDisableActions(true);
  CATransaction::begin();
  EXPECT_DOUBLE_EQ(CATransaction::animationDuration(), 0.5);
  EXPECT_TRUE(CATransaction::disableActions());
  CATransaction::setAnimationDuration(0.1);
  CATransaction::setCompletionBlock([&] { order.push_back("inner"); });
  CATransaction::commit();
  advance(0.2);
  EXPECT_TRUE(order.empty());  // outer still open
  CATransaction::setCompletionBlock([&] { order.push_back("outer"); });
  CATransaction::commit();
  CATransaction::commit();  // unmatched: ignored
  advance(0.11);
  EXPECT_EQ(order, (std::vector<std::string>{"inner"}));
  advance(0.4);
  EXPECT_EQ(order, (std::vector<std::string>{"inner", "outer"}));
  EXPECT_DOUBLE_EQ(CATransaction::animationDuration(), 0.25);
  EXPECT_FALSE(CATransaction::disableActions());
}

TEST_F(CATransactionTest, ACompletionSetOutsideBeginUsesTheImplicitTransaction) {
  bool ran = false;
  CATransaction::setCompletionBlock([&] { ran = true; });
  dispatch::MainLoop::drain();  // the implicit transaction commits on this turn
  EXPECT_FALSE(ran);
  advance(0.25);
  EXPECT_TRUE(ran);
}

// What a layer shows while an animation runs, sampled on the manual clock.
TEST_F(CAAnimationTest, PresentationShowsTheRunningAnimationOverTheModel) {
  const double now = static_cast<double>(dispatch::DispatchTime::now().uptimeNanoseconds()) / 1e9;
  auto linear = [](double from, double to, double duration) {
    CABasicAnimation a("opacity");
    a.fromValue = from;
    a.toValue = to;
    a.duration = duration;
    a.timingFunction = CAMediaTimingFunction(CAMediaTimingFunctionName::linear);
    return a;
  };
  struct Case {
    const char* what;
    CABasicAnimation animation;
    float model;
    std::vector<std::pair<double, float>> shown;  // seconds after adding, opacity seen
  };
  auto delayed = linear(1, 0, 1);
  delayed.beginTime = now + 1;
  delayed.fillMode = CAMediaTimingFillMode::backwards;
  auto delayedNoFill = delayed;
  delayedNoFill.fillMode = CAMediaTimingFillMode::removed;
  auto kept = linear(1, 0, 1);
  kept.isRemovedOnCompletion = false;
  kept.fillMode = CAMediaTimingFillMode::forwards;
  auto keptWithoutFill = kept;
  keptWithoutFill.fillMode = CAMediaTimingFillMode::removed;
  auto there = linear(0, 1, 1);
  there.autoreverses = true;
  auto by = linear(0, 0, 1);
  by.fromValue = std::monostate{};
  by.toValue = std::monostate{};
  by.byValue = -0.5;
  auto additive = linear(-0.5, 0, 1);
  additive.isAdditive = true;
  auto eased = linear(1, 0, 1);
  eased.timingFunction = CAMediaTimingFunction(CAMediaTimingFunctionName::easeIn);
  const std::vector<Case> cases = {
      {"linear", linear(1, 0, 1), 0.3f, {{0, 1}, {0.25, 0.75}, {0.5, 0.5}, {1.5, 0.3f}}},
      {"delayed, backwards fill", delayed, 0, {{0.5, 1}, {1.5, 0.5}, {2.5, 0}}},
      {"delayed, no fill", delayedNoFill, 0, {{0.5, 0}, {1.5, 0.5}, {2.5, 0}}},
      {"kept with forwards fill", kept, 0.8f, {{0.5, 0.5}, {3, 0}}},
      {"kept without fill", keptWithoutFill, 0.8f, {{0.5, 0.5}, {3, 0.8f}}},
      {"there and back", there, 0.2f, {{0.5, 0.5}, {1.25, 0.75}, {2.5, 0.2f}}},
      {"by value from the model", by, 1, {{0.5, 0.75}}},
      {"additive over the model", additive, 1, {{0, 0.5}, {0.5, 0.75}}},
      {"ease in lags linear", eased, 0, {{0.5, 0.68f}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const double start = static_cast<double>(dispatch::DispatchTime::now().uptimeNanoseconds()) / 1e9;
    auto animation = c.animation;
    if (animation.beginTime > 0) animation.beginTime += start - now;
    auto layer = CALayer::layer();
    layer->setOpacity(c.model);
    layer->add(animation, "opacity");
    double at = 0;
    for (const auto& [time, opacity] : c.shown) {
      advance(time - at);
      at = time;
      EXPECT_NEAR(layer->presentationOpacity(), opacity, 0.02) << "at " << time << " s";
      EXPECT_FLOAT_EQ(layer->opacity(), c.model) << "the model never moves";
    }
  }

  // Other key paths, and the description reads what is shown.
  auto layer = CALayer::layer();
  layer->setPosition({5, 10});
  CABasicAnimation drop("position.y");
  drop.fromValue = 10.0;
  drop.toValue = 30.0;
  drop.duration = 1;
  drop.timingFunction = CAMediaTimingFunction(CAMediaTimingFunctionName::linear);
  layer->add(drop, "drop");
  layer->add(linear(0, 1, 2), "fadeIn");
  advance(0.5);
  EXPECT_DOUBLE_EQ(std::get<double>(layer->presentationValue("position.y")), 20);
  EXPECT_DOUBLE_EQ(std::get<CGPoint>(layer->presentationValue("position")).y, 10) << "another key path";
  EXPECT_TRUE(std::holds_alternative<std::monostate>(layer->presentationValue("no.such.path")));
  EXPECT_NE(layer->description().find("opacity = 0.25"), std::string::npos) << layer->description();
}

}  // namespace

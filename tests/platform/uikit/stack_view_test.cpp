#include <gtest/gtest.h>

#include "UIKitTestSupport.h"

namespace uikit::testing {
namespace {

using Axis = NSLayoutConstraintAxis;
using Distribution = UIStackView::Distribution;
using Alignment = UIStackView::Alignment;

class StackViewLayoutTest : public UIKitTest {
 protected:
  std::shared_ptr<UIView> root = std::make_shared<UIView>(CGRect::make(0, 0, 390, 844));

  std::shared_ptr<UIStackView> stack(Axis axis, Distribution distribution, Alignment alignment,
                                     CGFloat spacing) {
    auto s = constrained<UIStackView>();
    s->setAxis(axis);
    s->setDistribution(distribution);
    s->setAlignment(alignment);
    s->setSpacing(spacing);
    root->addSubview(s);
    NSLayoutConstraint::activate({s->leadingAnchor().constraintEqualTo(root->leadingAnchor(), 10),
                                  s->topAnchor().constraintEqualTo(root->topAnchor(), 20)});
    return s;
  }
  static std::shared_ptr<UIView> sized(CGFloat w, CGFloat h) {
    auto v = std::make_shared<UIView>();
    if (w >= 0) v->widthAnchor().constraintEqualToConstant(w)->setActive(true);
    if (h >= 0) v->heightAnchor().constraintEqualToConstant(h)->setActive(true);
    return v;
  }
};

TEST_F(StackViewLayoutTest, HiddenArrangedViewsTakeNoRoom) {
  auto s = stack(Axis::vertical, Distribution::fill, Alignment::fill, 10);
  s->widthAnchor().constraintEqualToConstant(200)->setActive(true);
  auto a = sized(-1, 30), b = sized(-1, 40), c = sized(-1, 50);
  for (auto& v : {a, b, c}) s->addArrangedSubview(v);
  b->setHidden(true);
  root->layoutIfNeeded();
  expectFrame(s, 10, 20, 200, 90);
  expectFrame(a, 0, 0, 200, 30);
  expectFrame(c, 0, 40, 200, 50);

  b->setHidden(false);
  root->layoutIfNeeded();
  expectFrame(b, 0, 40, 200, 40);
  expectFrame(c, 0, 90, 200, 50);
  EXPECT_DOUBLE_EQ(s->frame().height(), 140);

  // A removed subview stops being arranged.
  b->removeFromSuperview();
  EXPECT_EQ(s->arrangedSubviews().size(), 2u);
  root->layoutIfNeeded();
  expectFrame(c, 0, 40, 200, 50);
}

TEST_F(StackViewLayoutTest, FillEquallyGivesEqualWidthsWhateverTheContent) {
  auto s = stack(Axis::horizontal, Distribution::fillEqually, Alignment::fill, 10);
  s->widthAnchor().constraintEqualToConstant(300)->setActive(true);
  s->heightAnchor().constraintEqualToConstant(48)->setActive(true);
  std::vector<std::shared_ptr<UIButton>> buttons;
  for (const char* title : {"Back", "Reset All", "Continue"}) {
    auto b = std::make_shared<UIButton>(UIButton::ButtonType::system);
    b->setTitle(std::string(title), UIControlState::normal);
    s->addArrangedSubview(b);
    buttons.push_back(b);
  }
  root->layoutIfNeeded();
  CGFloat w = (300 - 20) / 3.0;
  expectFrame(buttons[0], 0, 0, w, 48);
  expectFrame(buttons[1], w + 10, 0, w, 48);
  expectFrame(buttons[2], 2 * w + 20, 0, w, 48);

  buttons[1]->setHidden(true);
  root->layoutIfNeeded();
  expectFrame(buttons[0], 0, 0, 145, 48);
  expectFrame(buttons[2], 155, 0, 145, 48);
}

TEST_F(StackViewLayoutTest, EqualCenteringSpacesCentresEvenly) {
  auto s = stack(Axis::horizontal, Distribution::equalCentering, Alignment::center, 8);
  NSLayoutConstraint::activate(
      {s->widthAnchor().constraintEqualToConstant(300), s->heightAnchor().constraintEqualToConstant(48)});
  auto a = sized(20, 10), b = sized(40, 20), c = sized(60, 30);
  for (auto& v : {a, b, c}) s->addArrangedSubview(v);
  root->layoutIfNeeded();
  // Centres at 10, 140, 270: equal distances of 130.
  expectFrame(a, 0, 19, 20, 10);
  expectFrame(b, 120, 14, 40, 20);
  expectFrame(c, 240, 9, 60, 30);
}

TEST_F(StackViewLayoutTest, EqualSpacingSharesTheRemainingRoom) {
  auto s = stack(Axis::horizontal, Distribution::equalSpacing, Alignment::fill, 8);
  NSLayoutConstraint::activate(
      {s->widthAnchor().constraintEqualToConstant(300), s->heightAnchor().constraintEqualToConstant(10)});
  auto a = sized(20, -1), b = sized(40, -1), c = sized(60, -1);
  for (auto& v : {a, b, c}) s->addArrangedSubview(v);
  root->layoutIfNeeded();
  expectFrame(a, 0, 0, 20, 10);
  expectFrame(b, 110, 0, 40, 10);
  expectFrame(c, 240, 0, 60, 10);
}

TEST_F(StackViewLayoutTest, CrossAxisAlignmentAndHugging) {
  for (auto [alignment, x] : {std::pair{Alignment::leading, 0.0}, std::pair{Alignment::center, 75.0},
                              std::pair{Alignment::trailing, 150.0}}) {
    auto s = stack(Axis::vertical, Distribution::fill, alignment, 0);
    s->widthAnchor().constraintEqualToConstant(200)->setActive(true);
    auto a = sized(50, 10);
    s->addArrangedSubview(a);
    root->layoutIfNeeded();
    expectFrame(a, x, 0, 50, 10);
    s->removeFromSuperview();
  }
  // Without a size of its own, a centred row is as tall as its tallest member
  // and a member without a size collapses.
  auto row = stack(Axis::horizontal, Distribution::fill, Alignment::center, 8);
  row->widthAnchor().constraintEqualToConstant(300)->setActive(true);
  auto left = sized(30, 20), spacer = std::make_shared<UIView>(), right = sized(30, 30);
  for (auto& v : {left, spacer, right}) row->addArrangedSubview(v);
  root->layoutIfNeeded();
  expectFrame(row, 10, 20, 300, 30);
  expectFrame(left, 0, 5, 30, 20);
  expectFrame(spacer, 38, 15, 224, 0);
  expectFrame(right, 270, 0, 30, 30);
}

}  // namespace
}  // namespace uikit::testing

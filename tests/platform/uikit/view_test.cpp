#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UIKitTestSupport.h"

namespace uikit::testing {
namespace {

class ViewTreeTest : public UIKitTest {};

std::vector<UIView*> order(const UIView& parent) {
  std::vector<UIView*> out;
  for (auto& s : parent.subviews()) out.push_back(s.get());
  return out;
}

TEST_F(ViewTreeTest, SubviewOrderAndLayersStayInStep) {
  auto root = std::make_shared<UIView>(CGRect::make(0, 0, 100, 100));
  auto a = std::make_shared<UIView>(), b = std::make_shared<UIView>(), c = std::make_shared<UIView>();
  root->addSubview(a);
  root->addSubview(b);
  root->insertSubview(c, 0);
  EXPECT_EQ(order(*root), (std::vector<UIView*>{c.get(), a.get(), b.get()}));
  root->bringSubviewToFront(c);
  root->sendSubviewToBack(b);
  root->insertSubviewAbove(a, c);  // a moves above c, the top
  EXPECT_EQ(order(*root), (std::vector<UIView*>{b.get(), c.get(), a.get()}));
  root->insertSubviewBelow(a, b);
  EXPECT_EQ(order(*root), (std::vector<UIView*>{a.get(), b.get(), c.get()}));
  const auto& layers = root->layer()->sublayers();
  ASSERT_EQ(layers.size(), 3u);
  EXPECT_EQ(layers[0], a->layer());
  EXPECT_EQ(layers[2], c->layer());

  // Moving to another parent, refusing cycles, tags.
  b->addSubview(c);
  EXPECT_EQ(root->subviews().size(), 2u);
  EXPECT_EQ(c->superview(), b);
  c->addSubview(root);  // an ancestor: refused
  EXPECT_EQ(root->superview(), nullptr);
  c->setTag(100);
  EXPECT_EQ(root->viewWithTag(100), c);
  EXPECT_EQ(root->viewWithTag(7), nullptr);
  c->removeFromSuperview();
  EXPECT_EQ(c->superview(), nullptr);
  EXPECT_EQ(c->layer()->superlayer(), nullptr);
  EXPECT_EQ(root->viewWithTag(100), nullptr);
}

TEST_F(ViewTreeTest, HitTestSkipsHiddenTransparentAndInertViews) {
  auto root = std::make_shared<UIView>(CGRect::make(0, 0, 200, 200));
  auto back = std::make_shared<UIView>(CGRect::make(0, 0, 100, 100));
  auto front = std::make_shared<UIView>(CGRect::make(50, 50, 100, 100));
  auto child = std::make_shared<UIView>(CGRect::make(10, 10, 20, 20));
  root->addSubview(back);
  root->addSubview(front);
  front->addSubview(child);
  EXPECT_EQ(root->hitTest({75, 95}), front);  // later subviews are in front
  EXPECT_EQ(root->hitTest({65, 65}), child);
  EXPECT_EQ(root->hitTest({25, 25}), back);
  EXPECT_EQ(root->hitTest({300, 300}), nullptr);
  front->setHidden(true);
  EXPECT_EQ(root->hitTest({75, 95}), back);
  front->setHidden(false);
  front->setAlpha(0.005);
  EXPECT_EQ(root->hitTest({65, 65}), back);
  front->setAlpha(0.01);
  EXPECT_EQ(root->hitTest({65, 65}), child);
  front->setUserInteractionEnabled(false);  // its subtree goes with it
  EXPECT_EQ(root->hitTest({65, 65}), back);
  // Labels take no touches by default; a scrolled view shifts its content.
  auto scroll = std::make_shared<UIScrollView>(CGRect::make(0, 100, 200, 100));
  auto row = std::make_shared<UIView>(CGRect::make(0, 100, 200, 50));
  root->addSubview(scroll);
  scroll->addSubview(row);
  scroll->setContentOffset({0, 100});
  EXPECT_EQ(root->hitTest({10, 110}), row);
  auto label = std::make_shared<UILabel>(CGRect::make(0, 0, 200, 200));
  root->addSubview(label);
  EXPECT_EQ(root->hitTest({10, 110}), row);
}

class Target {
 public:
  int taps = 0;
};

TEST_F(ViewTreeTest, TargetActionSkipsDisabledControlsAndGoneTargets) {
  auto button = std::make_shared<UIButton>(UIButton::ButtonType::system);
  auto target = std::make_shared<Target>();
  int unowned = 0;
  UIControl* sender = nullptr;
  button->addTarget(target, UIControl::Action([t = target.get()] { ++t->taps; }),
                    UIControlEvents::touchUpInside);
  button->addTarget(nullptr, UIControl::SenderAction([&](UIControl& s) {
                      ++unowned;
                      sender = &s;
                    }),
                    UIControlEvents::touchUpInside | UIControlEvents::valueChanged);
  button->sendActions(UIControlEvents::touchUpInside);
  EXPECT_EQ(target->taps, 1);
  EXPECT_EQ(unowned, 1);
  EXPECT_EQ(sender, button.get());
  button->sendActions(UIControlEvents::touchDown);  // nobody listens
  EXPECT_EQ(unowned, 1);

  button->setEnabled(false);
  button->sendActions(UIControlEvents::touchUpInside);
  EXPECT_EQ(unowned, 1);
  button->setEnabled(true);
  button->setHidden(true);
  button->sendActions(UIControlEvents::touchUpInside);
  EXPECT_EQ(unowned, 1);
  button->setHidden(false);

  std::weak_ptr<Target> weak = target;
  target.reset();  // the control does not keep its target alive
  EXPECT_TRUE(weak.expired());
  button->sendActions(UIControlEvents::touchUpInside);
  EXPECT_EQ(unowned, 2);

  button->removeTarget(nullptr, UIControlEvents::touchUpInside);
  EXPECT_EQ(button->actionCount(UIControlEvents::touchUpInside), 0u);
  EXPECT_EQ(button->actionCount(UIControlEvents::valueChanged), 1u);
}

TEST_F(ViewTreeTest, ButtonContentFollowsItsState) {
  auto button = std::make_shared<UIButton>(UIButton::ButtonType::system);
  button->setTitle("Submit", UIControlState::normal);
  button->setTitle("Wait", UIControlState::disabled);
  button->setTitleColor(UIColor::white(), UIControlState::normal);
  button->titleLabel()->setFont(UIFont::systemFont(20, UIFont::Weight::semibold));
  button->setContentEdgeInsets({8, 16, 8, 16});
  // 6 characters x 0.58 x 20 + 32; 1.2 x 20 + 16.
  EXPECT_NEAR(button->intrinsicContentSize().width, 6 * 11.6 + 32, 1e-9);
  EXPECT_NEAR(button->intrinsicContentSize().height, 24 + 16, 1e-9);
  EXPECT_EQ(button->titleLabel()->text(), "Submit");
  button->setEnabled(false);
  EXPECT_EQ(button->titleLabel()->text(), "Wait");
  EXPECT_EQ(button->currentTitleColor(), UIColor::white());  // falls back to normal
  button->setFrame(CGRect::make(0, 0, 200, 48));
  button->layoutIfNeeded();
  // Centred: "Wait" is 4 x 11.6 wide.
  expectFrame(button->titleLabel(), 100 - 23.2, 12, 46.4, 24);
  EXPECT_NE(button->recursiveDescription().find("title = 'Wait'; enabled = NO"), std::string::npos);
}

TEST_F(ViewTreeTest, AnimationCompletesAfterDelayAndDurationOnTheClock) {
  auto view = std::make_shared<UIView>();
  std::vector<bool> finished;
  UIView::animate(
      0.3, 0.2, UIViewAnimationOptions::curveEaseOut, [&] { view->setAlpha(0); },
      [&](bool done) { finished.push_back(done); });
  EXPECT_DOUBLE_EQ(view->alpha(), 0);  // the end state at once
  // ... but a person still sees the view through the delay, then a fade.
  EXPECT_DOUBLE_EQ(view->presentationAlpha(), 1);
  EXPECT_EQ(view->description().find("alpha"), std::string::npos) << view->description();
  drain();
  dispatch::clock::advance(0.35);
  drain();
  EXPECT_GT(view->presentationAlpha(), 0.05);
  EXPECT_LT(view->presentationAlpha(), 0.95);
  dispatch::clock::advance(0.14);
  drain();
  EXPECT_TRUE(finished.empty());
  dispatch::clock::advance(0.01);
  drain();
  EXPECT_EQ(finished, (std::vector<bool>{true}));
  EXPECT_DOUBLE_EQ(view->presentationAlpha(), 0);
  EXPECT_NE(view->description().find("alpha = 0"), std::string::npos);

  // A fade cut short by a plain change shows the new value at once.
  UIView::animate(1, [&] { view->setAlpha(1); });
  dispatch::clock::advance(0.5);
  EXPECT_LT(view->presentationAlpha(), 1);
  view->setAlpha(0.4);
  EXPECT_DOUBLE_EQ(view->presentationAlpha(), 0.4);
  view->setAlpha(0);

  UIView::performWithoutAnimation([&] {
    UIView::animate(
        5, [&] { view->setAlpha(1); }, [&](bool done) { finished.push_back(done); });
  });
  drain();
  EXPECT_EQ(finished.size(), 2u);
  EXPECT_DOUBLE_EQ(view->alpha(), 1);
  EXPECT_DOUBLE_EQ(view->presentationAlpha(), 1);
}

TEST_F(ViewTreeTest, EndEditingResignsTheFirstResponderInside) {
  struct Delegate : UITextViewDelegate {
    std::vector<std::string> calls;
    void textViewDidBeginEditing(UITextView&) override { calls.push_back("begin"); }
    void textViewDidEndEditing(UITextView&) override { calls.push_back("end"); }
    void textViewDidChange(UITextView& tv) override { calls.push_back("change:" + tv.text()); }
  };
  auto root = std::make_shared<UIView>(CGRect::make(0, 0, 100, 100));
  auto other = std::make_shared<UIView>();
  auto text = std::make_shared<UITextView>();
  auto delegate = std::make_shared<Delegate>();
  text->delegate = delegate;
  root->addSubview(text);
  root->addSubview(other);
  EXPECT_TRUE(text->becomeFirstResponder());
  text->insertText("hé");
  text->deleteBackward();                // removes the whole "é"
  text->setText("set in code");          // no delegate call
  EXPECT_TRUE(other->endEditing(true));  // not inside: nothing happens
  EXPECT_TRUE(text->isFirstResponder());
  EXPECT_TRUE(root->endEditing(true));
  EXPECT_FALSE(text->isFirstResponder());
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"begin", "change:hé", "change:h", "end"}));
  EXPECT_FALSE(other->becomeFirstResponder());  // plain views cannot
}

TEST_F(ViewTreeTest, LayoutReachesFrameOverridesAndDrawsMarkedViews) {
  struct Spinner : UIView {
    int frames = 0, draws = 0;
    CGRect drawn;
    void setFrame(const CGRect& f) override {
      UIView::setFrame(f);
      ++frames;
    }
    void draw(const CGRect& rect) override {
      ++draws;
      drawn = rect;
    }
  };
  auto root = std::make_shared<UIView>(CGRect::make(0, 0, 100, 100));
  auto spinner = std::make_shared<Spinner>();
  spinner->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(spinner);
  NSLayoutConstraint::activate({spinner->widthAnchor().constraintEqualToConstant(50),
                                spinner->heightAnchor().constraintEqualToConstant(50),
                                spinner->centerXAnchor().constraintEqualTo(root->centerXAnchor()),
                                spinner->centerYAnchor().constraintEqualTo(root->centerYAnchor())});
  root->layoutIfNeeded();
  EXPECT_EQ(spinner->frames, 1);
  EXPECT_EQ(spinner->draws, 1);
  EXPECT_EQ(spinner->drawn, CGRect::make(0, 0, 50, 50));
  root->layoutIfNeeded();  // nothing changed: no new frame, no new drawing
  EXPECT_EQ(spinner->frames, 1);
  EXPECT_EQ(spinner->draws, 1);
  spinner->setNeedsDisplay();
  root->layoutIfNeeded();
  EXPECT_EQ(spinner->draws, 2);
}

TEST_F(ViewTreeTest, RecursiveDescriptionShowsTheTree) {
  auto root = std::make_shared<UIView>(CGRect::make(0, 0, 390, 844));
  auto label = std::make_shared<UILabel>(CGRect::make(16, 20.5, 100, 24));
  label->setText("Steps");
  label->setAlpha(0.9);
  auto image = std::make_shared<UIImageView>(CGRect::make(0, 0, 10, 10));
  image->setHidden(true);
  root->addSubview(label);
  root->addSubview(image);
  EXPECT_EQ(root->recursiveDescription(),
            "<UIView: frame = (0 0; 390 844)>\n"
            " | <UILabel: frame = (16 20.5; 100 24); text = 'Steps'; alpha = 0.9>\n"
            " | <UIImageView: frame = (0 0; 10 10); hidden = YES>\n");
}

}  // namespace
}  // namespace uikit::testing

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UIKitTestSupport.h"

namespace uikit::testing {
namespace {

class TextViewsTest : public UIKitTest {};

TEST_F(TextViewsTest, LabelMeasuresWrappedTextAtItsWidth) {
  // The height a label needs at a given width, as a temporary label with
  // unlimited lines and sizeToFit finds it.
  auto label = std::make_shared<UILabel>(CGRect::make(0, 0, 100, 1e9));
  label->setNumberOfLines(0);
  label->setLineBreakMode(NSLineBreakMode::byWordWrapping);
  label->setFont(UIFont::systemFont(10));
  label->setText("one two three four five six");  // 27 characters, 148.5 wide
  label->sizeToFit();
  // 100 / 5.5 = 18 characters: "one two three four" then "five six".
  EXPECT_DOUBLE_EQ(label->frame().height(), 24);
  EXPECT_DOUBLE_EQ(label->frame().width(), 99);
  EXPECT_EQ(label->renderedLines(), (std::vector<std::string>{"one two three four", "five six"}));

  // A single-line label does not wrap; with font-size-to-fit it shrinks to
  // the width, not below the minimum scale.
  auto title = std::make_shared<UILabel>(CGRect::make(0, 0, 55, 20));
  title->setFont(UIFont::systemFont(10));
  title->setText("abcdefghijklmnopqrst");  // 110 wide
  EXPECT_DOUBLE_EQ(title->intrinsicContentSize().width, 110);
  EXPECT_DOUBLE_EQ(title->effectivePointSize(), 10);
  title->setAdjustsFontSizeToFitWidth(true);
  EXPECT_DOUBLE_EQ(title->effectivePointSize(), 5);
  title->setMinimumScaleFactor(0.8);
  EXPECT_DOUBLE_EQ(title->effectivePointSize(), 8);

  // Attributed text replaces the text, and plain text replaces it back.
  title->setAttributedText(foundation::NSAttributedString("linked"));
  EXPECT_EQ(title->text(), "linked");
  title->setText("plain");
  EXPECT_FALSE(title->attributedText().has_value());
}

TEST_F(TextViewsTest, TextViewClassHooksSeeBoundsAndTheirOwnChanges) {
  std::vector<std::string> calls;
  UITextView::setClassHooks({[&](UITextView& tv) { calls.push_back("bounds " + toString(tv.bounds())); },
                             [&](UITextView& tv) { calls.push_back("changed " + tv.text()); }});
  auto tv = std::make_shared<UITextView>(CGRect::make(0, 0, 100, 50));
  tv->setFrame(CGRect::make(10, 10, 200, 50));  // size change: the bounds changed
  tv->setFrame(CGRect::make(20, 20, 200, 50));  // a move only: no call
  tv->insertText("x");                          // not its own delegate yet: nothing
  tv->delegate = tv;
  tv->insertText("y");
  tv->deleteBackward();
  tv->setEditable(false);
  tv->insertText("z");  // not editable: ignored
  UITextView::setClassHooks({});
  EXPECT_EQ(calls, (std::vector<std::string>{"bounds " + toString(CGRect::make(0, 0, 200, 50)), "changed xy",
                                             "changed x"}));
  EXPECT_EQ(tv->textContainerInset(), (UIEdgeInsets{8, 0, 8, 0}));
  EXPECT_DOUBLE_EQ(tv->textContainer().lineFragmentPadding, 5);
  tv->delegate.reset();
}

TEST_F(TextViewsTest, TextFieldEditingSendsItsEvents) {
  auto field = std::make_shared<UITextField>();
  std::vector<std::string> events;
  field->addTarget(nullptr, UIControl::Action([&] { events.push_back("begin"); }),
                   UIControlEvents::editingDidBegin);
  field->addTarget(nullptr, UIControl::Action([&] { events.push_back("changed " + *field->text()); }),
                   UIControlEvents::editingChanged);
  field->addTarget(nullptr, UIControl::Action([&] { events.push_back("end"); }),
                   UIControlEvents::editingDidEnd);
  field->setPlaceholder("Email");
  EXPECT_DOUBLE_EQ(field->intrinsicContentSize().width, 5 * 0.55 * 17);
  EXPECT_TRUE(field->becomeFirstResponder());
  EXPECT_TRUE(field->isEditing());
  field->insertText("a@b");
  field->deleteBackward();
  auto other = std::make_shared<UITextField>();
  EXPECT_TRUE(other->becomeFirstResponder());  // takes over: the first one ends
  EXPECT_FALSE(field->isEditing());
  EXPECT_EQ(events, (std::vector<std::string>{"begin", "changed a@b", "changed a@", "end"}));
  other->setEnabled(false);
  EXPECT_FALSE(field->becomeFirstResponder() && other->becomeFirstResponder());
}

class WindowTest : public UIKitTest {};

TEST_F(WindowTest, KeyWindowRootAndScenes) {
  auto& app = UIApplication::shared();
  EXPECT_EQ(app.keyWindow(), nullptr);
  auto scene = app.connectWindowScene();
  auto first = scene->makeWindow();
  auto second = scene->makeWindow();
  EXPECT_EQ(first->frame(), UIScreen::main().bounds());
  EXPECT_TRUE(first->isHidden());
  EXPECT_EQ(first->safeAreaInsets(), (UIEdgeInsets{47, 0, 34, 0}));
  EXPECT_EQ(scene->windows().size(), 2u);

  auto root = std::make_shared<UIViewController>();
  second->setRootViewController(root);
  second->makeKeyAndVisible();
  EXPECT_EQ(app.keyWindow(), second);
  EXPECT_EQ(scene->keyWindow(), second);
  EXPECT_FALSE(first->isKeyWindow());
  EXPECT_FALSE(root->isVisible() && false);
  drain();
  EXPECT_TRUE(root->isVisible());
  EXPECT_EQ(root->view()->frame(), second->bounds());
  EXPECT_EQ(root->view()->window(), second);

  // Replacing the root of a visible window swaps the views and appearances.
  auto next = std::make_shared<UIViewController>();
  second->setRootViewController(next);
  EXPECT_FALSE(root->isVisible());
  EXPECT_EQ(root->view()->superview(), nullptr);
  EXPECT_EQ(next->view()->superview(), second);
  drain();
  EXPECT_TRUE(next->isVisible());

  // A window follows the screen when the screen changes size.
  UIScreen::main().setBounds(CGRect::make(0, 0, 400, 800));
  EXPECT_EQ(second->bounds(), CGRect::make(0, 0, 400, 800));
  second->layoutIfNeeded();
  EXPECT_EQ(next->view()->frame(), CGRect::make(0, 0, 400, 800));
  UIScreen::main().setBounds(CGRect::make(0, 0, 390, 844));

  std::weak_ptr<UIWindow> weak = second;
  second.reset();
  first.reset();
  app.disconnect(scene);
  EXPECT_EQ(app.keyWindow(), nullptr);
  EXPECT_TRUE(app.connectedScenes().empty());
  EXPECT_TRUE(weak.expired());
}

TEST_F(WindowTest, ConvertAndLayoutGuidesBetweenViews) {
  auto window = UIApplication::shared().connectWindowScene()->makeWindow();
  auto panel = std::make_shared<UIView>(CGRect::make(10, 100, 200, 200));
  auto inner = std::make_shared<UIView>(CGRect::make(5, 5, 20, 20));
  window->addSubview(panel);
  panel->addSubview(inner);
  EXPECT_EQ(inner->convert(CGPoint{0, 0}, window.get()), (CGPoint{15, 105}));
  EXPECT_EQ(inner->convert(CGRect::make(0, 0, 20, 20), nullptr), CGRect::make(15, 105, 20, 20));
  EXPECT_EQ(panel->convertFrom(CGPoint{15, 105}, window.get()), (CGPoint{5, 5}));
  // The panel lies below the top inset: its own safe area starts at 0 there,
  // and reaches into the bottom inset only where it overlaps it.
  EXPECT_EQ(panel->safeAreaInsets(), (UIEdgeInsets{0, 0, 0, 0}));
  panel->setFrame(CGRect::make(0, 0, 390, 844));
  EXPECT_EQ(panel->safeAreaInsets(), (UIEdgeInsets{47, 0, 34, 0}));

  // A layout guide spaces two views apart; its frame is in its owner's space.
  auto gap = std::make_shared<UILayoutGuide>();
  panel->addLayoutGuide(gap);
  auto left = constrained(), right = constrained();
  panel->addSubview(left);
  panel->addSubview(right);
  NSLayoutConstraint::activate({
      left->leadingAnchor().constraintEqualTo(panel->leadingAnchor()),
      left->widthAnchor().constraintEqualToConstant(100),
      gap->leadingAnchor().constraintEqualTo(left->trailingAnchor()),
      gap->widthAnchor().constraintEqualToConstant(30),
      right->leadingAnchor().constraintEqualTo(gap->trailingAnchor()),
      right->trailingAnchor().constraintEqualTo(panel->trailingAnchor()),
      gap->topAnchor().constraintEqualTo(panel->safeAreaLayoutGuide()->topAnchor()),
      gap->heightAnchor().constraintEqualToConstant(10),
      left->topAnchor().constraintEqualTo(gap->bottomAnchor()),
      right->topAnchor().constraintEqualTo(left->topAnchor()),
      left->heightAnchor().constraintEqualToConstant(5),
      right->heightAnchor().constraintEqualTo(left->heightAnchor()),
  });
  window->layoutIfNeeded();
  EXPECT_EQ(gap->layoutFrame(), CGRect::make(100, 47, 30, 10));
  expectFrame(right, 130, 57, 260, 5);
  EXPECT_EQ(panel->safeAreaLayoutGuide()->layoutFrame(), CGRect::make(0, 47, 390, 844 - 47 - 34));
}

}  // namespace
}  // namespace uikit::testing

#include <gtest/gtest.h>
#include <morvik/platform/foundation/Console.h>

#include <sstream>

#include "UIKitTestSupport.h"

namespace uikit::testing {
namespace {

using Axis = NSLayoutConstraintAxis;

class LayoutTest : public UIKitTest {
 protected:
  std::shared_ptr<UIView> root = std::make_shared<UIView>(CGRect::make(0, 0, 390, 844));
};

TEST_F(LayoutTest, PinnedEdgesAndCentringFollowTheSuperview) {
  auto box = constrained();
  auto dot = constrained();
  root->addSubview(box);
  box->addSubview(dot);
  NSLayoutConstraint::activate({
      box->topAnchor().constraintEqualTo(root->topAnchor(), 20),
      box->leadingAnchor().constraintEqualTo(root->leadingAnchor(), 16),
      box->trailingAnchor().constraintEqualTo(root->trailingAnchor(), -16),
      box->bottomAnchor().constraintEqualTo(root->bottomAnchor(), -100),
      dot->centerXAnchor().constraintEqualTo(box->centerXAnchor()),
      dot->centerYAnchor().constraintEqualTo(box->centerYAnchor(), 10),
      dot->widthAnchor().constraintEqualToConstant(50),
      dot->heightAnchor().constraintEqualTo(dot->widthAnchor(), 0.5, 0),
  });
  root->layoutIfNeeded();
  expectFrame(box, 16, 20, 358, 724);
  expectFrame(dot, 154, 359.5, 50, 25);

  // A later change of a constant lays out again.
  root->setFrame(CGRect::make(0, 0, 500, 844));
  root->layoutIfNeeded();
  expectFrame(box, 16, 20, 468, 724);
}

TEST_F(LayoutTest, SafeAreaGuideInsetsByTheWindowAndTheNavigationBar) {
  auto scene = UIApplication::shared().connectWindowScene();
  auto window = scene->makeWindow();
  auto controller = std::make_shared<UIViewController>();
  auto nav = std::make_shared<UINavigationController>(controller);
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  auto content = constrained();
  auto& view = controller->view();
  view->addSubview(content);
  NSLayoutConstraint::activate({
      content->topAnchor().constraintEqualTo(view->safeAreaLayoutGuide()->topAnchor(), 16),
      content->bottomAnchor().constraintEqualTo(view->safeAreaLayoutGuide()->bottomAnchor(), -16),
      content->leadingAnchor().constraintEqualTo(view->leadingAnchor(), 16),
      content->trailingAnchor().constraintEqualTo(view->trailingAnchor(), -16),
  });
  window->layoutIfNeeded();
  // 47 status bar + 44 navigation bar above, 34 home indicator below.
  expectFrame(content, 16, 47 + 44 + 16, 358, 844 - 47 - 44 - 34 - 32);

  nav->setNavigationBarHidden(true);
  window->setSafeAreaInsets({20, 0, 0, 0});
  window->layoutIfNeeded();
  expectFrame(content, 16, 36, 358, 844 - 20 - 32);
}

TEST_F(LayoutTest, ConflictingOptionalConstraintsAreResolvedByPriority) {
  auto v = constrained();
  root->addSubview(v);
  auto low = v->widthAnchor().constraintEqualToConstant(100);
  low->setPriority(UILayoutPriority::defaultLow);
  auto high = v->widthAnchor().constraintEqualToConstant(200);
  high->setPriority(UILayoutPriority::defaultHigh);
  auto cap = v->widthAnchor().constraintLessThanOrEqualToConstant(150);
  NSLayoutConstraint::activate({low, high, cap, v->heightAnchor().constraintEqualToConstant(10),
                                v->leadingAnchor().constraintEqualTo(root->leadingAnchor()),
                                v->topAnchor().constraintEqualTo(root->topAnchor())});
  root->layoutIfNeeded();
  EXPECT_DOUBLE_EQ(v->frame().width(), 150);  // required cap, then the higher wish
  cap->setActive(false);
  root->layoutIfNeeded();
  EXPECT_DOUBLE_EQ(v->frame().width(), 200);
  high->setPriority(UILayoutPriority{200});
  root->layoutIfNeeded();
  EXPECT_DOUBLE_EQ(v->frame().width(), 100);
}

TEST_F(LayoutTest, ContradictoryRequiredConstraintIsBrokenAndToldOncePerConflict) {
  auto v = constrained();
  root->addSubview(v);
  auto wide = v->widthAnchor().constraintEqualToConstant(120);
  NSLayoutConstraint::activate({v->widthAnchor().constraintEqualToConstant(80), wide,
                                v->heightAnchor().constraintEqualToConstant(10),
                                v->leadingAnchor().constraintEqualTo(root->leadingAnchor()),
                                v->topAnchor().constraintEqualTo(root->topAnchor())});
  // A second conflict, with a view that keeps its fixed frame.
  auto fixed = std::make_shared<UIView>(CGRect::make(0, 0, 30, 30));
  root->addSubview(fixed);
  auto clash = fixed->widthAnchor().constraintEqualTo(v->widthAnchor());
  clash->setActive(true);

  foundation::ScopedConsoleCapture console;
  for (int pass = 0; pass < 3; ++pass) {
    root->setNeedsLayout();
    root->layoutIfNeeded();
  }
  EXPECT_DOUBLE_EQ(v->frame().width(), 80);  // the first one holds
  EXPECT_DOUBLE_EQ(fixed->frame().width(), 30);
  const std::string prefix = "[LayoutConstraints] Unable to simultaneously satisfy constraints; breaking ";
  auto name = [](const std::shared_ptr<UIView>& view) {
    std::ostringstream os;
    os << "UIView:" << static_cast<const void*>(view.get());
    return os.str();
  };
  EXPECT_EQ(console.lines(),
            (std::vector<std::string>{
                prefix + wide->description() + " between views " + name(v),
                prefix + clash->description() + " between views " + name(fixed) + ", " + name(v)}));

  // A changed constraint that still conflicts is told again; the other is not.
  wide->setConstant(140);
  root->layoutIfNeeded();
  ASSERT_EQ(console.lines().size(), 3u);
  EXPECT_EQ(console.lines()[2], prefix + wide->description() + " between views " + name(v));
}

TEST_F(LayoutTest, HuggingAndCompressionDecideWhoStretches) {
  // [label][field] in a row 300 wide: the lower hugging priority stretches.
  auto row = constrained<UIStackView>();
  auto label = std::make_shared<UILabel>();
  label->setText("Name");  // 4 x 0.55 x 17 = 37.4 wide
  auto other = std::make_shared<UILabel>();
  other->setText("Value");  // 46.75 wide
  other->setContentHuggingPriority(UILayoutPriority{249}, Axis::horizontal);
  row->addArrangedSubview(label);
  row->addArrangedSubview(other);
  root->addSubview(row);
  NSLayoutConstraint::activate({row->leadingAnchor().constraintEqualTo(root->leadingAnchor()),
                                row->topAnchor().constraintEqualTo(root->topAnchor()),
                                row->widthAnchor().constraintEqualToConstant(300)});
  root->layoutIfNeeded();
  expectFrame(label, 0, 0, 37.4, 20.4);
  expectFrame(other, 37.4, 0, 262.6, 20.4);

  // Too narrow: the lower compression resistance gives way.
  auto narrow = row->widthAnchor().constraintEqualToConstant(60);
  NSLayoutConstraint::deactivate(std::vector(row->constraints()));
  NSLayoutConstraint::activate({row->leadingAnchor().constraintEqualTo(root->leadingAnchor()),
                                row->topAnchor().constraintEqualTo(root->topAnchor()), narrow});
  label->setContentCompressionResistancePriority(UILayoutPriority{760}, Axis::horizontal);
  root->layoutIfNeeded();
  EXPECT_NEAR(label->frame().width(), 37.4, 1e-6);
  EXPECT_NEAR(other->frame().width(), 22.6, 1e-6);
}

TEST_F(LayoutTest, MultiLineLabelWrapsOnWordsAtTheWidthItGets) {
  auto label = constrained<UILabel>();
  label->setNumberOfLines(0);
  label->setFont(UIFont::systemFont(10));  // 5.5 per character, lines 12 high
  label->setText("aaaa bbbb cccc dddd");   // 19 characters
  root->addSubview(label);
  NSLayoutConstraint::activate({label->leadingAnchor().constraintEqualTo(root->leadingAnchor()),
                                label->topAnchor().constraintEqualTo(root->topAnchor()),
                                label->widthAnchor().constraintEqualToConstant(60)});
  root->layoutIfNeeded();
  // 60 / 5.5 = 10.9 characters: "aaaa bbbb" (9) then "cccc dddd".
  EXPECT_EQ(label->renderedLines(), (std::vector<std::string>{"aaaa bbbb", "cccc dddd"}));
  EXPECT_DOUBLE_EQ(label->frame().height(), 24);

  // A word longer than the line breaks between characters; limits cut lines.
  EXPECT_EQ(layoutText("abcdefghijkl", UIFont::systemFont(10), 0, 33).lines,
            (std::vector<std::string>{"abcdef", "ghijkl"}));
  EXPECT_EQ(layoutText("one two three", UIFont::systemFont(10), 2, 20).lines.size(), 2u);
  // Text cut by the line limit ends its last line with "…" (the default
  // tail truncation); other modes cut it silently.
  const UIFont title = UIFont::systemFont(18, UIFont::Weight::bold);  // 10.44 per character
  EXPECT_EQ(layoutText("Back of Identification (MRZ)", title, 2, 160).lines,
            (std::vector<std::string>{"Back of", "Identification…"}));
  EXPECT_EQ(layoutText("Back of Identification (MRZ)", title, 2, 180).lines,
            (std::vector<std::string>{"Back of", "Identification (…"}));
  EXPECT_EQ(layoutText("Back of Identification (MRZ)", title, 2, 160, NSLineBreakMode::byWordWrapping).lines,
            (std::vector<std::string>{"Back of", "Identification"}));
  EXPECT_EQ(layoutText("Identification", title, 1, 60).lines, (std::vector<std::string>{"Iden…"}));
  EXPECT_EQ(layoutText("abc", title, 1, 5).lines, (std::vector<std::string>{"…"}));
  EXPECT_EQ(layoutText("Identification", title, 1, 60, NSLineBreakMode::byTruncatingHead).lines,
            (std::vector<std::string>{"…tion"}));
  EXPECT_EQ(layoutText("Identification", title, 1, 60, NSLineBreakMode::byTruncatingMiddle).lines,
            (std::vector<std::string>{"Id…on"}));
  EXPECT_EQ(layoutText("", UIFont::systemFont(10), 0, 20).size, (CGSize{0, 0}));
  // Multi-byte characters count once.
  EXPECT_DOUBLE_EQ(textWidth("✓ ok", UIFont::systemFont(10)), 4 * 5.5);
}

TEST_F(LayoutTest, ScrollViewContentSizeComesFromItsContent) {
  auto scroll = constrained<UIScrollView>();
  auto column = constrained<UIStackView>();
  column->setAxis(Axis::vertical);
  column->setSpacing(16);
  for (int i = 0; i < 3; ++i) {
    auto card = std::make_shared<UIView>();
    card->heightAnchor().constraintEqualToConstant(400)->setActive(true);
    column->addArrangedSubview(card);
  }
  root->addSubview(scroll);
  scroll->addSubview(column);
  NSLayoutConstraint::activate({
      scroll->topAnchor().constraintEqualTo(root->topAnchor()),
      scroll->leadingAnchor().constraintEqualTo(root->leadingAnchor()),
      scroll->trailingAnchor().constraintEqualTo(root->trailingAnchor()),
      scroll->bottomAnchor().constraintEqualTo(root->bottomAnchor()),
      column->topAnchor().constraintEqualTo(scroll->topAnchor(), 16),
      column->leadingAnchor().constraintEqualTo(scroll->leadingAnchor(), 16),
      column->trailingAnchor().constraintEqualTo(scroll->trailingAnchor(), -16),
      column->bottomAnchor().constraintEqualTo(scroll->bottomAnchor(), -16),
      column->widthAnchor().constraintEqualTo(scroll->widthAnchor(), 1, -32),
  });
  root->layoutIfNeeded();
  expectFrame(scroll, 0, 0, 390, 844);
  expectFrame(column, 16, 16, 358, 3 * 400 + 2 * 16);
  EXPECT_EQ(scroll->contentSize(), (CGSize{390, 1232 + 32}));
}

TEST_F(LayoutTest, RemovingAViewDeactivatesConstraintsThatCrossItsSubtree) {
  auto box = constrained();
  auto inner = constrained();
  root->addSubview(box);
  box->addSubview(inner);
  auto toRoot = box->topAnchor().constraintEqualTo(root->topAnchor(), 5);
  auto innerToBox = inner->topAnchor().constraintEqualTo(box->topAnchor(), 3);
  NSLayoutConstraint::activate({toRoot, innerToBox});
  box->removeFromSuperview();
  EXPECT_FALSE(toRoot->isActive());
  EXPECT_TRUE(innerToBox->isActive());
  // A constraint whose item has gone does nothing and does not crash.
  {
    auto gone = constrained();
    root->addSubview(gone);
    gone->widthAnchor().constraintEqualTo(root->widthAnchor())->setActive(true);
    gone->removeFromSuperview();
  }
  root->layoutIfNeeded();
}

}  // namespace
}  // namespace uikit::testing

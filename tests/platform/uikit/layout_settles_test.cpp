// Layout passes that end: a screen inside a navigation controller settles in
// a few passes, and a controller that keeps moving a fixed frame feeding the
// constraints does not keep the main queue busy forever.
#include <gtest/gtest.h>

#include "UIKitTestSupport.h"

namespace uikit::testing {
namespace {

// A capture-like screen: bars on the safe area, a step bar with centred
// spacing and a hidden member, a preview between them with an overlay pinned
// to it, and a fixed-frame hint placed from the preview after layout.
class StepScreen : public UIViewController {
 public:
  int layouts = 0;
  std::shared_ptr<UIView> preview = constrained();
  std::shared_ptr<UIView> overlay = constrained();
  std::shared_ptr<UIView> hint = std::make_shared<UIView>();

  void viewDidLoad() override {
    auto& root = view();
    auto top = constrained<UIStackView>();
    top->setAlignment(UIStackView::Alignment::center);
    top->setSpacing(8);
    auto back = std::make_shared<UIButton>(UIButton::ButtonType::system);
    back->setTitle("Back", UIControlState::normal);
    auto spacer = std::make_shared<UIView>();
    spacer->setContentHuggingPriority(UILayoutPriority{1}, NSLayoutConstraintAxis::horizontal);
    top->addArrangedSubview(back);
    top->addArrangedSubview(spacer);
    root->addSubview(top);

    auto steps = constrained<UIStackView>();
    steps->setAlignment(UIStackView::Alignment::center);
    steps->setDistribution(UIStackView::Distribution::equalCentering);
    steps->setSpacing(8);
    for (const char* title : {"Front", "Back", "Face"}) {
      auto step = std::make_shared<UIButton>(UIButton::ButtonType::system);
      step->setTitle(title, UIControlState::normal);
      step->setContentEdgeInsets({8, 16, 8, 16});
      steps->addArrangedSubview(step);
      auto arrow = std::make_shared<UILabel>();
      arrow->setText(">");
      steps->addArrangedSubview(arrow);
    }
    steps->arrangedSubviews().back()->setHidden(true);
    root->addSubview(steps);

    root->addSubview(preview);
    preview->addSubview(overlay);
    auto message = constrained<UIStackView>();
    message->setAxis(NSLayoutConstraintAxis::vertical);
    message->setAlignment(UIStackView::Alignment::center);
    auto text = std::make_shared<UILabel>();
    text->setNumberOfLines(0);
    text->setText("Can not connect to the camera device");
    message->addArrangedSubview(text);
    preview->addSubview(message);
    preview->addSubview(hint);

    const auto& safe = root->safeAreaLayoutGuide();
    NSLayoutConstraint::activate({
        top->topAnchor().constraintEqualTo(safe->topAnchor(), 4),
        top->leadingAnchor().constraintEqualTo(root->leadingAnchor(), 12),
        top->trailingAnchor().constraintEqualTo(root->trailingAnchor(), -12),
        steps->leadingAnchor().constraintEqualTo(root->leadingAnchor(), 16),
        steps->trailingAnchor().constraintEqualTo(root->trailingAnchor(), -16),
        steps->bottomAnchor().constraintEqualTo(safe->bottomAnchor(), -8),
        steps->heightAnchor().constraintEqualToConstant(48),
        preview->topAnchor().constraintEqualTo(top->bottomAnchor(), 8),
        preview->leadingAnchor().constraintEqualTo(root->leadingAnchor(), 8),
        preview->trailingAnchor().constraintEqualTo(root->trailingAnchor(), -8),
        preview->bottomAnchor().constraintEqualTo(steps->topAnchor(), -8),
        overlay->topAnchor().constraintEqualTo(preview->topAnchor()),
        overlay->bottomAnchor().constraintEqualTo(preview->bottomAnchor()),
        overlay->leadingAnchor().constraintEqualTo(preview->leadingAnchor()),
        overlay->trailingAnchor().constraintEqualTo(preview->trailingAnchor()),
        message->centerXAnchor().constraintEqualTo(preview->centerXAnchor()),
        message->centerYAnchor().constraintEqualTo(preview->centerYAnchor()),
    });
  }

  void viewDidLayoutSubviews() override {
    // Past any sane count, stop feeding the layout so a loop fails the test
    // instead of hanging it.
    if (++layouts > 1000) return;
    CGRect b = preview->bounds();
    hint->setFrame(CGRect::make(b.width() / 10, b.height() / 3, b.width() * 0.8, b.width() * 0.8 / 1.586));
  }
};

// Moves a fixed-frame view that other views are constrained to on every
// layout, so no layout is ever final. Stops after `limit` layouts so that a
// broken engine fails the test instead of hanging it.
class RestlessScreen : public UIViewController {
 public:
  int layouts = 0;
  int limit = 10000;
  std::shared_ptr<UIView> bar = std::make_shared<UIView>(CGRect::make(0, 100, 100, 20));
  std::shared_ptr<UIView> follower = constrained();

  void viewDidLoad() override {
    view()->addSubview(bar);
    view()->addSubview(follower);
    NSLayoutConstraint::activate({
        follower->leadingAnchor().constraintEqualTo(bar->trailingAnchor(), 8),
        follower->topAnchor().constraintEqualTo(bar->topAnchor()),
        follower->widthAnchor().constraintEqualToConstant(40),
        follower->heightAnchor().constraintEqualToConstant(20),
    });
  }

  void viewDidLayoutSubviews() override {
    if (++layouts >= limit) return;
    bar->setFrame(CGRect::make(0, 100, layouts % 2 ? 120 : 100, 20));
  }
};

class LayoutSettlesTest : public UIKitTest {
 protected:
  template <class Controller>
  std::shared_ptr<Controller> showInNavigation() {
    auto screen = std::make_shared<Controller>();
    nav = std::make_shared<UINavigationController>(screen);
    window = UIApplication::shared().connectWindowScene()->makeWindow();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    drain();
    return screen;
  }
  std::shared_ptr<UINavigationController> nav;
  std::shared_ptr<UIWindow> window;
};

TEST_F(LayoutSettlesTest, ScreenInANavigationControllerSettlesInAFewPasses) {
  auto screen = showInNavigation<StepScreen>();
  EXPECT_GE(screen->layouts, 1);
  EXPECT_LE(screen->layouts, 3);
  CGRect b = screen->preview->bounds();
  ASSERT_GT(b.width(), 0);
  expectFrame(screen->hint, b.width() / 10, b.height() / 3, b.width() * 0.8, b.width() * 0.8 / 1.586);

  // Nothing changed: another request lays out once and schedules nothing more.
  int before = screen->layouts;
  screen->view()->setNeedsLayout();
  drain();
  EXPECT_EQ(screen->layouts, before + 1);

  // A real change (the bar goes away) is followed, again in a few passes.
  nav->setNavigationBarHidden(true);
  drain();
  EXPECT_LE(screen->layouts, before + 4);
  EXPECT_NEAR(screen->preview->bounds().height(), b.height() + UINavigationController::kNavigationBarHeight,
              1e-6);
  b = screen->preview->bounds();
  expectFrame(screen->hint, b.width() / 10, b.height() / 3, b.width() * 0.8, b.width() * 0.8 / 1.586);
}

TEST_F(LayoutSettlesTest, RestlessLayoutStopsAfterABoundedNumberOfPasses) {
  auto screen = showInNavigation<RestlessScreen>();
  EXPECT_LT(screen->layouts, 100);
  // A later request from outside a pass is still honoured.
  int before = screen->layouts;
  screen->view()->setNeedsLayout();
  drain();
  EXPECT_GT(screen->layouts, before);
  EXPECT_LT(screen->layouts, before + 100);
}

}  // namespace
}  // namespace uikit::testing

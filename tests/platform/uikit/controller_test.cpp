#include <gtest/gtest.h>
#include <morvik/platform/foundation/NotificationCenter.h>

#include <string>
#include <vector>

#include "UIKitTestSupport.h"

namespace uikit::testing {
namespace {

// Records its lifecycle calls as "name.call" in a shared log.
class LoggingController : public UIViewController {
 public:
  LoggingController(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
  void viewDidLoad() override { log("viewDidLoad"); }
  void viewWillAppear(bool) override { log("viewWillAppear"); }
  void viewDidAppear(bool) override { log("viewDidAppear"); }
  void viewWillDisappear(bool) override { log("viewWillDisappear"); }
  void viewDidDisappear(bool) override { log("viewDidDisappear"); }

 private:
  void log(const char* what) { log_->push_back(name_ + "." + what); }
  std::string name_;
  std::vector<std::string>* log_;
};

using Log = std::vector<std::string>;

class ControllerLifecycleTest : public UIKitTest {
 protected:
  std::shared_ptr<LoggingController> make(
      const std::string& name, UIModalPresentationStyle style = UIModalPresentationStyle::fullScreen) {
    auto c = std::make_shared<LoggingController>(name, &log);
    c->setModalPresentationStyle(style);
    return c;
  }
  // A window showing `root`, with its appearance settled and the log cleared.
  std::shared_ptr<UIWindow> show(const std::shared_ptr<UIViewController>& root) {
    auto scene = UIApplication::shared().connectWindowScene();
    auto window = scene->makeWindow();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    drain();
    log.clear();
    return window;
  }
  Log log;
};

TEST_F(ControllerLifecycleTest, ViewLoadsOnceOnFirstAccess) {
  auto a = make("A");
  EXPECT_FALSE(a->isViewLoaded());
  auto& v = a->view();
  EXPECT_TRUE(a->isViewLoaded());
  EXPECT_EQ(a->view(), v);
  EXPECT_EQ(v->owningViewController(), a);
  EXPECT_EQ(log, (Log{"A.viewDidLoad"}));
}

TEST_F(ControllerLifecycleTest, PresentAndDismissCallInThePlatformsOrderAfterTheTransition) {
  auto a = make("A");
  auto window = show(a);
  auto b = make("B");
  bool presented = false;
  a->present(b, true, [&] { presented = true; });
  EXPECT_EQ(a->presentedViewController(), b);
  EXPECT_EQ(b->presentingViewController(), a);
  EXPECT_TRUE(b->isBeingPresented());
  EXPECT_EQ(log, (Log{"B.viewDidLoad", "A.viewWillDisappear", "B.viewWillAppear"}));
  drain();
  EXPECT_FALSE(presented);  // the transition takes 0.3 s on the dispatch clock
  dispatch::clock::advance(kTransitionDuration);
  drain();
  EXPECT_TRUE(presented);
  EXPECT_FALSE(b->isBeingPresented());
  EXPECT_EQ(log, (Log{"B.viewDidLoad", "A.viewWillDisappear", "B.viewWillAppear", "B.viewDidAppear",
                      "A.viewDidDisappear"}));
  // The covered presenter left the window; the presented view fills it.
  EXPECT_EQ(window->subviews().size(), 1u);
  EXPECT_EQ(window->subviews()[0], b->view());

  log.clear();
  bool dismissed = false;
  b->dismiss(false, [&] { dismissed = true; });
  EXPECT_TRUE(b->isBeingDismissed());
  EXPECT_EQ(log, (Log{"B.viewWillDisappear", "A.viewWillAppear"}));
  drain();
  EXPECT_TRUE(dismissed);
  EXPECT_EQ(log, (Log{"B.viewWillDisappear", "A.viewWillAppear", "A.viewDidAppear", "B.viewDidDisappear"}));
  EXPECT_EQ(a->presentedViewController(), nullptr);
  EXPECT_EQ(b->presentingViewController(), nullptr);
  EXPECT_EQ(window->subviews().size(), 1u);
  EXPECT_EQ(window->subviews()[0], a->view());
}

TEST_F(ControllerLifecycleTest, SheetsAndAlertsLeaveThePresenterOnScreen) {
  auto a = make("A");
  show(a);
  auto sheet = make("S", UIModalPresentationStyle::automatic);
  a->present(sheet, false);
  settle();
  EXPECT_EQ(log, (Log{"S.viewDidLoad", "S.viewWillAppear", "S.viewDidAppear"}));
  sheet->dismiss(false);
  settle();

  log.clear();
  bool handled = false;
  auto alert =
      std::make_shared<UIAlertController>("Notice", "Something failed", UIAlertController::Style::alert);
  alert->addAction(UIAlertAction{"Ok", UIAlertAction::Style::default_, [&](const UIAlertAction& action) {
                                   EXPECT_EQ(action.title, "Ok");
                                   // The alert is gone by the time the handler runs.
                                   EXPECT_EQ(a->presentedViewController(), nullptr);
                                   handled = true;
                                 }});
  EXPECT_FALSE(alert->triggerAction("Ok"));  // not presented yet
  a->present(alert, true);
  EXPECT_FALSE(alert->triggerAction("Nope"));
  EXPECT_TRUE(alert->triggerAction("Ok"));
  EXPECT_FALSE(alert->triggerAction("Ok"));  // one tap only
  EXPECT_FALSE(handled);
  settle();
  EXPECT_TRUE(handled);
  EXPECT_TRUE(log.empty()) << log.front();  // A never disappeared
  EXPECT_NE(alert->view()->recursiveDescription().find("text = 'Something failed'"), std::string::npos);
}

TEST_F(ControllerLifecycleTest, DismissFromThePresenterRemovesTheWholeChain) {
  auto a = make("A");
  auto window = show(a);
  std::weak_ptr<UIViewController> weakB, weakC;
  {
    auto b = make("B");
    auto c = make("C");
    weakB = b;
    weakC = c;
    a->present(b, false);
    settle();
    b->present(c, false);
    settle();
    EXPECT_EQ(c->presentingViewController(), b);
    // A second presentation from a busy presenter is refused.
    ::testing::internal::CaptureStderr();
    b->present(make("D"), false, [] { ADD_FAILURE() << "refused presentation completed"; });
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("already presenting"), std::string::npos);
  }
  log.clear();
  int completions = 0;
  a->dismiss(true, [&] { ++completions; });
  a->dismiss(true, [&] { ++completions; });  // already on its way: ignored
  EXPECT_EQ(log, (Log{"C.viewWillDisappear", "A.viewWillAppear"}));
  settle();
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(log, (Log{"C.viewWillDisappear", "A.viewWillAppear", "A.viewDidAppear", "C.viewDidDisappear"}));
  EXPECT_EQ(a->presentedViewController(), nullptr);
  EXPECT_EQ(window->subviews().size(), 1u);
  // Nothing keeps the dismissed controllers alive.
  EXPECT_TRUE(weakB.expired());
  EXPECT_TRUE(weakC.expired());
}

// Close tapped before the presentation has finished: the presenter is back
// in the window once both transitions are over.
TEST_F(ControllerLifecycleTest, DismissDuringThePresentationLeavesThePresenterShown) {
  auto a = make("A");
  auto window = show(a);
  auto b = make("B");
  b->setModalPresentationStyle(UIModalPresentationStyle::fullScreen);
  a->present(b, true);
  a->dismiss(true);
  settle();
  EXPECT_EQ(a->presentedViewController(), nullptr);
  EXPECT_EQ(a->view()->window(), window);
  EXPECT_EQ(b->view()->window(), nullptr);
}

TEST_F(ControllerLifecycleTest, AChildDismissesItsPresentedContainer) {
  auto host = make("H");
  show(host);
  std::weak_ptr<UIViewController> weakNav, weakTop;
  {
    auto root = make("R");
    auto nav = std::make_shared<UINavigationController>(root);
    nav->setModalPresentationStyle(UIModalPresentationStyle::fullScreen);
    weakNav = nav;
    weakTop = root;
    root->navigationItem().leftBarButtonItem = std::make_shared<UIBarButtonItem>(
        UIBarButtonItem::SystemItem::close, nullptr, [w = std::weak_ptr<UIViewController>(root)] {
          if (auto r = w.lock()) r->dismiss(true);
        });
    host->present(nav, true);
    settle();
    EXPECT_EQ(root->navigationController(), nav);
    EXPECT_EQ(root->presentingViewController(), host);  // through its container
    EXPECT_EQ(host->presentedViewController(), nav);
  }
  log.clear();
  auto top = weakTop.lock();
  EXPECT_TRUE(top->navigationItem().leftBarButtonItem->sendAction());
  top.reset();
  settle();
  EXPECT_EQ(log, (Log{"R.viewWillDisappear", "H.viewWillAppear", "H.viewDidAppear", "R.viewDidDisappear"}));
  EXPECT_TRUE(weakNav.expired());
  EXPECT_TRUE(weakTop.expired());
}

TEST_F(ControllerLifecycleTest, NavigationPushAndPopOrder) {
  auto a = make("A");
  auto nav = std::make_shared<UINavigationController>(a);
  show(nav);
  auto b = make("B");
  auto c = make("C");
  nav->pushViewController(b, true);
  EXPECT_EQ(nav->topViewController(), b);
  EXPECT_EQ(b->navigationController(), nav);
  EXPECT_EQ(log, (Log{"B.viewDidLoad", "A.viewWillDisappear", "B.viewWillAppear"}));
  settle();
  EXPECT_EQ(log, (Log{"B.viewDidLoad", "A.viewWillDisappear", "B.viewWillAppear", "A.viewDidDisappear",
                      "B.viewDidAppear"}));
  log.clear();
  // A push while the previous transition runs completes that one first.
  nav->pushViewController(c, false);
  nav->popViewController(true);
  EXPECT_EQ(log, (Log{"C.viewDidLoad", "B.viewWillDisappear", "C.viewWillAppear", "B.viewDidDisappear",
                      "C.viewDidAppear", "C.viewWillDisappear", "B.viewWillAppear"}));
  settle();
  EXPECT_EQ(nav->viewControllers(), (std::vector<std::shared_ptr<UIViewController>>{a, b}));
  EXPECT_EQ(c->parent(), nullptr);
  EXPECT_EQ(nav->view()->subviews().size(), 1u);
  EXPECT_EQ(nav->view()->subviews()[0], b->view());

  log.clear();
  nav->pushViewController(c, false);
  settle();
  log.clear();
  auto popped = nav->popToRootViewController(true);
  EXPECT_EQ(popped, (std::vector<std::shared_ptr<UIViewController>>{b, c}));
  settle();
  // Only the visible one disappears; the one below it was not on screen.
  EXPECT_EQ(log, (Log{"C.viewWillDisappear", "A.viewWillAppear", "C.viewDidDisappear", "A.viewDidAppear"}));
  EXPECT_EQ(nav->popViewController(true), nullptr);  // the root stays
  ::testing::internal::CaptureStderr();
  nav->pushViewController(a, false);  // already in the stack
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("not supported"), std::string::npos);
  EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(ControllerLifecycleTest, TopViewControllerWalkThroughPresentedNavigationAndTabs) {
  auto first = make("T1");
  auto second = make("T2");
  auto tabs = std::make_shared<UITabBarController>();
  tabs->setViewControllers({first, second});
  auto nav = std::make_shared<UINavigationController>(tabs);
  auto root = make("Root");
  auto window = show(root);
  root->present(nav, false);
  settle();
  EXPECT_EQ(UIApplication::shared().keyWindow(), window);
  EXPECT_TRUE(window->isKeyWindow());
  EXPECT_EQ(nav->visibleViewController(), tabs);
  EXPECT_EQ(tabs->selectedViewController(), first);
  log.clear();
  tabs->setSelectedIndex(1);
  EXPECT_EQ(log, (Log{"T2.viewDidLoad", "T1.viewWillDisappear", "T2.viewWillAppear", "T1.viewDidDisappear",
                      "T2.viewDidAppear"}));
  tabs->setSelectedIndex(7);  // ignored
  EXPECT_EQ(tabs->selectedViewController(), second);
  EXPECT_EQ(second->tabBarController(), tabs);
}

TEST_F(ControllerLifecycleTest, OrientationChangesPostANotificationAndTurnTheScreen) {
  auto center = foundation::NotificationCenter::defaultCenter();
  int posts = 0;
  CGRect seen;
  int observer = 0;
  center->addObserver(&observer, std::string(UIDeviceOrientationDidChangeNotification), nullptr,
                      [&](const foundation::Notification&) {
                        ++posts;
                        seen = UIScreen::main().bounds();
                      });
  auto& device = UIDevice::current();
  auto window = UIApplication::shared().connectWindowScene()->makeWindow();
  device.setOrientation(UIDeviceOrientation::landscapeLeft);
  EXPECT_EQ(posts, 0);  // not generating yet
  device.setOrientation(UIDeviceOrientation::portrait);
  device.beginGeneratingDeviceOrientationNotifications();
  device.setOrientation(UIDeviceOrientation::landscapeRight);
  EXPECT_EQ(posts, 1);
  EXPECT_EQ(seen, CGRect::make(0, 0, 844, 390));
  EXPECT_EQ(window->bounds(), CGRect::make(0, 0, 844, 390));
  device.setOrientation(UIDeviceOrientation::landscapeRight);  // no change, no post
  device.setOrientation(UIDeviceOrientation::portrait);
  EXPECT_EQ(posts, 2);
  EXPECT_EQ(UIScreen::main().bounds(), CGRect::make(0, 0, 390, 844));
  device.endGeneratingDeviceOrientationNotifications();
  center->removeObserver(&observer);
}

}  // namespace
}  // namespace uikit::testing

// UINavigationController: a stack of controllers; the top one's view fills
// the navigation controller's view. Main thread only.
//
// The navigation bar is not drawn; while it is shown it covers 44 points
// under the top safe-area inset, which the content's safe area excludes.
// A transition started while another is still running finishes the earlier
// one at once (its did-calls run first), so appearance calls stay paired.
// Pushing a controller that is already in a stack or has a parent is refused
// with a message on stderr. The root given to the constructor becomes a child
// (parent(), navigationController()) when this controller's view loads or
// its stack first changes.
#pragma once

#include <memory>
#include <vector>

#include <morvik/platform/uikit/UIViewController.h>

namespace uikit {

class UINavigationController : public UIViewController {
 public:
  static constexpr CGFloat kNavigationBarHeight = 44;

  UINavigationController();
  explicit UINavigationController(const std::shared_ptr<UIViewController>& rootViewController);
  ~UINavigationController() override;
  std::string className() const override { return "UINavigationController"; }

  const std::vector<std::shared_ptr<UIViewController>>& viewControllers() const { return stack_; }
  void setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& viewControllers,
                          bool animated = false);
  std::shared_ptr<UIViewController> topViewController() const;
  // The presented controller, if any, else the top one.
  std::shared_ptr<UIViewController> visibleViewController() const;

  void pushViewController(const std::shared_ptr<UIViewController>& viewController, bool animated);
  // The popped controller; none when only the root is left.
  std::shared_ptr<UIViewController> popViewController(bool animated);
  // The popped controllers; none when the target is not in the stack.
  std::vector<std::shared_ptr<UIViewController>> popToViewController(
      const std::shared_ptr<UIViewController>& viewController, bool animated);
  std::vector<std::shared_ptr<UIViewController>> popToRootViewController(bool animated);

  bool isNavigationBarHidden() const { return barHidden_; }
  void setNavigationBarHidden(bool hidden, bool animated = false);

  // The bar's button a press is on, drawn dimmed until the press lifts, as
  // the bar's buttons show a press. The leading one is the left item or,
  // without one, the back button.
  enum class BarButton { none, leading, trailing };
  BarButton highlightedBarButton() const { return highlightedBar_; }
  void setHighlightedBarButton(BarButton button);

  void loadView() override;

 protected:
  std::vector<std::shared_ptr<UIViewController>> childrenForAppearance() const override;

 private:
  void transition(const std::shared_ptr<UIViewController>& from, const std::shared_ptr<UIViewController>& to,
                  std::vector<std::shared_ptr<UIViewController>> removed, bool animated);
  void installView(const std::shared_ptr<UIViewController>& controller);
  void finishPendingTransition();
  void adoptStack();
  std::vector<std::shared_ptr<UIViewController>> stack_;
  bool barHidden_ = false;
  BarButton highlightedBar_ = BarButton::none;
  std::function<void()> pending_;
  std::uint64_t pendingId_ = 0;
};

}  // namespace uikit

// UITabBarController: shows one of its controllers at a time. Switching is
// immediate (will- and did-calls at once). Main thread only.
#pragma once

#include <morvik/platform/uikit/UIViewController.h>

#include <memory>
#include <vector>

namespace uikit {

class UITabBarController : public UIViewController {
 public:
  UITabBarController() = default;
  std::string className() const override { return "UITabBarController"; }

  const std::vector<std::shared_ptr<UIViewController>>& viewControllers() const { return tabs_; }
  void setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& viewControllers,
                          bool animated = false);
  std::shared_ptr<UIViewController> selectedViewController() const;
  void setSelectedViewController(const std::shared_ptr<UIViewController>& controller);
  // Out-of-range indices are ignored.
  std::size_t selectedIndex() const { return selected_; }
  void setSelectedIndex(std::size_t index);

  void loadView() override;

 protected:
  std::vector<std::shared_ptr<UIViewController>> childrenForAppearance() const override;

 private:
  void select(std::size_t index);
  std::vector<std::shared_ptr<UIViewController>> tabs_;
  std::size_t selected_ = 0;
};

}  // namespace uikit

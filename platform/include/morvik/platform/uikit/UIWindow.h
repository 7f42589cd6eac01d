// UIWindow: the root of a view tree shown on the screen. Main thread only.
//
// A window starts hidden, with the screen's bounds and safe-area insets of
// 47 (top) and 34 (bottom), which a host or test may change. Its root
// controller's view fills it. makeKeyAndVisible shows it, makes it the
// application's key window and brings its root controller on screen
// (viewWillAppear at once, viewDidAppear on the main queue's next turn).
#pragma once

#include <memory>

#include <morvik/platform/uikit/UIView.h>
#include <morvik/platform/uikit/UIViewController.h>

namespace uikit {

class UIWindowScene;

class UIWindow : public UIView {
 public:
  static constexpr UIEdgeInsets kDefaultSafeAreaInsets{47, 0, 34, 0};

  UIWindow();
  explicit UIWindow(const CGRect& frame);
  ~UIWindow() override;
  std::string className() const override { return "UIWindow"; }

  std::shared_ptr<UIWindowScene> windowScene() const { return scene_.lock(); }
  // Moves the window to the scene's window list (null: out of any scene).
  void setWindowScene(const std::shared_ptr<UIWindowScene>& scene);

  const std::shared_ptr<UIViewController>& rootViewController() const { return root_; }
  void setRootViewController(std::shared_ptr<UIViewController> controller);

  bool isKeyWindow() const;
  void makeKey();
  void makeKeyAndVisible();

  UIEdgeInsets safeAreaInsets() const override { return safeAreaInsets_; }
  void setSafeAreaInsets(const UIEdgeInsets& insets);

  void layoutSubviews() override;

 private:
  friend class UIApplication;
  std::weak_ptr<UIWindowScene> scene_;
  std::shared_ptr<UIViewController> root_;
  UIEdgeInsets safeAreaInsets_ = kDefaultSafeAreaInsets;
  bool visible_ = false;
};

}  // namespace uikit

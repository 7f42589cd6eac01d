// UIApplication, UIScene and UIWindowScene. Main thread only.
//
// A host or test connects scenes and makes windows in them:
//   auto scene = uikit::UIApplication::shared().connectWindowScene();
//   auto window = scene->makeWindow();
//   window->setRootViewController(controller);
//   window->makeKeyAndVisible();
// The application holds connected scenes, and a scene its windows, until
// the scene is disconnected.
#pragma once

#include <morvik/platform/uikit/UIWindow.h>

#include <memory>
#include <vector>

namespace uikit {

class UIScene : public std::enable_shared_from_this<UIScene> {
 public:
  enum class ActivationState { unattached, foregroundActive, foregroundInactive, background };
  virtual ~UIScene() = default;
  ActivationState activationState() const { return state_; }
  void setActivationState(ActivationState state) { state_ = state; }

 private:
  ActivationState state_ = ActivationState::foregroundActive;
};

class UIWindowScene : public UIScene {
 public:
  // Windows in the order they joined.
  const std::vector<std::shared_ptr<UIWindow>>& windows() const { return windows_; }
  // A new window with the screen's bounds, already in this scene.
  std::shared_ptr<UIWindow> makeWindow();
  // The scene's key window, if it has it.
  std::shared_ptr<UIWindow> keyWindow() const;

 private:
  friend class UIWindow;
  friend class UIApplication;
  std::vector<std::shared_ptr<UIWindow>> windows_;
};

class UIApplication {
 public:
  static UIApplication& shared();

  // In the order connected.
  const std::vector<std::shared_ptr<UIScene>>& connectedScenes() const { return scenes_; }
  std::shared_ptr<UIWindowScene> connectWindowScene();
  void connect(const std::shared_ptr<UIScene>& scene);
  // Drops the scene and, with it, its windows (a key window among them stops
  // being key).
  void disconnect(const std::shared_ptr<UIScene>& scene);

  // The key window of the connected scenes, if any.
  std::shared_ptr<UIWindow> keyWindow() const;

  bool isNetworkActivityIndicatorVisible() const { return networkActivityIndicatorVisible_; }
  void setNetworkActivityIndicatorVisible(bool visible) { networkActivityIndicatorVisible_ = visible; }

 private:
  friend class UIWindow;
  UIApplication() = default;
  std::vector<std::shared_ptr<UIScene>> scenes_;
  std::weak_ptr<UIWindow> keyWindow_;
  bool networkActivityIndicatorVisible_ = false;
};

}  // namespace uikit

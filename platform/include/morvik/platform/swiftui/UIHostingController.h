// UIHostingController: a UIKit controller that shows a view tree.
//
// Its view (a HostingView) holds the UIKit views the tree renders to, laid
// out by constraints: content that takes all the room it is offered fills
// the safe area (the whole view with ignoresSafeArea), other content sits
// in the middle of it. The tree is first rendered when the view loads;
// after that, a change to a State, a Binding's target or an ObservedObject
// the tree reads (or a new rootView) renders it again on the main queue's
// next turn, once however many changes came in. Full-screen covers are
// presented from this controller (fullScreen, animated) and dismissed by it.
//
// Ownership: create with std::make_shared. Main thread only.
#pragma once

#include <array>
#include <memory>

#include <morvik/platform/swiftui/Graph.h>
#include <morvik/platform/swiftui/View.h>
#include <morvik/platform/uikit/UIViewController.h>

namespace swiftui {

class HostingView : public uikit::UIView {
 public:
  std::string className() const override { return "HostingView"; }
};

class UIHostingControllerBase : public uikit::UIViewController {
 public:
  explicit UIHostingControllerBase(AnyView rootView);
  ~UIHostingControllerBase() override;
  std::string className() const override { return "UIHostingController"; }

  const AnyView& anyRootView() const { return rootView_; }
  void setAnyRootView(AnyView rootView);

  void loadView() override;
  void viewDidLoad() override;
  void viewDidDisappear(bool animated) override;

  // Renders now if a change is waiting (hosts and tests normally let the
  // main queue do it).
  void updateIfNeeded();
  // How many times the tree has been rendered.
  std::size_t renderCount() const { return renders_; }

  // Called on the main queue when this controller, presented as a cover,
  // has been dismissed (by whatever code).
  std::function<void()> onDismissedAsCover;

 private:
  void render();
  void place(const detail::Rendered& rendered);
  void scheduleUpdate();
  AnyView rootView_;
  std::shared_ptr<detail::Node> root_;
  std::shared_ptr<uikit::UIView> content_;
  std::vector<std::shared_ptr<uikit::NSLayoutConstraint>> contentConstraints_;
  std::array<bool, 3> placedFlags_{};  // the content's flexible width, height, ignoresSafeArea
  bool needsUpdate_ = false;
  bool scheduled_ = false;
  bool rendering_ = false;
  std::size_t renders_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The typed controller: rootView() is the view it was given.
template <class Content>
class UIHostingController : public UIHostingControllerBase {
 public:
  explicit UIHostingController(Content rootView) : UIHostingControllerBase(AnyView(std::move(rootView))) {}
  const Content& rootView() const { return *anyRootView().template as<Content>(); }
  void setRootView(Content rootView) { setAnyRootView(AnyView(std::move(rootView))); }
};

template <>
class UIHostingController<AnyView> : public UIHostingControllerBase {
 public:
  explicit UIHostingController(AnyView rootView) : UIHostingControllerBase(std::move(rootView)) {}
  const AnyView& rootView() const { return anyRootView(); }
  void setRootView(AnyView rootView) { setAnyRootView(std::move(rootView)); }
};

}  // namespace swiftui

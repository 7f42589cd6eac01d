// UIViewController: owns a view and gets the platform's lifecycle calls.
// Main thread only (debug builds check).
//
// Ownership: a controller owns its view and its children; it holds its parent
// and its presenting controller weakly and the controller it presented
// strongly, until the dismissal completes. Create controllers with
// std::make_shared.
//
// Lifecycle: view() loads the view on first access (loadView, then
// viewDidLoad, once). Appearance calls come in the platform's order:
//   present / dismiss (modal):  outgoing viewWillDisappear, incoming
//     viewWillAppear, ..., incoming viewDidAppear, outgoing viewDidDisappear;
//   push / pop (navigation):    outgoing viewWillDisappear, incoming
//     viewWillAppear, ..., outgoing viewDidDisappear, incoming viewDidAppear.
// The state changes (presentedViewController, the navigation stack) happen
// at the call; the did-calls and the completion run on the main queue after
// the transition: kTransitionDuration (0.3 s) of the dispatch clock when
// animated, the main queue's next turn otherwise. A presenter covered by a
// fullScreen presentation disappears; one under a sheet, an alert or an
// overFullScreen presentation does not.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <morvik/platform/uikit/UIBarButtonItem.h>
#include <morvik/platform/uikit/UIView.h>

namespace uikit {

class UINavigationController;
class UITabBarController;

enum class UIModalPresentationStyle {
  fullScreen,
  pageSheet,
  formSheet,
  currentContext,
  custom,
  overFullScreen,
  overCurrentContext,
  popover,
  none,
  automatic
};

inline constexpr double kTransitionDuration = 0.3;

class UIViewController : public std::enable_shared_from_this<UIViewController> {
 public:
  UIViewController();
  virtual ~UIViewController();
  UIViewController(const UIViewController&) = delete;
  UIViewController& operator=(const UIViewController&) = delete;

  virtual std::string className() const { return "UIViewController"; }

  // --- View ---
  const std::shared_ptr<UIView>& view();
  std::shared_ptr<UIView> viewIfLoaded() const { return view_; }
  bool isViewLoaded() const { return view_ != nullptr; }
  void loadViewIfNeeded();
  // Makes the view (a plain view the size of the screen); overrides call
  // setView with their own.
  virtual void loadView();
  void setView(std::shared_ptr<UIView> view);

  virtual void viewDidLoad() {}
  virtual void viewWillAppear(bool animated) { (void)animated; }
  virtual void viewDidAppear(bool animated) { (void)animated; }
  virtual void viewWillDisappear(bool animated) { (void)animated; }
  virtual void viewDidDisappear(bool animated) { (void)animated; }
  virtual void viewWillLayoutSubviews() {}
  virtual void viewDidLayoutSubviews() {}

  // --- Identity ---
  const std::optional<std::string>& title() const { return title_; }
  void setTitle(std::optional<std::string> title);
  UINavigationItem& navigationItem() { return navigationItem_; }
  const UINavigationItem& navigationItem() const { return navigationItem_; }

  // --- Containment ---
  std::shared_ptr<UIViewController> parent() const { return parent_.lock(); }
  const std::vector<std::shared_ptr<UIViewController>>& children() const { return children_; }
  void addChild(const std::shared_ptr<UIViewController>& child);
  void removeFromParent();
  virtual void willMove(UIViewController* toParent) { (void)toParent; }
  virtual void didMove(UIViewController* toParent) { (void)toParent; }
  // The nearest navigation (tab bar) controller among this controller's parents.
  std::shared_ptr<UINavigationController> navigationController() const;
  std::shared_ptr<UITabBarController> tabBarController() const;

  // --- Presentation ---
  // Presentations are made by the outermost parent of a controller (a
  // child's present and dismiss act for its container). Presenting while
  // already presenting, or a controller that is presented or has a parent,
  // is refused with a message on stderr; the completion is not called.
  void present(const std::shared_ptr<UIViewController>& viewController, bool animated,
               std::function<void()> completion = {});
  // Dismisses what this controller presented, with everything that presented
  // in turn; a controller that presented nothing dismisses itself (asks its
  // presenter). Nothing to dismiss, or a dismissal already running: nothing
  // happens and the completion is not called.
  void dismiss(bool animated, std::function<void()> completion = {});
  std::shared_ptr<UIViewController> presentedViewController() const;
  std::shared_ptr<UIViewController> presentingViewController() const;
  UIModalPresentationStyle modalPresentationStyle() const { return modalPresentationStyle_; }
  void setModalPresentationStyle(UIModalPresentationStyle style) { modalPresentationStyle_ = style; }
  bool isBeingPresented() const { return beingPresented_; }
  bool isBeingDismissed() const { return beingDismissed_; }

  // Appearance calls for containers and windows: will-calls now (skipped
  // when already in that state), did-calls at endAppearanceTransition; both
  // forwarded to the children whose appearance follows this controller.
  void beginAppearanceTransition(bool isAppearing, bool animated);
  void endAppearanceTransition();

  // Process-wide additions to every controller, installed once by a host or
  // library (the platform attaches such methods to the class at run time).
  // The base implementations of dismissKeyboard and onBackClicked run them
  // and do nothing when none is installed; a subclass that overrides either
  // and calls the base runs the installed one.
  struct ClassHooks {
    std::function<void(UIViewController&)> dismissKeyboard;
    std::function<void(UIViewController&)> onBackClicked;
  };
  static void setClassHooks(ClassHooks hooks);
  virtual void dismissKeyboard();
  virtual void onBackClicked();

  // True between viewWillAppear and viewWillDisappear.
  bool isVisible() const {
    return appearance_ == Appearance::appearing || appearance_ == Appearance::appeared;
  }

 protected:
  enum class Appearance { disappeared, appearing, appeared, disappearing };
  // The children whose appearance follows this controller's (all children by
  // default; a navigation controller's top, a tab bar controller's selected).
  virtual std::vector<std::shared_ptr<UIViewController>> childrenForAppearance() const { return children_; }
  Appearance appearance() const { return appearance_; }
  // Runs `block` on the main queue after a transition (see above).
  static void afterTransition(bool animated, std::function<void()> block);
  void checkThread(const char* what) const;
  // Removes a child without calling its didMove (containers call it after
  // their transition).
  void detachChild(const std::shared_ptr<UIViewController>& child);
  // Resolves automatic to the style this controller is shown with.
  virtual UIModalPresentationStyle resolvedPresentationStyle() const;

 private:
  friend class UIWindow;
  UIViewController* presentationRoot();
  std::shared_ptr<UIView> view_;
  bool loadingView_ = false;
  std::optional<std::string> title_;
  UINavigationItem navigationItem_;
  std::weak_ptr<UIViewController> parent_;
  std::vector<std::shared_ptr<UIViewController>> children_;
  std::shared_ptr<UIViewController> presented_;
  std::weak_ptr<UIViewController> presenting_;
  UIModalPresentationStyle modalPresentationStyle_ = UIModalPresentationStyle::automatic;
  bool beingPresented_ = false;
  bool beingDismissed_ = false;
  bool coveredPresenter_ = false;  // this presentation hid its presenter's view
  Appearance appearance_ = Appearance::disappeared;
  bool appearanceAnimated_ = false;
};

}  // namespace uikit

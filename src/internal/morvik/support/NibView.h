// NibView: a view whose content comes from an interface file named after
// its class. Internal; reachable by interface files as "NibView".
//
// The content is loaded from "<class name>.nib" (the class name without any
// module prefix, cut after its last ".") in the bundle its class was
// registered with (ClassRegistry), else the bundle holding the class's code.
// The file's first top-level object becomes `view`, fills the NibView and
// is pinned to its four edges. A missing or malformed file, or a first
// object that is not a view, is reported as one console line starting
// "NibView:" and leaves `view` empty; the NibView itself stays usable.
// Main thread only.
#pragma once

#include <memory>
#include <string>

#include <morvik/platform/uikit/UIView.h>

namespace morvik {

class NibView : public uikit::UIView {
 public:
  // init(frame:): the view with its content loaded. Subclasses are made
  // the same way: NibView::make<MyCard>(frame).
  template <class T = NibView>
  static std::shared_ptr<T> make(const uikit::CGRect& frame) {
    auto view = std::make_shared<T>(frame);
    view->setUp();
    return view;
  }

  // Only UIView's initialiser: the content is loaded by make().
  explicit NibView(const uikit::CGRect& frame = {});
  std::string className() const override { return "NibView"; }

  virtual std::shared_ptr<uikit::UIView> view() const { return view_; }
  virtual void setView(std::shared_ptr<uikit::UIView> view) { view_ = std::move(view); }

  // The interface file's name for a runtime class name.
  static std::string nibName(const std::string& className);

 protected:
  // Clear background, content loaded and pinned (see above).
  void setUp();

 private:
  std::shared_ptr<uikit::UIView> view_;
};

}  // namespace morvik

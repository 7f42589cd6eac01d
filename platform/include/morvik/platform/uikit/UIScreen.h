// UIScreen: the one screen. Main thread only.
#pragma once

#include <morvik/platform/uikit/UIKitTypes.h>

namespace uikit {

class UIScreen {
 public:
  // 390 x 844 points, portrait, scale 3, until a host or test changes it.
  static UIScreen& main();
  CGRect bounds() const { return bounds_; }
  // Windows that filled the old bounds are resized to the new ones.
  void setBounds(const CGRect& bounds);
  CGFloat scale() const { return 3; }

 private:
  UIScreen() = default;
  CGRect bounds_{{0, 0}, {390, 844}};
};

}  // namespace uikit

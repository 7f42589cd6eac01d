// UIScrollView: a view whose bounds origin is the content offset. Main
// thread only.
//
// Constraints between a scroll view's edges and views inside it refer to the
// scrollable content: they decide contentSize at layout. Width and height
// anchors, and constraints with views outside, refer to the frame.
#pragma once

#include <morvik/platform/uikit/UIView.h>

namespace uikit {

class UIScrollView : public UIView {
 public:
  explicit UIScrollView(const CGRect& frame = {});
  std::string className() const override { return "UIScrollView"; }

  CGSize contentSize() const { return contentSize_; }
  void setContentSize(const CGSize& size);
  UIEdgeInsets contentInset() const { return contentInset_; }
  void setContentInset(const UIEdgeInsets& inset);
  CGPoint contentOffset() const { return bounds().origin; }
  // Not clamped: the platform lets code scroll anywhere.
  void setContentOffset(const CGPoint& offset, bool animated = false);
  bool isScrollEnabled() const { return scrollEnabled_; }
  void setScrollEnabled(bool enabled);

 protected:
  std::string descriptionFields() const override;

 private:
  CGSize contentSize_;
  UIEdgeInsets contentInset_;
  bool scrollEnabled_ = true;
};

}  // namespace uikit

#include "morvik/platform/uikit/UIScrollView.h"

#include "uikit/LayoutEngine.h"

namespace uikit {

UIScrollView::UIScrollView(const CGRect& frame) : UIView(frame) { setClipsToBounds(true); }

void UIScrollView::setContentSize(const CGSize& size) {
  checkThread("UIScrollView::setContentSize");
  contentSize_ = size;
}

void UIScrollView::setContentInset(const UIEdgeInsets& inset) {
  checkThread("UIScrollView::setContentInset");
  contentInset_ = inset;
}

void UIScrollView::setContentOffset(const CGPoint& offset, bool animated) {
  checkThread("UIScrollView::setContentOffset");
  (void)animated;
  CGRect b = bounds();
  b.origin = offset;
  setBounds(b);
}

void UIScrollView::setScrollEnabled(bool enabled) {
  checkThread("UIScrollView::setScrollEnabled");
  scrollEnabled_ = enabled;
}

std::string UIScrollView::descriptionFields() const {
  return "; contentSize = {" + formatCoordinate(contentSize_.width) + ", " +
         formatCoordinate(contentSize_.height) + "}";
}

}  // namespace uikit

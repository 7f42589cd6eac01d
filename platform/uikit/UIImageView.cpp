#include "morvik/platform/uikit/UIImageView.h"

#include "uikit/LayoutEngine.h"

namespace uikit {

UIImageView::UIImageView(std::shared_ptr<UIImage> image) : UIView(CGRect{}), image_(std::move(image)) {
  setUserInteractionEnabled(false);
  if (image_) setFrame({{0, 0}, image_->size()});
}

UIImageView::UIImageView(const CGRect& frame) : UIView(frame) { setUserInteractionEnabled(false); }

void UIImageView::setImage(std::shared_ptr<UIImage> image) {
  checkThread("UIImageView::setImage");
  bool sizeChanged = (image ? image->size() : CGSize{-1, -1}) != (image_ ? image_->size() : CGSize{-1, -1});
  image_ = std::move(image);
  if (sizeChanged) invalidateIntrinsicContentSize();
}

CGSize UIImageView::intrinsicContentSize() const {
  if (!image_) return {UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric};
  return image_->size();
}

CGSize UIImageView::sizeThatFits(const CGSize& size) const {
  if (!image_) return UIView::sizeThatFits(size);
  return image_->size();
}

std::string UIImageView::descriptionFields() const {
  if (!image_) return {};
  if (image_->isSymbolImage()) return "; image = '" + image_->symbolName() + "'";
  CGSize s = image_->size();
  return "; image = " + formatCoordinate(s.width) + "x" + formatCoordinate(s.height);
}

}  // namespace uikit

// UIImageView: shows an image; its intrinsic size is the image's size in
// points (none without an image). Main thread only.
#pragma once

#include <memory>

#include <morvik/platform/uikit/UIImage.h>
#include <morvik/platform/uikit/UIView.h>

namespace uikit {

class UIImageView : public UIView {
 public:
  explicit UIImageView(std::shared_ptr<UIImage> image = nullptr);
  explicit UIImageView(const CGRect& frame);
  std::string className() const override { return "UIImageView"; }

  const std::shared_ptr<UIImage>& image() const { return image_; }
  void setImage(std::shared_ptr<UIImage> image);
  CGSize intrinsicContentSize() const override;
  CGSize sizeThatFits(const CGSize& size) const override;

 protected:
  std::string descriptionFields() const override;

 private:
  std::shared_ptr<UIImage> image_;
};

}  // namespace uikit

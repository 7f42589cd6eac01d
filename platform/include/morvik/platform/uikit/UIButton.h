// UIButton: a control with a title, a title colour and an image per state.
// Main thread only.
//
// Values for a state fall back to the normal state's. A system button draws
// its title in its tint colour unless a title colour is set; a custom button
// in white. The title label font is 15 pt regular until changed through
// titleLabel(). Intrinsic size: title width (text-metrics model, one line)
// plus image width plus contentEdgeInsets horizontally; the larger of the
// title's line height and the image height plus the insets vertically.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include <morvik/platform/uikit/UIControl.h>
#include <morvik/platform/uikit/UIImageView.h>
#include <morvik/platform/uikit/UILabel.h>

namespace uikit {

class UIButton : public UIControl {
 public:
  enum class ButtonType { custom, system };

  explicit UIButton(ButtonType type = ButtonType::custom);
  explicit UIButton(const CGRect& frame);
  std::string className() const override { return "UIButton"; }
  ButtonType buttonType() const { return type_; }

  void setTitle(std::optional<std::string> title, UIControlState forState);
  std::optional<std::string> title(UIControlState forState) const;
  std::optional<std::string> currentTitle() const { return title(state()); }
  void setTitleColor(std::optional<UIColor> color, UIControlState forState);
  std::optional<UIColor> titleColor(UIControlState forState) const;
  UIColor currentTitleColor() const;
  void setImage(std::shared_ptr<UIImage> image, UIControlState forState);
  std::shared_ptr<UIImage> image(UIControlState forState) const;
  std::shared_ptr<UIImage> currentImage() const { return image(state()); }

  const std::shared_ptr<UILabel>& titleLabel() const { return titleLabel_; }
  const std::shared_ptr<UIImageView>& imageView() const { return imageView_; }

  UIEdgeInsets contentEdgeInsets() const { return contentEdgeInsets_; }
  void setContentEdgeInsets(const UIEdgeInsets& insets);

  CGSize intrinsicContentSize() const override;
  CGSize sizeThatFits(const CGSize& size) const override;
  void layoutSubviews() override;

 protected:
  void stateDidChange() override;
  std::string descriptionFields() const override;

 private:
  void updateContent();
  ButtonType type_;
  std::map<std::uint32_t, std::optional<std::string>> titles_;
  std::map<std::uint32_t, std::optional<UIColor>> titleColors_;
  std::map<std::uint32_t, std::shared_ptr<UIImage>> images_;
  std::shared_ptr<UILabel> titleLabel_;
  std::shared_ptr<UIImageView> imageView_;
  UIEdgeInsets contentEdgeInsets_;
};

}  // namespace uikit

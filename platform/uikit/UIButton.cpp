#include "morvik/platform/uikit/UIButton.h"

#include <algorithm>

namespace uikit {

UIButton::UIButton(ButtonType type) : UIControl(CGRect{}), type_(type) {
  titleLabel_ = std::make_shared<UILabel>();
  titleLabel_->setFont(UIFont::systemFont(15));
  imageView_ = std::make_shared<UIImageView>();
  imageView_->setHidden(true);
  imageView_->setContentMode(UIViewContentMode::scaleAspectFit);
  addSubview(imageView_);
  addSubview(titleLabel_);
  updateContent();
}

UIButton::UIButton(const CGRect& frame) : UIButton(ButtonType::custom) { setFrame(frame); }

namespace {
template <class Map>
auto lookup(const Map& map, UIControlState state) -> typename Map::mapped_type {
  auto it = map.find(state.rawValue);
  if (it != map.end() && it->second) return it->second;
  auto normal = map.find(UIControlState::normal.rawValue);
  if (normal != map.end()) return normal->second;
  return {};
}
}  // namespace

void UIButton::setTitle(std::optional<std::string> title, UIControlState forState) {
  checkThread("UIButton::setTitle");
  titles_[forState.rawValue] = std::move(title);
  updateContent();
}

std::optional<std::string> UIButton::title(UIControlState forState) const {
  return lookup(titles_, forState);
}

void UIButton::setTitleColor(std::optional<UIColor> color, UIControlState forState) {
  checkThread("UIButton::setTitleColor");
  titleColors_[forState.rawValue] = color;
  updateContent();
}

std::optional<UIColor> UIButton::titleColor(UIControlState forState) const {
  return lookup(titleColors_, forState);
}

UIColor UIButton::currentTitleColor() const {
  if (auto c = titleColor(state())) return *c;
  if (type_ == ButtonType::system) {
    return isEnabled() ? tintColor() : UIColor::systemGray3();
  }
  return UIColor::white();
}

void UIButton::setImage(std::shared_ptr<UIImage> image, UIControlState forState) {
  checkThread("UIButton::setImage");
  images_[forState.rawValue] = std::move(image);
  updateContent();
}

std::shared_ptr<UIImage> UIButton::image(UIControlState forState) const { return lookup(images_, forState); }

void UIButton::setContentEdgeInsets(const UIEdgeInsets& insets) {
  checkThread("UIButton::setContentEdgeInsets");
  contentEdgeInsets_ = insets;
  invalidateIntrinsicContentSize();
}

void UIButton::stateDidChange() { updateContent(); }

void UIButton::updateContent() {
  auto t = currentTitle();
  if (titleLabel_->text() != t) titleLabel_->setText(t);
  titleLabel_->setTextColor(currentTitleColor());
  auto img = currentImage();
  if (imageView_->image() != img) {
    imageView_->setImage(img);
    imageView_->setHidden(img == nullptr);
  }
  if (type_ == ButtonType::system) imageView_->setTintColor(tintColor());
  invalidateIntrinsicContentSize();
}

CGSize UIButton::sizeThatFits(const CGSize& size) const {
  (void)size;
  return intrinsicContentSize();
}

CGSize UIButton::intrinsicContentSize() const {
  CGSize title;
  if (auto t = currentTitle(); t && !t->empty()) {
    title = {textWidth(*t, titleLabel_->font()), titleLabel_->font().lineHeight()};
  }
  CGSize image;
  if (auto img = currentImage()) image = img->size();
  const UIEdgeInsets& in = contentEdgeInsets_;
  return {title.width + image.width + in.left + in.right,
          std::max(title.height, image.height) + in.top + in.bottom};
}

void UIButton::layoutSubviews() {
  UIControl::layoutSubviews();
  CGRect content = insetRect(bounds(), contentEdgeInsets_);
  CGSize image;
  if (auto img = currentImage()) image = img->size();
  CGSize title;
  if (auto t = currentTitle(); t && !t->empty()) {
    title = {textWidth(*t, titleLabel_->font()), titleLabel_->font().lineHeight()};
  }
  title.width = std::min(title.width, std::max(0.0, content.width() - image.width));
  CGFloat total = image.width + title.width;
  CGFloat x = content.minX();
  switch (contentHorizontalAlignment()) {
    case UIControlContentHorizontalAlignment::center:
      x = content.midX() - total / 2;
      break;
    case UIControlContentHorizontalAlignment::right:
    case UIControlContentHorizontalAlignment::trailing:
      x = content.maxX() - total;
      break;
    case UIControlContentHorizontalAlignment::fill:
      title.width = std::max(0.0, content.width() - image.width);
      break;
    case UIControlContentHorizontalAlignment::left:
    case UIControlContentHorizontalAlignment::leading:
      break;
  }
  auto yFor = [&](CGFloat h) {
    switch (contentVerticalAlignment()) {
      case UIControlContentVerticalAlignment::top:
        return content.minY();
      case UIControlContentVerticalAlignment::bottom:
        return content.maxY() - h;
      default:
        return content.midY() - h / 2;
    }
  };
  if (imageView_->translatesAutoresizingMaskIntoConstraints()) {
    imageView_->setFrame({{x, yFor(image.height)}, image});
  }
  if (titleLabel_->translatesAutoresizingMaskIntoConstraints()) {
    titleLabel_->setFrame({{x + image.width, yFor(title.height)}, title});
  }
}

std::string UIButton::descriptionFields() const {
  std::string out;
  if (auto t = currentTitle()) out += "; title = '" + *t + "'";
  if (auto img = currentImage(); img && img->isSymbolImage()) out += "; image = '" + img->symbolName() + "'";
  return out + UIControl::descriptionFields();
}

}  // namespace uikit

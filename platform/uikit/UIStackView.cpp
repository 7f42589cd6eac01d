#include "morvik/platform/uikit/UIStackView.h"

#include <algorithm>

#include "uikit/LayoutEngine.h"

namespace uikit {

UIStackView::UIStackView(const CGRect& frame) : UIView(frame) {}

UIStackView::UIStackView(const std::vector<std::shared_ptr<UIView>>& arrangedSubviews) : UIView(CGRect{}) {
  for (const auto& v : arrangedSubviews) addArrangedSubview(v);
}

void UIStackView::setAxis(NSLayoutConstraintAxis axis) {
  checkThread("UIStackView::setAxis");
  axis_ = axis;
  setNeedsLayoutAround();
}

void UIStackView::setDistribution(Distribution distribution) {
  checkThread("UIStackView::setDistribution");
  distribution_ = distribution;
  setNeedsLayoutAround();
}

void UIStackView::setAlignment(Alignment alignment) {
  checkThread("UIStackView::setAlignment");
  alignment_ = alignment;
  setNeedsLayoutAround();
}

void UIStackView::setSpacing(CGFloat spacing) {
  checkThread("UIStackView::setSpacing");
  spacing_ = spacing;
  setNeedsLayoutAround();
}

void UIStackView::addArrangedSubview(const std::shared_ptr<UIView>& view) {
  insertArrangedSubview(view, arranged_.size());
}

void UIStackView::insertArrangedSubview(const std::shared_ptr<UIView>& view, std::size_t at) {
  checkThread("UIStackView::insertArrangedSubview");
  if (!view || view.get() == this) return;
  auto it = std::find(arranged_.begin(), arranged_.end(), view);
  if (it != arranged_.end()) arranged_.erase(it);
  if (rawSuperview(*view) != this) addSubview(view);
  if (rawSuperview(*view) != this) return;  // refused (an ancestor of the stack)
  at = std::min(at, arranged_.size());
  arranged_.insert(arranged_.begin() + static_cast<std::ptrdiff_t>(at), view);
  view->setTranslatesAutoresizingMaskIntoConstraints(false);
  setNeedsLayoutAround();
}

void UIStackView::removeArrangedSubview(const std::shared_ptr<UIView>& view) {
  checkThread("UIStackView::removeArrangedSubview");
  auto it = std::find(arranged_.begin(), arranged_.end(), view);
  if (it == arranged_.end()) return;
  arranged_.erase(it);
  setNeedsLayoutAround();
}

void UIStackView::willRemoveSubview(UIView& subview) {
  // A view that leaves the stack is no longer arranged.
  auto it = std::find_if(arranged_.begin(), arranged_.end(),
                         [&](const std::shared_ptr<UIView>& v) { return v.get() == &subview; });
  if (it != arranged_.end()) arranged_.erase(it);
}

std::string UIStackView::descriptionFields() const {
  return std::string("; axis = ") + (axis_ == NSLayoutConstraintAxis::horizontal ? "horizontal" : "vertical");
}

}  // namespace uikit

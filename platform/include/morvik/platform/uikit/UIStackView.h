// UIStackView: lays out its arranged subviews in a row or a column through
// constraints it generates at layout time. Main thread only.
//
// Along the axis: `fill` puts the views one after another `spacing` apart and
// lets content hugging and compression resistance decide who stretches or
// shrinks; `fillEqually` gives them equal sizes; `equalSpacing` equal gaps of
// at least `spacing`; `equalCentering` equal distances between centres, gaps
// at least `spacing`. Across the axis, `alignment` pins both edges (fill), one
// edge (leading/top, trailing/bottom) or the centre. Hidden arranged subviews
// take no room. Arranged subviews are laid out by constraints
// (translatesAutoresizingMaskIntoConstraints is turned off when they are
// arranged).
#pragma once

#include <memory>
#include <vector>

#include <morvik/platform/uikit/UIView.h>

namespace uikit {

class UIStackView : public UIView {
 public:
  enum class Distribution { fill, fillEqually, equalSpacing, equalCentering };
  enum class Alignment { fill, leading, center, trailing, top = leading, bottom = trailing };

  explicit UIStackView(const CGRect& frame = {});
  explicit UIStackView(const std::vector<std::shared_ptr<UIView>>& arrangedSubviews);
  std::string className() const override { return "UIStackView"; }

  NSLayoutConstraintAxis axis() const { return axis_; }
  void setAxis(NSLayoutConstraintAxis axis);
  Distribution distribution() const { return distribution_; }
  void setDistribution(Distribution distribution);
  Alignment alignment() const { return alignment_; }
  void setAlignment(Alignment alignment);
  CGFloat spacing() const { return spacing_; }
  void setSpacing(CGFloat spacing);

  const std::vector<std::shared_ptr<UIView>>& arrangedSubviews() const { return arranged_; }
  // Also adds the view as a subview when it is not one.
  void addArrangedSubview(const std::shared_ptr<UIView>& view);
  void insertArrangedSubview(const std::shared_ptr<UIView>& view, std::size_t at);
  // Stops arranging the view; it stays a subview (as on the platform).
  void removeArrangedSubview(const std::shared_ptr<UIView>& view);

  void willRemoveSubview(UIView& subview) override;

 protected:
  std::string descriptionFields() const override;

 private:
  std::vector<std::shared_ptr<UIView>> arranged_;
  NSLayoutConstraintAxis axis_ = NSLayoutConstraintAxis::horizontal;
  Distribution distribution_ = Distribution::fill;
  Alignment alignment_ = Alignment::fill;
  CGFloat spacing_ = 0;
};

}  // namespace uikit

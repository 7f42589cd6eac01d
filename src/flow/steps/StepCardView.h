// One card of the step list: the step's image, "Step N" (or "Complete"), its
// title, a status tick and a chevron. The card is the control; its subviews
// take no touches of their own. Main thread only.
#pragma once

#include <morvik/flow/IDScanStepsVC.h>
#include <morvik/platform/uikit.h>

#include <memory>

namespace morvik {

class IDScanStepsVC::StepCardView : public uikit::UIControl {
 public:
  explicit StepCardView(const uikit::CGRect& frame = {});
  std::string className() const override { return "StepCardView"; }

  // The card's look for a status and a 1-based step number.
  void configure(StepStatus status, std::size_t number);

  const std::shared_ptr<uikit::UIView> container;
  const std::shared_ptr<uikit::UIImageView> imageView;
  const std::shared_ptr<uikit::UILabel> stepLabel;
  const std::shared_ptr<uikit::UILabel> titleLabel;
  const std::shared_ptr<uikit::UIImageView> chevron;
  const std::shared_ptr<uikit::UIImageView> statusIcon;

  static constexpr quartz::CGFloat kHeight = 96;

 private:
  void setupLayout();
};

}  // namespace morvik

// IDStepPreviewVC: shows the image captured for one completed scan step under
// the step's and the document's titles, with Retake and OK.
//
// It decides nothing and never moves itself: Retake runs onRetake, OK and the
// top bar's back button run onAccept, and the creator does the navigation.
// A button whose callback is unset does nothing. Main thread only.
#pragma once

#include <morvik/platform/uikit.h>

#include <functional>
#include <memory>
#include <string>

namespace morvik {

class IDStepPreviewVC : public uikit::UIViewController {
 public:
  // `image` may be null: the frame then shows empty.
  IDStepPreviewVC(std::shared_ptr<uikit::UIImage> image, std::string stepTitle, std::string docTitle);

  std::string className() const override { return "IDStepPreviewVC"; }

  const std::shared_ptr<uikit::UIImage>& image() const { return image_; }
  const std::string& stepTitle() const { return stepTitle_; }
  const std::string& docTitle() const { return docTitle_; }

  std::function<void()> onRetake;
  std::function<void()> onAccept;

  void viewDidLoad() override;

  // The views, for hosts and tests that drive the screen.
  const std::shared_ptr<uikit::UIStackView>& topBar() const { return topBar_; }
  const std::shared_ptr<uikit::UIButton>& backButton() const { return backButton_; }
  const std::shared_ptr<uikit::UILabel>& titleLabel() const { return titleLabel_; }
  const std::shared_ptr<uikit::UILabel>& stepNameLabel() const { return stepNameLabel_; }
  const std::shared_ptr<uikit::UILabel>& docNameLabel() const { return docNameLabel_; }
  const std::shared_ptr<uikit::UIView>& imageContainer() const { return imageContainer_; }
  const std::shared_ptr<uikit::UIImageView>& imageView() const { return imageView_; }
  // Holds the titles and the image frame; scrolls when they do not fit.
  const std::shared_ptr<uikit::UIScrollView>& scrollView() const { return scrollView_; }
  const std::shared_ptr<uikit::UIButton>& retakeButton() const { return retakeButton_; }
  const std::shared_ptr<uikit::UIButton>& acceptButton() const { return acceptButton_; }

 private:
  void setupTopBar();
  void setupContent();
  void setupButtons();
  void onBack();
  void onRetakeTap();
  void onAcceptTap();

  const std::shared_ptr<uikit::UIImage> image_;
  const std::string stepTitle_;
  const std::string docTitle_;
  const std::shared_ptr<uikit::UIStackView> topBar_;
  const std::shared_ptr<uikit::UIButton> backButton_;
  const std::shared_ptr<uikit::UILabel> titleLabel_;
  const std::shared_ptr<uikit::UILabel> stepNameLabel_;
  const std::shared_ptr<uikit::UILabel> docNameLabel_;
  const std::shared_ptr<uikit::UIView> imageContainer_;
  const std::shared_ptr<uikit::UIImageView> imageView_;
  const std::shared_ptr<uikit::UIScrollView> scrollView_;
  const std::shared_ptr<uikit::UIButton> retakeButton_;
  const std::shared_ptr<uikit::UIButton> acceptButton_;
};

}  // namespace morvik

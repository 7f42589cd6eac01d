#include "flow/preview/IDStepPreviewVC.h"

#include <utility>

#include "flow/ActionButton.h"

namespace morvik {

using uikit::NSLayoutConstraint;
using uikit::UIButton;
using uikit::UIColor;
using uikit::UIControlEvents;
using uikit::UIControlState;
using uikit::UIFont;

IDStepPreviewVC::IDStepPreviewVC(std::shared_ptr<uikit::UIImage> image, std::string stepTitle,
                                 std::string docTitle)
    : image_(std::move(image)),
      stepTitle_(std::move(stepTitle)),
      docTitle_(std::move(docTitle)),
      topBar_(std::make_shared<uikit::UIStackView>()),
      backButton_(std::make_shared<UIButton>(UIButton::ButtonType::system)),
      titleLabel_(std::make_shared<uikit::UILabel>()),
      stepNameLabel_(std::make_shared<uikit::UILabel>()),
      docNameLabel_(std::make_shared<uikit::UILabel>()),
      imageContainer_(std::make_shared<uikit::UIView>()),
      imageView_(std::make_shared<uikit::UIImageView>()),
      scrollView_(std::make_shared<uikit::UIScrollView>()),
      retakeButton_(std::make_shared<UIButton>(UIButton::ButtonType::system)),
      acceptButton_(std::make_shared<UIButton>(UIButton::ButtonType::system)) {}

void IDStepPreviewVC::viewDidLoad() {
  UIViewController::viewDidLoad();
  view()->setBackgroundColor(UIColor::systemBackground());
  setupTopBar();
  setupContent();
  setupButtons();
}

void IDStepPreviewVC::setupTopBar() {
  const auto& root = view();
  topBar_->setAxis(uikit::NSLayoutConstraintAxis::horizontal);
  topBar_->setAlignment(uikit::UIStackView::Alignment::center);
  topBar_->setDistribution(uikit::UIStackView::Distribution::fill);
  topBar_->setSpacing(8);
  topBar_->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(topBar_);

  backButton_->setImage(uikit::UIImage::systemName("chevron.left"), UIControlState::normal);
  backButton_->setTintColor(UIColor::label());
  backButton_->setContentEdgeInsets({8, 8, 8, 8});
  backButton_->addTarget(
      shared_from_this(), [this] { onBack(); }, UIControlEvents::touchUpInside);

  topBar_->addArrangedSubview(backButton_);
  topBar_->addArrangedSubview(std::make_shared<uikit::UIView>());

  NSLayoutConstraint::activate({
      topBar_->topAnchor().constraintEqualTo(root->safeAreaLayoutGuide()->topAnchor(), 4),
      topBar_->leadingAnchor().constraintEqualTo(root->leadingAnchor(), 12),
      topBar_->trailingAnchor().constraintEqualTo(root->trailingAnchor(), -12),
  });
}

void IDStepPreviewVC::setupContent() {
  const auto& root = view();
  titleLabel_->setText("Step preview");
  titleLabel_->setFont(UIFont::systemFont(20, UIFont::Weight::semibold));
  titleLabel_->setTextAlignment(uikit::NSTextAlignment::center);

  stepNameLabel_->setText(stepTitle_);
  stepNameLabel_->setFont(UIFont::systemFont(28, UIFont::Weight::heavy));
  stepNameLabel_->setTextAlignment(uikit::NSTextAlignment::center);

  docNameLabel_->setText(docTitle_);
  docNameLabel_->setFont(UIFont::systemFont(18, UIFont::Weight::regular));
  docNameLabel_->setTextColor(UIColor::secondaryLabel());
  docNameLabel_->setTextAlignment(uikit::NSTextAlignment::center);

  imageContainer_->setBackgroundColor(UIColor::systemBackground());
  imageContainer_->layer()->setCornerRadius(16);
  imageContainer_->layer()->setBorderWidth(1);
  imageContainer_->layer()->setBorderColor(UIColor::systemGray5().cgColor());

  imageView_->setContentMode(uikit::UIViewContentMode::scaleAspectFit);
  imageView_->setImage(image_);
  imageView_->setTranslatesAutoresizingMaskIntoConstraints(false);
  imageContainer_->addSubview(imageView_);

  auto column = std::make_shared<uikit::UIStackView>(std::vector<std::shared_ptr<uikit::UIView>>{
      titleLabel_, stepNameLabel_, docNameLabel_, imageContainer_});
  column->setAxis(uikit::NSLayoutConstraintAxis::vertical);
  column->setSpacing(8);
  column->setTranslatesAutoresizingMaskIntoConstraints(false);
  // The column scrolls in the room between the top bar and the buttons, so on
  // a short screen the image frame never runs under them. Its bottom is tied
  // to the buttons in setupButtons.
  scrollView_->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(scrollView_);
  scrollView_->addSubview(column);

  NSLayoutConstraint::activate({
      imageView_->topAnchor().constraintEqualTo(imageContainer_->topAnchor(), 8),
      imageView_->leadingAnchor().constraintEqualTo(imageContainer_->leadingAnchor(), 8),
      imageView_->trailingAnchor().constraintEqualTo(imageContainer_->trailingAnchor(), -8),
      imageView_->bottomAnchor().constraintEqualTo(imageContainer_->bottomAnchor(), -8),
      scrollView_->topAnchor().constraintEqualTo(topBar_->bottomAnchor(), 8),
      scrollView_->leadingAnchor().constraintEqualTo(root->leadingAnchor()),
      scrollView_->trailingAnchor().constraintEqualTo(root->trailingAnchor()),
      column->topAnchor().constraintEqualTo(scrollView_->topAnchor()),
      column->leadingAnchor().constraintEqualTo(scrollView_->leadingAnchor(), 16),
      column->trailingAnchor().constraintEqualTo(scrollView_->trailingAnchor(), -16),
      column->bottomAnchor().constraintEqualTo(scrollView_->bottomAnchor()),
      column->widthAnchor().constraintEqualTo(scrollView_->widthAnchor(), 1, -32),
      imageContainer_->heightAnchor().constraintEqualTo(root->heightAnchor(), 0.5, 0),
  });
}

void IDStepPreviewVC::setupButtons() {
  const auto& root = view();
  struct Look {
    const std::shared_ptr<UIButton>& button;
    const char* title;
    UIColor background;
    UIColor titleColor;
    void (IDStepPreviewVC::*action)();
  };
  const Look looks[] = {
      {retakeButton_, "Retake", UIColor::systemGray6(), UIColor::label(), &IDStepPreviewVC::onRetakeTap},
      {acceptButton_, "OK", UIColor::systemBlue(), UIColor::white(), &IDStepPreviewVC::onAcceptTap},
  };
  for (const auto& look : looks) {
    styleActionButton(*look.button, look.title, look.background, look.titleColor);
    look.button->addTarget(
        shared_from_this(), [this, action = look.action] { (this->*action)(); },
        UIControlEvents::touchUpInside);
  }

  auto row = std::make_shared<uikit::UIStackView>(
      std::vector<std::shared_ptr<uikit::UIView>>{retakeButton_, acceptButton_});
  row->setAxis(uikit::NSLayoutConstraintAxis::horizontal);
  row->setSpacing(16);
  row->setDistribution(uikit::UIStackView::Distribution::fillEqually);
  row->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(row);
  NSLayoutConstraint::activate({
      row->leadingAnchor().constraintEqualTo(root->leadingAnchor(), 16),
      row->trailingAnchor().constraintEqualTo(root->trailingAnchor(), -16),
      row->bottomAnchor().constraintEqualTo(root->safeAreaLayoutGuide()->bottomAnchor(), -16),
      scrollView_->bottomAnchor().constraintEqualTo(row->topAnchor(), -8),
  });
}

// The callbacks are copied before they run: a callback that pops this screen
// may release it, and with it the callback itself.
void IDStepPreviewVC::onBack() {
  if (auto callback = onAccept) callback();
}

void IDStepPreviewVC::onRetakeTap() {
  if (auto callback = onRetake) callback();
}

void IDStepPreviewVC::onAcceptTap() {
  if (auto callback = onAccept) callback();
}

}  // namespace morvik

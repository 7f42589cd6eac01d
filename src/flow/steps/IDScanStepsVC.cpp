#include "morvik/flow/IDScanStepsVC.h"

#include <morvik/flow/IDCaptureVC.h>

#include <algorithm>
#include <utility>

#include "flow/ActionButton.h"
#include "flow/preview/IDStepPreviewVC.h"
#include "flow/result/VerifiedScreen.h"
#include "flow/steps/StepCardView.h"
#include "morvik/flow/IDDocumentSteps.h"
#include "support/ResourceBundle.h"

namespace morvik {

using uikit::NSLayoutConstraint;
using uikit::NSLayoutConstraintAxis;
using uikit::UIButton;
using uikit::UIColor;
using uikit::UIControlEvents;
using uikit::UIControlState;
using uikit::UIFont;
using uikit::UIImage;
using uikit::UIStackView;

namespace {

std::shared_ptr<UIButton> makeSystemButton() {
  return std::make_shared<UIButton>(UIButton::ButtonType::system);
}

}  // namespace

// ---------------------------------------------------------------------------
// The card

IDScanStepsVC::StepCardView::StepCardView(const uikit::CGRect& frame)
    : UIControl(frame),
      container(std::make_shared<uikit::UIView>()),
      imageView(std::make_shared<uikit::UIImageView>()),
      stepLabel(std::make_shared<uikit::UILabel>()),
      titleLabel(std::make_shared<uikit::UILabel>()),
      chevron(std::make_shared<uikit::UIImageView>(UIImage::systemName("chevron.right"))),
      statusIcon(std::make_shared<uikit::UIImageView>(UIImage::systemName("checkmark.circle.fill"))) {
  setupLayout();
}

void IDScanStepsVC::StepCardView::setupLayout() {
  container->setBackgroundColor(UIColor::systemBackground());
  const auto& layer = container->layer();
  layer->setCornerRadius(20);
  layer->setBorderWidth(1);
  layer->setBorderColor(UIColor::systemGray5().cgColor());
  layer->setShadowColor(UIColor::black().cgColor());
  layer->setShadowOpacity(0.06f);
  layer->setShadowRadius(10);
  layer->setShadowOffset({0, 4});
  // Touches go to the card, which is the control.
  container->setUserInteractionEnabled(false);
  container->setTranslatesAutoresizingMaskIntoConstraints(false);
  addSubview(container);

  imageView->setContentMode(uikit::UIViewContentMode::scaleAspectFit);
  imageView->setClipsToBounds(true);
  imageView->layer()->setCornerRadius(12);
  imageView->setTranslatesAutoresizingMaskIntoConstraints(false);

  stepLabel->setFont(UIFont::systemFont(16, UIFont::Weight::semibold));
  stepLabel->setTextColor(UIColor::systemBlue());
  titleLabel->setFont(UIFont::systemFont(18, UIFont::Weight::bold));
  titleLabel->setTextColor(UIColor::label());
  titleLabel->setNumberOfLines(2);
  auto labels =
      std::make_shared<UIStackView>(std::vector<std::shared_ptr<uikit::UIView>>{stepLabel, titleLabel});
  labels->setAxis(NSLayoutConstraintAxis::vertical);
  labels->setSpacing(4);
  labels->setTranslatesAutoresizingMaskIntoConstraints(false);

  statusIcon->setTintColor(UIColor::systemGreen());
  statusIcon->setContentHuggingPriority(1000, NSLayoutConstraintAxis::horizontal);
  statusIcon->setTranslatesAutoresizingMaskIntoConstraints(false);
  chevron->setTintColor(UIColor::tertiaryLabel());
  chevron->setContentHuggingPriority(1000, NSLayoutConstraintAxis::horizontal);
  chevron->setTranslatesAutoresizingMaskIntoConstraints(false);

  container->addSubview(imageView);
  container->addSubview(labels);
  container->addSubview(statusIcon);
  container->addSubview(chevron);

  NSLayoutConstraint::activate({
      container->topAnchor().constraintEqualTo(topAnchor()),
      container->leadingAnchor().constraintEqualTo(leadingAnchor()),
      container->trailingAnchor().constraintEqualTo(trailingAnchor()),
      container->bottomAnchor().constraintEqualTo(bottomAnchor()),

      imageView->widthAnchor().constraintEqualToConstant(88),
      imageView->heightAnchor().constraintEqualToConstant(64),
      imageView->leadingAnchor().constraintEqualTo(container->leadingAnchor(), 16),
      imageView->centerYAnchor().constraintEqualTo(container->centerYAnchor()),

      labels->leadingAnchor().constraintEqualTo(imageView->trailingAnchor(), 16),
      labels->centerYAnchor().constraintEqualTo(container->centerYAnchor()),
      labels->trailingAnchor().constraintLessThanOrEqualTo(statusIcon->leadingAnchor(), -8),

      statusIcon->trailingAnchor().constraintEqualTo(chevron->leadingAnchor(), -12),
      statusIcon->centerYAnchor().constraintEqualTo(container->centerYAnchor()),

      chevron->trailingAnchor().constraintEqualTo(container->trailingAnchor(), -16),
      chevron->centerYAnchor().constraintEqualTo(container->centerYAnchor()),

      heightAnchor().constraintEqualToConstant(kHeight),
  });
}

void IDScanStepsVC::StepCardView::configure(StepStatus status, std::size_t number) {
  const std::string numbered = "Step " + std::to_string(number);
  switch (status) {
    case StepStatus::pending:
      container->setBackgroundColor(UIColor::systemGray6());
      container->layer()->setBorderColor(UIColor::systemGray5().cgColor());
      setAlpha(0.9);
      chevron->setTintColor(UIColor::tertiaryLabel());
      stepLabel->setText(numbered);
      stepLabel->setTextColor(UIColor::systemGray());
      statusIcon->setHidden(true);
      setUserInteractionEnabled(false);
      break;
    case StepStatus::inProgress:
      container->setBackgroundColor(UIColor::systemBackground());
      container->layer()->setBorderColor(UIColor::systemBlue().withAlphaComponent(0.6).cgColor());
      setAlpha(1.0);
      chevron->setTintColor(UIColor::label());
      stepLabel->setText(numbered);
      stepLabel->setTextColor(UIColor::systemBlue());
      statusIcon->setHidden(true);
      setUserInteractionEnabled(true);
      break;
    case StepStatus::completed:
      container->setBackgroundColor(UIColor::systemBackground());
      container->layer()->setBorderColor(UIColor::systemGreen().withAlphaComponent(0.6).cgColor());
      setAlpha(1.0);
      chevron->setTintColor(UIColor::label());
      stepLabel->setText("Complete");
      stepLabel->setTextColor(UIColor::systemGreen());
      statusIcon->setHidden(false);
      setUserInteractionEnabled(true);
      break;
  }
}

// ---------------------------------------------------------------------------
// The list

std::shared_ptr<IDScanStepsVC> IDScanStepsVC::make(IDDocumentType documentType) {
  return std::make_shared<IDScanStepsVC>(documentType);
}

IDScanStepsVC::IDScanStepsVC(IDDocumentType documentType)
    : documentType_(documentType),
      steps_(morvik::steps(documentType)),
      stepStatuses_(steps_.size(), StepStatus::pending),
      scrollView_(std::make_shared<uikit::UIScrollView>()),
      titleLabel_(std::make_shared<uikit::UILabel>()),
      docTypeButton_(makeSystemButton()),
      stepsStack_(std::make_shared<UIStackView>()),
      continueButton_(makeSystemButton()),
      submitButton_(makeSystemButton()),
      backButton_(makeSystemButton()),
      resetButton_(makeSystemButton()),
      startButton_(makeSystemButton()),
      capturedImages_(steps_.size()) {}

IDScanStepsVC::~IDScanStepsVC() { abandonUpload(); }

std::shared_ptr<IDScanStepsVC> IDScanStepsVC::self() {
  return std::static_pointer_cast<IDScanStepsVC>(shared_from_this());
}

std::weak_ptr<IDScanStepsVC> IDScanStepsVC::weakSelf() { return self(); }

void IDScanStepsVC::bind(UIButton& button, void (IDScanStepsVC::*action)()) {
  // The button holds the screen weakly as its target, so the raw pointer is
  // only used while the screen lives.
  button.addTarget(
      shared_from_this(), [this, action] { (this->*action)(); }, UIControlEvents::touchUpInside);
}

void IDScanStepsVC::viewDidLoad() {
  UIViewController::viewDidLoad();
  view()->setBackgroundColor(UIColor::systemBackground());
  setTitle("ID Validation");
  setupUI();
}

void IDScanStepsVC::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  if (!steps_.empty() && allPending()) {
    stepStatuses_[0] = StepStatus::inProgress;
    currentStepIndex_ = 0;
  }
  updateStepTitle();
  refreshStepCards();
}

void IDScanStepsVC::viewWillDisappear(bool animated) {
  UIViewController::viewWillDisappear(animated);
  // Only the flow's dismissal takes the list away during an upload (the
  // overlay keeps the person from leaving it); the reply would find nothing
  // to show, so the overlay must not wait for it.
  for (std::shared_ptr<const UIViewController> c = shared_from_this(); c; c = c->parent()) {
    if (c->isBeingDismissed()) {
      abandonUpload();
      return;
    }
  }
}

std::shared_ptr<uikit::UILabel> IDScanStepsVC::makeSectionLabel(const std::string& text) const {
  auto label = std::make_shared<uikit::UILabel>();
  label->setText(text);
  label->setFont(UIFont::systemFont(22, UIFont::Weight::heavy));
  label->setTextColor(UIColor::label());
  return label;
}

void IDScanStepsVC::setupUI() {
  const auto& root = view();

  auto heading = std::make_shared<uikit::UILabel>();
  heading->setText("ID Validation");
  heading->setFont(UIFont::systemFont(32, UIFont::Weight::heavy));
  heading->setTextColor(UIColor::label());

  docTypeButton_->setTitle(std::string(documentType_.title()), UIControlState::normal);
  docTypeButton_->setTitleColor(UIColor::label(), UIControlState::normal);
  docTypeButton_->titleLabel()->setFont(UIFont::systemFont(14, UIFont::Weight::semibold));
  docTypeButton_->setContentHorizontalAlignment(uikit::UIControlContentHorizontalAlignment::left);
  docTypeButton_->setBackgroundColor(UIColor::systemBackground());
  docTypeButton_->layer()->setCornerRadius(8);
  docTypeButton_->layer()->setBorderWidth(1);
  docTypeButton_->layer()->setBorderColor(UIColor::systemGray5().cgColor());
  docTypeButton_->setContentEdgeInsets({0, 12, 0, 40});
  docTypeButton_->heightAnchor().constraintEqualToConstant(32)->setActive(true);
  bind(*docTypeButton_, &IDScanStepsVC::changeDocType);
  auto typeChevron = std::make_shared<uikit::UIImageView>(UIImage::systemName("chevron.right"));
  typeChevron->setTintColor(UIColor::tertiaryLabel());
  typeChevron->setTranslatesAutoresizingMaskIntoConstraints(false);
  docTypeButton_->addSubview(typeChevron);
  NSLayoutConstraint::activate({
      typeChevron->centerYAnchor().constraintEqualTo(docTypeButton_->centerYAnchor()),
      typeChevron->trailingAnchor().constraintEqualTo(docTypeButton_->trailingAnchor(), -14),
  });

  titleLabel_->setText("Steps");
  titleLabel_->setFont(UIFont::systemFont(24, UIFont::Weight::heavy));

  stepsStack_->setAxis(NSLayoutConstraintAxis::vertical);
  stepsStack_->setSpacing(16);
  buildStepCards();

  struct Look {
    const std::shared_ptr<UIButton>& button;
    const char* title;
    UIColor background;
    UIColor titleColor;
    void (IDScanStepsVC::*action)();
  };
  const Look looks[] = {
      {continueButton_, "Continue", UIColor::systemBlue(), UIColor::white(), &IDScanStepsVC::onContinue},
      {submitButton_, "Submit", UIColor::systemBlue(), UIColor::white(), &IDScanStepsVC::onSubmit},
      {backButton_, "Back", UIColor::systemGray6(), UIColor::label(), &IDScanStepsVC::onBack},
      {startButton_, "Start", UIColor::systemBlue(), UIColor::white(), &IDScanStepsVC::startFlow},
      {resetButton_, "Reset All", UIColor::systemGray6(), UIColor::label(), &IDScanStepsVC::onResetAll},
  };
  for (const auto& look : looks) {
    styleActionButton(*look.button, look.title, look.background, look.titleColor);
    bind(*look.button, look.action);
  }
  submitButton_->setHidden(true);

  auto buttonRow = std::make_shared<UIStackView>(std::vector<std::shared_ptr<uikit::UIView>>{
      backButton_, resetButton_, continueButton_, startButton_, submitButton_});
  buttonRow->setAxis(NSLayoutConstraintAxis::horizontal);
  buttonRow->setSpacing(16);
  buttonRow->setDistribution(UIStackView::Distribution::fillEqually);

  auto spacer = std::make_shared<uikit::UIView>();
  spacer->setContentHuggingPriority(250, NSLayoutConstraintAxis::vertical);
  spacer->setContentCompressionResistancePriority(250, NSLayoutConstraintAxis::vertical);
  // Never less than nothing: on a short screen the column grows and scrolls
  // rather than the buttons sliding up over the cards.
  spacer->heightAnchor().constraintGreaterThanOrEqualToConstant(0)->setActive(true);

  auto column = std::make_shared<UIStackView>(
      std::vector<std::shared_ptr<uikit::UIView>>{heading, makeSectionLabel("Document type"), docTypeButton_,
                                                  titleLabel_, stepsStack_, spacer, buttonRow});
  column->setAxis(NSLayoutConstraintAxis::vertical);
  column->setSpacing(16);
  column->setTranslatesAutoresizingMaskIntoConstraints(false);
  // The column scrolls where the safe area is shorter than it (small phones,
  // landscape); where it fits, it fills the safe area as before, the spacer
  // keeping the buttons at the bottom.
  scrollView_->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(scrollView_);
  scrollView_->addSubview(column);
  const auto& safeArea = root->safeAreaLayoutGuide();
  auto fill = column->heightAnchor().constraintEqualTo(scrollView_->heightAnchor(), 1, -32);
  fill->setPriority(uikit::UILayoutPriority::defaultLow);
  NSLayoutConstraint::activate({
      scrollView_->topAnchor().constraintEqualTo(safeArea->topAnchor()),
      scrollView_->leadingAnchor().constraintEqualTo(root->leadingAnchor()),
      scrollView_->trailingAnchor().constraintEqualTo(root->trailingAnchor()),
      scrollView_->bottomAnchor().constraintEqualTo(safeArea->bottomAnchor()),
      column->topAnchor().constraintEqualTo(scrollView_->topAnchor(), 16),
      column->leadingAnchor().constraintEqualTo(scrollView_->leadingAnchor(), 16),
      column->trailingAnchor().constraintEqualTo(scrollView_->trailingAnchor(), -16),
      column->bottomAnchor().constraintEqualTo(scrollView_->bottomAnchor(), -16),
      column->widthAnchor().constraintEqualTo(scrollView_->widthAnchor(), 1, -32),
      column->heightAnchor().constraintGreaterThanOrEqualTo(scrollView_->heightAnchor(), 1, -32),
      fill,
  });

  updateButtons();
}

bool IDScanStepsVC::allPending() const {
  return std::all_of(stepStatuses_.begin(), stepStatuses_.end(),
                     [](StepStatus status) { return status == StepStatus::pending; });
}

std::size_t IDScanStepsVC::completedCount() const {
  return static_cast<std::size_t>(
      std::count(stepStatuses_.begin(), stepStatuses_.end(), StepStatus::completed));
}

void IDScanStepsVC::updateButtons() {
  const std::size_t completed = completedCount();
  const bool none = completed == 0;
  const bool all = !none && completed == steps_.size();
  startButton_->setHidden(!none);
  continueButton_->setHidden(none || all);
  submitButton_->setHidden(!all);
  resetButton_->setHidden(none);
}

void IDScanStepsVC::updateStepTitle() {
  const std::string title = currentStepIndex_ < steps_.size() ? steps_[currentStepIndex_].title()
                                                              : std::string(documentType_.title());
  docTypeButton_->setTitle(title, UIControlState::normal);
}

std::shared_ptr<UIImage> IDScanStepsVC::placeholderImage(const IDScanStep& step) const {
  const auto bundle = imageBundle();
  const auto named = [&bundle](const char* name) { return UIImage::named(name, bundle); };
  using Value = IDDocumentType::Value;
  const auto kinds = step.kinds();
  if (kinds.front) {
    switch (documentType_.value()) {
      case Value::driversLicenseOrIDCard:
        return named("DRIVER LICENSE - FRONT");
      case Value::passport:
        return named("PASSPORT - FRONT");
      case Value::passportCard:
        if (auto image = named("PASSPORT CARD - FRONT")) return image;
        return named("PASSPORT - FRONT");
      case Value::internationalID:
        return named("ID CARD - FRONT");
    }
    return nullptr;
  }
  if (kinds.back) {
    switch (documentType_.value()) {
      case Value::driversLicenseOrIDCard:
        return named("DRIVER LICENSE - BACK");
      case Value::passport:
        return named("PASSPORT - BACK");
      case Value::passportCard:
        return named("PASSPORT CARD - BACK");
      case Value::internationalID:
        return named("INTERNATIONAL ID - BACK");
    }
    return nullptr;
  }
  if (kinds.face) {
    if (auto image = named("ic_face")) return image;
    return UIImage::systemName("person.crop.circle");
  }
  return named("drivers-license");
}

std::shared_ptr<UIImage> IDScanStepsVC::displayedImage(std::size_t index) const {
  if (capturedImages_[index]) return capturedImages_[index];
  return placeholderImage(steps_[index]);
}

void IDScanStepsVC::buildStepCards() {
  stepCards_.clear();
  for (const auto& view : std::vector(stepsStack_->subviews())) view->removeFromSuperview();
  for (std::size_t i = 0; i < steps_.size(); ++i) {
    auto card = std::make_shared<StepCardView>();
    card->imageView->setImage(displayedImage(i));
    card->titleLabel->setText(steps_[i].title());
    card->configure(stepStatuses_[i], i + 1);
    card->setTag(static_cast<int>(i));
    card->addTarget(
        shared_from_this(), [this](uikit::UIControl& sender) { onStepCardTap(sender); },
        UIControlEvents::touchUpInside);
    stepCards_.push_back(card);
    stepsStack_->addArrangedSubview(card);
  }
}

void IDScanStepsVC::refreshStepCards() {
  if (!isViewLoaded()) return;
  if (stepCards_.size() != steps_.size()) {
    buildStepCards();
    return;
  }
  for (std::size_t i = 0; i < steps_.size(); ++i) {
    const auto& card = stepCards_[i];
    card->imageView->setImage(displayedImage(i));
    card->titleLabel->setText(steps_[i].title());
    card->configure(stepStatuses_[i], i + 1);
    card->setTag(static_cast<int>(i));
  }
  updateButtons();
}

// ---------------------------------------------------------------------------
// Actions and the capture run

void IDScanStepsVC::changeDocType() {
  if (auto navigation = navigationController()) navigation->popViewController(true);
}

void IDScanStepsVC::onBack() {
  if (auto navigation = navigationController()) navigation->popViewController(true);
}

void IDScanStepsVC::onResetAll() {
  std::fill(stepStatuses_.begin(), stepStatuses_.end(), StepStatus::pending);
  currentStepIndex_ = 0;
  std::fill(capturedImages_.begin(), capturedImages_.end(), nullptr);
  if (!steps_.empty()) stepStatuses_[0] = StepStatus::inProgress;
  updateStepTitle();
  refreshStepCards();
}

void IDScanStepsVC::onContinue() {
  if (currentStepIndex_ < steps_.size()) {
    startCapture(currentStepIndex_);
  } else {
    pushResultScreen();
  }
}

void IDScanStepsVC::startFlow() {
  if (!steps_.empty() && allPending()) {
    stepStatuses_[0] = StepStatus::inProgress;
    currentStepIndex_ = 0;
  }
  updateStepTitle();
  refreshStepCards();
  startCapture(currentStepIndex_);
}

void IDScanStepsVC::pushResultScreen() {
  if (auto navigation = navigationController()) {
    navigation->pushViewController(std::make_shared<VerifiedScreen>(), true);
  }
}

void IDScanStepsVC::startCapture(std::size_t index) {
  if (index >= steps_.size()) {
    updateStepTitle();
    refreshStepCards();
    pushResultScreen();
    return;
  }
  auto navigation = navigationController();
  if (!navigation) return;
  auto capture = IDCaptureVC::make(documentType_, static_cast<int>(index), steps_[index]);
  const auto weak = weakSelf();
  capture->onCaptured = [weak, index](std::shared_ptr<UIImage> image) {
    if (auto list = weak.lock()) list->handleCapturedImage(index, std::move(image));
  };
  capture->onComplete = [weak, index, title = steps_[index].title()] {
    if (auto list = weak.lock()) list->handleStepCompleted(index, title);
  };
  navigation->pushViewController(capture, true);
}

void IDScanStepsVC::handleCapturedImage(std::size_t index, std::shared_ptr<UIImage> image) {
  if (index >= capturedImages_.size()) return;
  capturedImages_[index] = std::move(image);
}

void IDScanStepsVC::handleStepCompleted(std::size_t index, const std::string& stepTitle) {
  if (index >= steps_.size()) return;
  stepStatuses_[index] = StepStatus::completed;
  std::optional<std::size_t> next;
  for (std::size_t j = index + 1; j < steps_.size(); ++j) {
    if (stepStatuses_[j] != StepStatus::completed) {
      next = j;
      break;
    }
  }
  if (next) {
    currentStepIndex_ = *next;
    stepStatuses_[*next] = StepStatus::inProgress;
  } else {
    currentStepIndex_ = std::min(steps_.size(), index + 1);
  }
  refreshStepCards();
  updateStepTitle();
  updateButtons();

  auto navigation = navigationController();
  if (scanStepKinds(stepTitle).face || !next) {
    if (navigation) navigation->popToViewController(self(), true);
  } else {
    startCapture(*next);
  }
}

void IDScanStepsVC::onStepCardTap(const uikit::UIControl& sender) {
  if (sender.tag() < 0) return;
  const auto index = static_cast<std::size_t>(sender.tag());
  if (index >= steps_.size()) return;
  switch (stepStatuses_[index]) {
    case StepStatus::pending:
      return;
    case StepStatus::inProgress:
      currentStepIndex_ = index;
      updateStepTitle();
      startCapture(index);
      return;
    case StepStatus::completed: {
      auto preview = std::make_shared<IDStepPreviewVC>(capturedImages_[index], steps_[index].title(),
                                                       std::string(documentType_.title()));
      const auto weak = weakSelf();
      preview->onRetake = [weak, index] {
        if (auto list = weak.lock()) list->retakeStep(index);
      };
      preview->onAccept = [weak] {
        if (auto list = weak.lock()) list->acceptStep();
      };
      if (auto navigation = navigationController()) navigation->pushViewController(preview, true);
      return;
    }
  }
}

void IDScanStepsVC::retakeStep(std::size_t index) {
  if (index >= steps_.size()) return;
  if (auto navigation = navigationController()) navigation->popViewController(true);
  currentStepIndex_ = index;
  stepStatuses_[index] = StepStatus::inProgress;
  updateStepTitle();
  refreshStepCards();
  startCapture(index);
}

void IDScanStepsVC::acceptStep() {
  if (auto navigation = navigationController()) navigation->popViewController(true);
}

}  // namespace morvik

#include <morvik/flow/IDCaptureVC.h>
#include <morvik/flow/IDScanStepsVC.h>
#include <morvik/platform/coreimage.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/quartz.h>
#include <morvik/platform/vision.h>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "flow/capture/CaptureRules.h"
#include "flow/capture/IDCaptureVCState.h"
#include "morvik/flow/IDDocumentSteps.h"
#include "support/ResourceBundle.h"

namespace morvik {

using namespace uikit;
using capture_detail::makeScanLine;
using capture_detail::semibold;
using quartz::CGPoint;
using quartz::CGRect;
using quartz::CGSize;

namespace {

constexpr int kBackHintImageTag = 9991;
constexpr double kDimAlpha = 0.45;

// Frames read back through centre and bounds may differ from what was set in
// the last bits; a hint frame is "unchanged" within a thousandth of a point.
bool sameFrame(const CGRect& a, const CGRect& b) {
  return std::fabs(a.origin.x - b.origin.x) < 1e-3 && std::fabs(a.origin.y - b.origin.y) < 1e-3 &&
         std::fabs(a.size.width - b.size.width) < 1e-3 && std::fabs(a.size.height - b.size.height) < 1e-3;
}

std::shared_ptr<UIImage> bundleImage(const std::string& name) {
  return UIImage::named(name, ResourceBundleLookup::shared().imageBundle());
}

capture::PreviewOrientation toPreviewOrientation(avf::AVCaptureVideoOrientation o) {
  switch (o) {
    case avf::AVCaptureVideoOrientation::portrait:
      return capture::PreviewOrientation::portrait;
    case avf::AVCaptureVideoOrientation::portraitUpsideDown:
      return capture::PreviewOrientation::portraitUpsideDown;
    case avf::AVCaptureVideoOrientation::landscapeRight:
      return capture::PreviewOrientation::landscapeRight;
    case avf::AVCaptureVideoOrientation::landscapeLeft:
      return capture::PreviewOrientation::landscapeLeft;
  }
  return capture::PreviewOrientation::unknown;
}

}  // namespace

std::shared_ptr<IDCaptureVC> IDCaptureVC::make(IDDocumentType documentType, int stepIndex, IDScanStep step) {
  // The frame queue and the photo queue hold the screen while they call it,
  // so either can let go of it last; the screen is a UI object and is
  // destroyed on the main thread whoever lets go last.
  return std::shared_ptr<IDCaptureVC>(new IDCaptureVC(documentType, stepIndex, std::move(step)),
                                      [](IDCaptureVC* vc) {
                                        if (dispatch::isMainThread()) {
                                          delete vc;
                                          return;
                                        }
                                        dispatch::DispatchQueue::main().async([vc] { delete vc; });
                                      });
}

IDCaptureVC::IDCaptureVC(IDDocumentType documentType, int stepIndex, IDScanStep step)
    : documentType_(documentType),
      stepIndex_(stepIndex),
      step_(std::move(step)),
      state_(std::make_unique<State>()) {
  state_->frontHintImageView->setContentMode(UIViewContentMode::scaleAspectFill);
  state_->frontHintImageView->setClipsToBounds(true);
  state_->analyzer = std::make_unique<capture::FrameAnalyzer>(documentType_, step_.title(), state_->flags);
}

IDCaptureVC::~IDCaptureVC() {
  for (auto& observation : state_->observations) observation->invalidate();
  // A screen dropped while its camera runs must not leave the camera running.
  if (auto session = state_->captureSession; session && session->isRunning()) {
    dispatch::DispatchQueue::global(dispatch::DispatchQoS::userInitiated).async([session] {
      session->stopRunning();
    });
  }
}

std::shared_ptr<IDCaptureVC> IDCaptureVC::self() {
  return std::static_pointer_cast<IDCaptureVC>(shared_from_this());
}

// ---- Set-up ------------------------------------------------------------------

void IDCaptureVC::viewDidLoad() {
  UIViewController::viewDidLoad();
  view()->setBackgroundColor(UIColor::black());
  setupTopBar();
  setupBottomSteps();
  setupCameraErrorView();
  setupCamera();
  setupOverlay();
  setupFrontHint();
  setupBackHint();
  const auto kinds = step_.kinds();
  state_->flags.isReadyToScan = !(kinds.front || kinds.back);
  startSession();
}

void IDCaptureVC::setupTopBar() {
  auto& s = *state_;
  const auto& root = view();
  s.topBar->setAxis(NSLayoutConstraintAxis::horizontal);
  s.topBar->setAlignment(UIStackView::Alignment::center);
  s.topBar->setDistribution(UIStackView::Distribution::fill);
  s.topBar->setSpacing(8);
  s.topBar->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(s.topBar);
  NSLayoutConstraint::activate({
      s.topBar->topAnchor().constraintEqualTo(root->safeAreaLayoutGuide()->topAnchor(), 4),
      s.topBar->leadingAnchor().constraintEqualTo(root->leadingAnchor(), 12),
      s.topBar->trailingAnchor().constraintEqualTo(root->trailingAnchor(), -12),
  });

  std::weak_ptr<IDCaptureVC> weak = self();
  for (auto [button, symbol] :
       {std::pair{s.backButton, "chevron.left"}, std::pair{s.torchButton, "bolt.fill"}}) {
    button->setImage(UIImage::systemName(symbol), UIControlState::normal);
    button->setTintColor(UIColor::white());
    button->setContentEdgeInsets({8, 8, 8, 8});
  }
  s.backButton->addTarget(
      self(),
      [weak] {
        if (auto me = weak.lock()) me->onBack();
      },
      UIControlEvents::touchUpInside);
  s.torchButton->addTarget(
      self(),
      [weak] {
        if (auto me = weak.lock()) me->toggleTorch();
      },
      UIControlEvents::touchUpInside);
  auto spacer = std::make_shared<UIView>();
  spacer->setContentHuggingPriority(UILayoutPriority{1}, NSLayoutConstraintAxis::horizontal);
  s.topBar->addArrangedSubview(s.backButton);
  s.topBar->addArrangedSubview(spacer);
  s.topBar->addArrangedSubview(s.torchButton);
}

void IDCaptureVC::setupBottomSteps() {
  auto& s = *state_;
  const auto& root = view();
  s.bottomStepsStack->setAxis(NSLayoutConstraintAxis::horizontal);
  s.bottomStepsStack->setAlignment(UIStackView::Alignment::center);
  s.bottomStepsStack->setDistribution(UIStackView::Distribution::equalCentering);
  s.bottomStepsStack->setSpacing(8);
  s.bottomStepsStack->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(s.bottomStepsStack);
  NSLayoutConstraint::activate({
      s.bottomStepsStack->leadingAnchor().constraintEqualTo(root->leadingAnchor(), 16),
      s.bottomStepsStack->trailingAnchor().constraintEqualTo(root->trailingAnchor(), -16),
      s.bottomStepsStack->bottomAnchor().constraintEqualTo(root->safeAreaLayoutGuide()->bottomAnchor(), -8),
      s.bottomStepsStack->heightAnchor().constraintEqualToConstant(48),
  });
  if (isFaceOnlyMode) {
    s.bottomStepsStack->setHidden(true);
    return;
  }
  const auto& steps = morvik::steps(documentType_);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    auto button = std::make_shared<UIButton>(UIButton::ButtonType::system);
    button->setTitle(capture::shortTitle(steps[i].title()), UIControlState::normal);
    button->titleLabel()->setFont(semibold(18));
    button->setTitleColor(UIColor::label(), UIControlState::normal);
    button->setBackgroundColor(UIColor::systemBackground().withAlphaComponent(0.85));
    button->layer()->setCornerRadius(12);
    button->layer()->setBorderWidth(1);
    button->layer()->setBorderColor(UIColor::systemBlue().cgColor());
    button->setContentEdgeInsets({8, 16, 8, 16});
    button->setTag(static_cast<int>(i));
    s.stepButtons.push_back(button);
    s.bottomStepsStack->addArrangedSubview(button);
    if (i + 1 < steps.size()) {
      auto arrow = std::make_shared<UILabel>();
      arrow->setText("\u203A");
      arrow->setTextColor(UIColor::label());
      arrow->setFont(semibold(22));
      s.bottomStepsStack->addArrangedSubview(arrow);
    }
  }
  updateStepButtons();
}

void IDCaptureVC::updateStepButtons() {
  for (const auto& button : state_->stepButtons) {
    const int index = button->tag();
    if (index == stepIndex_) {
      button->layer()->setBorderColor(UIColor::systemBlue().cgColor());
      button->setBackgroundColor(UIColor::systemBackground());
    } else if (index < stepIndex_) {
      button->layer()->setBorderColor(UIColor::systemGreen().cgColor());
      button->setBackgroundColor(UIColor::systemBackground());
      const auto title = button->title(UIControlState::normal).value_or("");
      button->setTitle("\u2713 " + title, UIControlState::normal);
    } else {
      button->layer()->setBorderColor(UIColor::systemGray4().cgColor());
      button->setBackgroundColor(UIColor::systemGray6().withAlphaComponent(0.8));
    }
    // The step bar only shows where the user is.
    button->setEnabled(false);
  }
}

void IDCaptureVC::setupCameraErrorView() {
  auto& s = *state_;
  const auto& root = view();
  s.previewContainer->setBackgroundColor(UIColor(0.12, 1));
  s.previewContainer->layer()->setCornerRadius(22);
  s.previewContainer->setClipsToBounds(true);
  s.previewContainer->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(s.previewContainer);
  NSLayoutConstraint::activate({
      s.previewContainer->topAnchor().constraintEqualTo(s.topBar->bottomAnchor(), 8),
      s.previewContainer->leadingAnchor().constraintEqualTo(root->leadingAnchor(), 8),
      s.previewContainer->trailingAnchor().constraintEqualTo(root->trailingAnchor(), -8),
      s.previewContainer->bottomAnchor().constraintEqualTo(s.bottomStepsStack->topAnchor(), -8),
  });
  s.cameraErrorIcon->setTintColor(UIColor::lightText());
  s.cameraErrorIcon->setContentMode(UIViewContentMode::scaleAspectFit);
  s.cameraErrorStack->setAxis(NSLayoutConstraintAxis::vertical);
  s.cameraErrorStack->setAlignment(UIStackView::Alignment::center);
  s.cameraErrorStack->setSpacing(16);
  s.cameraErrorStack->addArrangedSubview(s.cameraErrorIcon);
  s.cameraErrorStack->addArrangedSubview(s.cameraErrorLabel);
  s.cameraErrorStack->setTranslatesAutoresizingMaskIntoConstraints(false);
  s.previewContainer->addSubview(s.cameraErrorStack);
  NSLayoutConstraint::activate({
      s.cameraErrorStack->centerXAnchor().constraintEqualTo(s.previewContainer->centerXAnchor()),
      s.cameraErrorStack->centerYAnchor().constraintEqualTo(s.previewContainer->centerYAnchor()),
  });
}

void IDCaptureVC::setupCamera() {
  auto& s = *state_;
  const auto kinds = step_.kinds();
  const std::string lowered = [&] {
    std::string t = step_.title();
    std::transform(t.begin(), t.end(), t.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return t;
  }();
  std::weak_ptr<IDCaptureVC> weak = self();

  s.captureSession->beginConfiguration();
  s.captureSession->setSessionPreset(avf::AVCaptureSession::Preset::photo);
  const auto position =
      kinds.face ? avf::AVCaptureDevice::Position::front : avf::AVCaptureDevice::Position::back;
  if (auto device = avf::AVCaptureDevice::default_(avf::AVCaptureDevice::DeviceType::builtInWideAngleCamera,
                                                   avf::AVMediaType::video, position)) {
    s.videoDevice = device;
    try {
      auto input = avf::AVCaptureDeviceInput::make(device);
      if (s.captureSession->canAddInput(input)) s.captureSession->addInput(input);
    } catch (const foundation::NSError&) {
      // The platform drops this failure too; the error view stays hidden.
    }
    auto observe = [&](avf::AVCaptureDevice::KeyPath key, std::atomic<bool> capture::SharedFlags::*flag) {
      s.observations.push_back(device->observe(
          key, avf::NSKeyValueObservingOptions{true, true, false},
          [weak, flag](avf::AVCaptureDevice& d, const avf::NSKeyValueObservedChange<bool>&) {
            auto me = weak.lock();
            if (!me) return;
            const bool value = flag == &capture::SharedFlags::isAdjustingFocus ? d.isAdjustingFocus()
                                                                               : d.isAdjustingExposure();
            (me->state_->flags.*flag).store(value);
          }));
    };
    observe(avf::AVCaptureDevice::KeyPath::isAdjustingFocus, &capture::SharedFlags::isAdjustingFocus);
    observe(avf::AVCaptureDevice::KeyPath::isAdjustingExposure, &capture::SharedFlags::isAdjustingExposure);
  }
  if (s.captureSession->canAddOutput(s.photoOutput)) s.captureSession->addOutput(s.photoOutput);

  s.videoOutput->setAlwaysDiscardsLateVideoFrames(true);
  s.videoOutput->setSampleBufferDelegate(self(), s.frameQueue);
  if (s.captureSession->canAddOutput(s.videoOutput)) s.captureSession->addOutput(s.videoOutput);

  if (s.captureSession->canAddOutput(s.metadataOutput)) {
    s.captureSession->addOutput(s.metadataOutput);
    s.metadataOutput->setMetadataObjectsDelegate(self(), dispatch::DispatchQueue::main());
    std::vector<avf::AVMetadataObjectType> types;
    const bool barcodeType = documentType_ == IDDocumentType::driversLicenseOrIDCard ||
                             documentType_ == IDDocumentType::passportCard;
    if (lowered.find("back") != std::string::npos && barcodeType)
      types.push_back(avf::AVMetadataObjectTypePDF417Code);
    if (lowered.find("face") != std::string::npos) types.push_back(avf::AVMetadataObjectTypeFace);
    s.metadataOutput->setMetadataObjectTypes(types);
  }
  s.captureSession->commitConfiguration();

  s.previewLayer = avf::AVCaptureVideoPreviewLayer::make(s.captureSession);
  s.previewLayer->setVideoGravity(avf::AVLayerVideoGravity::resizeAspectFill);
  s.previewContainer->layer()->addSublayer(s.previewLayer);
  if (kinds.face) {
    if (auto connection = s.previewLayer->connection()) {
      connection->setAutomaticallyAdjustsVideoMirroring(false);
      connection->setVideoMirrored(true);
    }
  }
  s.cameraErrorStack->setHidden(s.videoDevice != nullptr);
  publishPreview();
}

void IDCaptureVC::publishPreview() {
  auto& s = *state_;
  capture::PreviewSnapshot snapshot;
  if (s.previewLayer) {
    snapshot.previewSize = s.previewLayer->bounds().size;
    if (auto connection = s.previewLayer->connection()) {
      snapshot.orientation = capture::visionOrientation(toPreviewOrientation(connection->videoOrientation()));
      snapshot.mirrored = connection->isVideoMirrored();
    }
  }
  s.analyzer->setPreview(snapshot);
}

void IDCaptureVC::setupOverlay() {
  auto& s = *state_;
  s.overlayView->onLayout = [weak = std::weak_ptr<IDCaptureVC>(self())] {
    auto me = weak.lock();
    if (!me) return;
    me->updateOverlayMask();
    me->layoutFrontHint();
    me->layoutBackHint();
  };
  s.overlayView->setBackgroundColor(UIColor::clear());
  s.overlayView->setUserInteractionEnabled(false);
  s.overlayView->setTranslatesAutoresizingMaskIntoConstraints(false);
  s.previewContainer->addSubview(s.overlayView);
  NSLayoutConstraint::activate({
      s.overlayView->topAnchor().constraintEqualTo(s.previewContainer->topAnchor()),
      s.overlayView->bottomAnchor().constraintEqualTo(s.previewContainer->bottomAnchor()),
      s.overlayView->leadingAnchor().constraintEqualTo(s.previewContainer->leadingAnchor()),
      s.overlayView->trailingAnchor().constraintEqualTo(s.previewContainer->trailingAnchor()),
  });
  s.progressLayer->setStrokeColor(UIColor::systemGreen().cgColor());
  s.progressLayer->setFillColor(UIColor::clear().cgColor());
  s.progressLayer->setLineWidth(6);
  s.progressLayer->setLineCap(quartz::CAShapeLayerLineCap::round);
  s.progressLayer->setStrokeStart(0);
  s.progressLayer->setStrokeEnd(0);
  s.overlayView->layer()->addSublayer(s.progressLayer);

  for (const auto& label : {s.lowLightLabel, s.livenessLabel}) {
    label->setTextColor(UIColor::white());
    label->setAlpha(0);
    label->setFont(semibold(18));
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    s.previewContainer->addSubview(label);
  }
  s.lowLightLabel->setText("\u2022 need more light");
  s.livenessLabel->setText("");
  NSLayoutConstraint::activate({
      s.lowLightLabel->bottomAnchor().constraintEqualTo(s.previewContainer->bottomAnchor(), -12),
      s.lowLightLabel->centerXAnchor().constraintEqualTo(s.previewContainer->centerXAnchor()),
      s.livenessLabel->bottomAnchor().constraintEqualTo(s.lowLightLabel->topAnchor(), -8),
      s.livenessLabel->centerXAnchor().constraintEqualTo(s.previewContainer->centerXAnchor()),
  });
}

std::shared_ptr<UIImage> IDCaptureVC::hintImage() const {
  const auto kinds = step_.kinds();
  const int side = kinds.front ? 0 : (kinds.back ? 1 : 2);
  if (side == 2) return bundleImage("drivers-license");
  auto pick = [](const char* first, const char* fallback) {
    auto image = bundleImage(first);
    if (!image && fallback) image = bundleImage(fallback);
    return image;
  };
  switch (documentType_.value()) {
    case IDDocumentType::Value::driversLicenseOrIDCard:
      return side == 0 ? pick("DRIVER LICENSE - FRONT", "drivers-license")
                       : pick("DRIVER LICENSE - BACK", "drivers-license");
    case IDDocumentType::Value::passport:
      return side == 0 ? pick("PASSPORT - FRONT", nullptr) : pick("PASSPORT - BACK", "PASSPORT - FRONT");
    case IDDocumentType::Value::passportCard:
      return side == 0 ? pick("PASSPORT CARD - FRONT", "PASSPORT - FRONT")
                       : pick("PASSPORT CARD - BACK", "PASSPORT - FRONT");
    case IDDocumentType::Value::internationalID:
      return side == 0 ? pick("ID CARD - FRONT", "DRIVER LICENSE - FRONT")
                       : pick("INTERNATIONAL ID - BACK", "DRIVER LICENSE - BACK");
  }
  return nullptr;
}

void IDCaptureVC::setupFrontHint() {
  if (!step_.kinds().front) return;
  auto& s = *state_;
  s.frontHintContainer->setUserInteractionEnabled(false);
  s.frontHintContainer->setAlpha(0);
  s.previewContainer->addSubview(s.frontHintContainer);
  s.frontHintContainer->addSubview(s.frontHintImageView);
  auto image = hintImage();
  if (!image) image = bundleImage("drivers-license");
  s.frontHintImageView->setImage(image);
  s.frontHintImageView->layer()->addSublayer(s.frontHintScanLine);
}

void IDCaptureVC::setupBackHint() {
  if (!step_.kinds().back) return;
  auto& s = *state_;
  s.backHintContainer->setUserInteractionEnabled(false);
  s.backHintContainer->setAlpha(0);
  s.previewContainer->addSubview(s.backHintContainer);
  auto image = hintImage();
  if (!image) image = bundleImage("drivers-license");
  auto imageView = std::make_shared<UIImageView>(image);
  imageView->setContentMode(UIViewContentMode::scaleAspectFill);
  imageView->setClipsToBounds(true);
  imageView->setTag(kBackHintImageTag);
  s.backHintContainer->addSubview(imageView);
  s.backHintContainer->layer()->addSublayer(s.backHintScanLine);
}

// ---- Appearance and layout ----------------------------------------------------

namespace {

// The sweep of a hint's scan line from the top of its container to the bottom.
quartz::CABasicAnimation scanAnimation(const quartz::CALayer& container, const quartz::CALayer& line) {
  const double lineHeight = line.bounds().size.height;
  const double travel = std::max(0.0, container.bounds().size.height - lineHeight);
  quartz::CABasicAnimation animation("position.y");
  animation.fromValue = lineHeight / 2;
  animation.toValue = travel + lineHeight / 2;
  animation.duration = 1.4;
  animation.timingFunction = quartz::CAMediaTimingFunction(quartz::CAMediaTimingFunctionName::easeInEaseOut);
  animation.fillMode = quartz::CAMediaTimingFillMode::forwards;
  animation.isRemovedOnCompletion = false;
  return animation;
}

}  // namespace

void IDCaptureVC::playFrontHintIfNeeded() {
  auto& s = *state_;
  if (!step_.kinds().front || s.didPlayFrontHint) return;
  s.didPlayFrontHint = true;
  layoutFrontHint();
  s.frontHintContainer->setAlpha(1);
  s.frontHintScanLine->add(scanAnimation(*s.frontHintContainer->layer(), *s.frontHintScanLine), "onceScan");
  s.frontHintContainer->setTransform(quartz::CGAffineTransform::makeScale(0.98, 0.98));
  auto container = s.frontHintContainer;
  UIView::animate(0.35, 0, UIViewAnimationOptions::curveEaseOut,
                  [container] { container->setTransform(quartz::CGAffineTransform::identity()); });
  fadeOutHint(container, s.frontHintScanLine);
}

// Both hints fade after 1.5 s; the end of the fade makes the step ready to scan.
void IDCaptureVC::fadeOutHint(const std::shared_ptr<UIView>& container,
                              const std::shared_ptr<quartz::CAGradientLayer>& scanLine) {
  std::weak_ptr<IDCaptureVC> weak = self();
  UIView::animate(
      0.3, 1.5, {}, [container] { container->setAlpha(0); },
      [weak, scanLine](bool) {
        auto me = weak.lock();
        if (!me) return;
        scanLine->removeAllAnimations();
        me->state_->flags.isReadyToScan = true;
      });
}

void IDCaptureVC::playBackHintIfNeeded() {
  auto& s = *state_;
  if (!step_.kinds().back || s.didPlayBackHint) return;
  s.didPlayBackHint = true;
  layoutBackHint();
  s.backHintContainer->setAlpha(1);
  s.backHintScanLine->add(scanAnimation(*s.backHintContainer->layer(), *s.backHintScanLine), "onceScanBack");
  fadeOutHint(s.backHintContainer, s.backHintScanLine);
}

void IDCaptureVC::viewDidAppear(bool animated) {
  UIViewController::viewDidAppear(animated);
  playFrontHintIfNeeded();
  playBackHintIfNeeded();
  if (step_.kinds().face) {
    for (const auto& text : state_->analyzer->prepareLivenessOnAppear()) setLivenessText(self(), text);
    state_->livenessLabel->setAlpha(1);
  }
}

void IDCaptureVC::viewWillDisappear(bool animated) {
  UIViewController::viewWillDisappear(animated);
  stopSession();
}

void IDCaptureVC::viewDidLayoutSubviews() {
  UIViewController::viewDidLayoutSubviews();
  auto& s = *state_;
  if (s.previewLayer) s.previewLayer->setFrame(s.previewContainer->bounds());
  updateOverlayMask();
  layoutFrontHint();
  layoutBackHint();
  publishPreview();
}

void IDCaptureVC::updateOverlayMask() {
  auto& s = *state_;
  const auto overlayLayer = s.overlayView->layer();
  const CGRect bounds = s.overlayView->bounds();
  for (const auto& sublayer : std::vector(overlayLayer->sublayers())) {
    if (sublayer != s.progressLayer) sublayer->removeFromSuperlayer();
  }
  const bool face = step_.kinds().face;
  const CGRect cut = capture::cutoutRect(bounds.size, face);
  const auto cutout = face ? quartz::UIBezierPath::ovalIn(cut)
                           : quartz::UIBezierPath::roundedRect(cut, capture::kCardCornerRadius);
  s.progressLayer->setPath(cutout.cgPath());
  auto dimming = quartz::CAShapeLayer::layer();
  auto path = quartz::UIBezierPath::rect(bounds);
  path.append(cutout);
  dimming->setPath(path.cgPath());
  dimming->setFillRule(quartz::CAShapeLayerFillRule::evenOdd);
  dimming->setFillColor(UIColor::black().withAlphaComponent(kDimAlpha).cgColor());
  overlayLayer->addSublayer(dimming);
  s.progressLayer->setStrokeEnd(s.goodProgress);
}

void IDCaptureVC::layoutFrontHint() {
  if (!step_.kinds().front) return;
  auto& s = *state_;
  const CGRect cut = capture::cutoutRect(s.overlayView->bounds().size, false);
  const CGRect frame = s.overlayView->convert(cut, s.previewContainer.get());
  if (sameFrame(frame, s.frontHintContainer->frame())) return;
  s.frontHintContainer->setFrame(frame);
  s.frontHintImageView->setFrame(s.frontHintContainer->bounds());
  s.frontHintImageView->layer()->setCornerRadius(capture::kCardCornerRadius);
  s.frontHintScanLine->setFrame(CGRect::make(0, 0, frame.size.width, 16));
}

void IDCaptureVC::layoutBackHint() {
  if (!step_.kinds().back) return;
  auto& s = *state_;
  const CGRect cut = capture::cutoutRect(s.overlayView->bounds().size, false);
  const CGRect frame = s.overlayView->convert(cut, s.previewContainer.get());
  if (sameFrame(frame, s.backHintContainer->frame())) return;
  s.backHintContainer->setFrame(frame);
  if (auto imageView =
          std::dynamic_pointer_cast<UIImageView>(s.backHintContainer->viewWithTag(kBackHintImageTag))) {
    imageView->setFrame(s.backHintContainer->bounds());
    imageView->layer()->setCornerRadius(capture::kCardCornerRadius);
  }
  s.backHintScanLine->setFrame(CGRect::make(0, 0, frame.size.width, 16));
}

// ---- Actions ----------------------------------------------------------------------

void IDCaptureVC::onBack() { navigateBack(); }

void IDCaptureVC::navigateBack() {
  auto navigation = navigationController();
  if (!navigation) return;
  for (const auto& controller : navigation->viewControllers()) {
    if (std::dynamic_pointer_cast<IDScanStepsVC>(controller)) {
      navigation->popToViewController(controller, true);
      return;
    }
  }
  navigation->popViewController(true);
}

void IDCaptureVC::toggleTorch() {
  state_->isTorchOn = !state_->isTorchOn;
  setTorch(state_->isTorchOn);
}

void IDCaptureVC::setTorch(bool on) {
  auto& s = *state_;
  if (!s.videoDevice || !s.videoDevice->hasTorch()) return;
  try {
    s.videoDevice->lockForConfiguration();
    s.videoDevice->setTorchMode(on ? avf::AVCaptureDevice::TorchMode::on
                                   : avf::AVCaptureDevice::TorchMode::off);
    s.videoDevice->unlockForConfiguration();
  } catch (const foundation::NSError&) {
    // A torch that cannot be locked keeps its mode.
  }
  s.torchButton->setTintColor(on ? UIColor::systemYellow() : UIColor::white());
}

void IDCaptureVC::startSession() {
  auto session = state_->captureSession;
  dispatch::DispatchQueue::global(dispatch::DispatchQoS::userInitiated).async([session] {
    session->startRunning();
  });
}

void IDCaptureVC::stopSession() {
  auto session = state_->captureSession;
  dispatch::DispatchQueue::global(dispatch::DispatchQoS::userInitiated).async([session] {
    session->stopRunning();
  });
  setTorch(false);
}

void IDCaptureVC::setLivenessText(const std::shared_ptr<IDCaptureVC>& screen, const std::string& text) {
  if (!screen) return;
  if (dispatch::isMainThread()) {
    screen->state_->livenessLabel->setText(text);
    return;
  }
  std::weak_ptr<IDCaptureVC> weak = screen;
  dispatch::DispatchQueue::main().async([weak, text] {
    if (auto me = weak.lock()) me->state_->livenessLabel->setText(text);
  });
}

// ---- Frames -------------------------------------------------------------------------

void IDCaptureVC::captureOutput(avf::AVCaptureOutput&, const avf::CMSampleBufferRef& didOutput,
                                avf::AVCaptureConnection&) {
  processFrame(didOutput);
}

void IDCaptureVC::processFrame(const avf::CMSampleBufferRef& sampleBuffer) {
  std::optional<double> brightness;
  if (auto attachments = avf::CMCopyDictionaryOfAttachments(avf::kCFAllocatorDefault, sampleBuffer,
                                                            avf::kCMAttachmentMode_ShouldPropagate)) {
    if (auto exif = attachments->find(avf::kCGImagePropertyExifDictionary); exif != attachments->end()) {
      if (const auto* dictionary = exif->second.dictionary()) {
        if (auto value = dictionary->find(avf::kCGImagePropertyExifBrightnessValue);
            value != dictionary->end()) {
          brightness = value->second.number();
        }
      }
    }
  }
  const auto outcome =
      state_->analyzer->processFrame(avf::CMSampleBufferGetImageBuffer(sampleBuffer), brightness);
  // Counted once the frame's UI work is queued, so a caller that sees the
  // count and then drains the main queue sees that work done.
  struct CountWhenDone {
    std::atomic<int>& count;
    ~CountWhenDone() { count.fetch_add(1); }
  } counted{state_->framesHandled};
  if (!outcome.analysed) return;
  // Everything the frame asks of the UI hops to the main queue, in the order
  // the analysis produced it; the screen is held weakly.
  std::weak_ptr<IDCaptureVC> weak = self();
  dispatch::DispatchQueue::main().async([weak, outcome] {
    auto me = weak.lock();
    if (!me) return;
    if (outcome.drawOutline) {
      const auto& c = *outcome.drawOutline;
      me->drawPolygon(c.topLeft, c.topRight, c.bottomLeft, c.bottomRight);
    }
    if (outcome.fadeOutline) me->fadeOutRectangle();
    for (const auto& text : outcome.livenessTexts) me->state_->livenessLabel->setText(text);
    if (outcome.completeLiveness) me->completeLiveness();
    me->updateProgress(true, outcome.good);
  });
}

void IDCaptureVC::drawPolygon(const CGPoint& topLeft, const CGPoint& topRight, const CGPoint& bottomLeft,
                              const CGPoint& bottomRight) {
  auto& s = *state_;
  if (!s.previewLayer) return;
  quartz::UIBezierPath path;
  path.move(topLeft);
  path.addLine(topRight);
  path.addLine(bottomRight);
  path.addLine(bottomLeft);
  path.close();
  if (!s.rectMaskLayer->superlayer()) {
    s.rectMaskLayer->setFillColor(UIColor::clear().cgColor());
    s.rectMaskLayer->setStrokeColor(UIColor::systemBlue().cgColor());
    s.rectMaskLayer->setLineWidth(2);
    // A layer leaving the tree loses its animations, so the last fade does
    // not keep a re-inserted outline invisible.
    s.rectMaskLayer->removeAllAnimations();
    s.previewLayer->insertSublayer(s.rectMaskLayer, 1);
  }
  quartz::CATransaction::begin();
  quartz::CATransaction::setAnimationDuration(0.1);
  s.rectMaskLayer->setPath(path.cgPath());
  quartz::CATransaction::commit();
}

void IDCaptureVC::fadeOutRectangle() {
  quartz::CABasicAnimation fade("opacity");
  fade.fromValue = 1.0;
  fade.toValue = 0.0;
  fade.duration = 0.25;
  fade.timingFunction = quartz::CAMediaTimingFunction(quartz::CAMediaTimingFunctionName::easeInEaseOut);
  fade.isRemovedOnCompletion = false;
  fade.fillMode = quartz::CAMediaTimingFillMode::forwards;
  state_->rectMaskLayer->add(fade, "opacity");
  std::weak_ptr<IDCaptureVC> weak = self();
  dispatch::DispatchQueue::main().asyncAfter(dispatch::DispatchTime::now() + 0.26, [weak] {
    if (auto me = weak.lock()) me->state_->rectMaskLayer->removeFromSuperlayer();
  });
}

void IDCaptureVC::metadataOutput(avf::AVCaptureOutput&,
                                 const std::vector<std::shared_ptr<avf::AVMetadataObject>>& objects,
                                 avf::AVCaptureConnection&) {
  handleMetadataObjects(objects);
}

void IDCaptureVC::handleMetadataObjects(const std::vector<std::shared_ptr<avf::AVMetadataObject>>& objects) {
  const bool found = std::any_of(objects.begin(), objects.end(), [](const auto& object) {
    return dynamic_cast<const avf::AVMetadataMachineReadableCodeObject*>(object.get()) &&
           object->type == avf::AVMetadataObjectTypePDF417Code;
  });
  state_->flags.barcodeDetected = found;
}

void IDCaptureVC::updateProgress(bool lightOK, bool good) {
  auto& s = *state_;
  s.lowLightLabel->setAlpha(lightOK ? 0 : 1);
  if (step_.kinds().face) s.livenessLabel->setAlpha(1);
  s.goodProgress = capture::nextProgress(s.goodProgress, good);
  s.progressLayer->setStrokeEnd(s.goodProgress);
  if (s.goodProgress >= 1 && !s.isCapturing) startPhotoCapture();
}

void IDCaptureVC::completeLiveness() {
  setLivenessText(self(), capture::kTextAllGood);
  if (!state_->isCapturing) startPhotoCapture();
}

// ---- Photo ---------------------------------------------------------------------------

void IDCaptureVC::startPhotoCapture() {
  auto& s = *state_;
  if (s.isCapturing || isCapturePaused) return;
  s.isCapturing = true;
  auto settings = avf::AVCapturePhotoSettings::make();
  if (s.videoDevice && s.videoDevice->isFlashAvailable()) {
    settings.flashMode =
        s.isTorchOn ? avf::AVCaptureDevice::FlashMode::off : avf::AVCaptureDevice::FlashMode::auto_;
  }
  s.photoOutput->capturePhoto(settings, self());
}

void IDCaptureVC::photoOutput(avf::AVCapturePhotoOutput&, const std::shared_ptr<avf::AVCapturePhoto>& photo,
                              const std::optional<foundation::NSError>&) {
  processCapturedPhoto(photo);
}

std::shared_ptr<UIImage> normalizedImage(const std::shared_ptr<UIImage>& image) {
  if (!image || image->imageOrientation() == UIImage::Orientation::up) return image;
  auto upright = image->uprightImage();
  return upright ? upright : image;
}

std::shared_ptr<UIImage> mirroredImage(const std::shared_ptr<UIImage>& image) {
  if (!image) return image;
  const CGSize size = image->size();
  UIGraphicsImageRendererFormat format;
  format.scale = image->scale();
  format.opaque = false;
  UIGraphicsImageRenderer renderer(size, format);
  auto mirrored = renderer.image([&](UIGraphicsImageRendererContext& context) {
    context.cgContext().translateBy(size.width, 0);
    context.cgContext().scaleBy(-1, 1);
    image->draw(CGPoint{0, 0});
  });
  return mirrored ? mirrored : image;
}

namespace {

std::optional<vision::VNRectangleObservation> detectDocumentRectangle(const quartz::CGImageRef& image) {
  vision::VNDetectRectanglesRequest request;
  request.maximumObservations = 1;
  request.minimumSize = 0.3f;
  request.minimumConfidence = 0.75f;
  request.minimumAspectRatio = 0.3f;
  request.quadratureTolerance = 20;
  vision::VNImageRequestHandler handler(image, quartz::CGImagePropertyOrientation::up);
  if (!handler.perform({&request}) || request.results().empty()) return std::nullopt;
  return request.results().front();
}

std::shared_ptr<UIImage> cropToRectangle(const coreimage::CIImage& image, const CGRect& box, double margin,
                                         const coreimage::CIContext& context) {
  const auto rect = capture::documentCropRect(box, image.extent(), margin);
  if (!rect) return nullptr;
  const auto cropped = image.cropped(*rect);
  auto bitmap = context.createCGImage(cropped, cropped.extent());
  if (!bitmap) return nullptr;
  return UIImage::make(bitmap, 1, UIImage::Orientation::up);
}

}  // namespace

void IDCaptureVC::processCapturedPhoto(const std::shared_ptr<avf::AVCapturePhoto>& photo) {
  std::optional<foundation::Data> data;
  if (photo) data = photo->fileDataRepresentation();
  if (!data) {
    deliverCapturedImage(nullptr);
    return;
  }
  auto image = UIImage::fromData(*data);
  if (!image) {
    deliverCaptureFailure();
    return;
  }
  auto upright = normalizedImage(image);
  if (step_.kinds().face) {
    deliverCapturedImage(mirroredImage(upright));
    return;
  }
  auto bitmap = upright->cgImage();
  if (!bitmap) {
    deliverCapturedImage(upright);
    return;
  }
  const coreimage::CIImage ciImage(bitmap);
  const auto observation = detectDocumentRectangle(bitmap);
  if (!observation) {
    deliverCapturedImage(upright);
    return;
  }
  auto cropped = cropToRectangle(ciImage, observation->boundingBox, 0.1, *state_->ciContext);
  deliverCapturedImage(cropped ? cropped : upright);
}

void IDCaptureVC::deliverCapturedImage(std::shared_ptr<UIImage> image) {
  std::weak_ptr<IDCaptureVC> weak = self();
  dispatch::DispatchQueue::main().async([weak, image = std::move(image)] {
    auto me = weak.lock();
    if (!me) return;
    auto& s = *me->state_;
    s.isCapturing = false;
    s.goodProgress = 0;
    s.progressLayer->setStrokeEnd(0);
    if (me->onCaptured) me->onCaptured(image);
    if (me->onComplete) me->onComplete();
  });
}

void IDCaptureVC::deliverCaptureFailure() { deliverCapturedImage(nullptr); }

}  // namespace morvik

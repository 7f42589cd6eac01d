// The capture screen's stored state, shared by its source file and its tests.
#pragma once

#include <morvik/flow/IDCaptureVC.h>

#include "flow/capture/FrameAnalyzer.h"

#include <morvik/platform/coreimage.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/quartz.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace morvik {

// Redraws used by the photo post-processing; each answers the input when
// nothing can be drawn.
std::shared_ptr<uikit::UIImage> normalizedImage(const std::shared_ptr<uikit::UIImage>& image);
std::shared_ptr<uikit::UIImage> mirroredImage(const std::shared_ptr<uikit::UIImage>& image);

namespace capture_detail {

using uikit::UIColor;
using uikit::UIFont;

inline UIFont semibold(double size) { return UIFont::systemFont(size, UIFont::Weight::semibold); }

inline std::shared_ptr<quartz::CAGradientLayer> makeScanLine() {
  auto line = quartz::CAGradientLayer::layer();
  const auto green = UIColor::systemGreen();
  line->setColors({green.withAlphaComponent(0).cgColor(), green.withAlphaComponent(0.85).cgColor(),
                   green.withAlphaComponent(0).cgColor()});
  line->setLocations(std::vector<double>{0, 0.5, 1});
  line->setStartPoint({0.5, 0});
  line->setEndPoint({0.5, 1});
  return line;
}

// The overlay: its cutout follows its own size, which settles only after the
// screen's view has been laid out (it sits two levels down), so it reports
// each layout pass that follows a change of its size.
class OverlayView : public uikit::UIView {
 public:
  std::function<void()> onLayout;

  void layoutSubviews() override {
    UIView::layoutSubviews();
    if (onLayout) onLayout();
  }

 protected:
  void boundsDidChange() override {
    UIView::boundsDidChange();
    setNeedsLayout();
  }
};

}  // namespace capture_detail

// Everything the screen keeps. UI objects are main-thread only; the frame
// queue reaches only `flags` (atomics) and `analyzer` (its own state and a
// locked preview snapshot).
struct IDCaptureVC::State {
  using UIView = uikit::UIView;
  using UIStackView = uikit::UIStackView;
  using UIButton = uikit::UIButton;
  using UIImageView = uikit::UIImageView;
  using UIImage = uikit::UIImage;
  using UILabel = uikit::UILabel;
  using UIFont = uikit::UIFont;
  using UIColor = uikit::UIColor;

  // Camera objects.
  std::shared_ptr<avf::AVCaptureSession> captureSession = avf::AVCaptureSession::make();
  std::shared_ptr<avf::AVCaptureDevice> videoDevice;
  std::shared_ptr<avf::AVCapturePhotoOutput> photoOutput = avf::AVCapturePhotoOutput::make();
  std::shared_ptr<avf::AVCaptureVideoDataOutput> videoOutput = avf::AVCaptureVideoDataOutput::make();
  std::shared_ptr<avf::AVCaptureMetadataOutput> metadataOutput = avf::AVCaptureMetadataOutput::make();
  std::shared_ptr<avf::AVCaptureVideoPreviewLayer> previewLayer;
  std::shared_ptr<coreimage::CIContext> ciContext = coreimage::CIContext::make();
  std::vector<std::shared_ptr<avf::NSKeyValueObservation>> observations;
  dispatch::DispatchQueue frameQueue{"video.sample.buffer.queue"};

  // Views and layers.
  std::shared_ptr<UIView> previewContainer = std::make_shared<UIView>();
  std::shared_ptr<UIStackView> topBar = std::make_shared<UIStackView>();
  std::shared_ptr<UIButton> backButton = std::make_shared<UIButton>(UIButton::ButtonType::system);
  std::shared_ptr<UIButton> torchButton = std::make_shared<UIButton>(UIButton::ButtonType::system);
  std::shared_ptr<UIStackView> bottomStepsStack = std::make_shared<UIStackView>();
  std::vector<std::shared_ptr<UIButton>> stepButtons;
  std::shared_ptr<UIStackView> cameraErrorStack = std::make_shared<UIStackView>();
  std::shared_ptr<UIImageView> cameraErrorIcon = std::make_shared<UIImageView>(
      UIImage::systemName("camera.fill", UIImage::SymbolConfiguration{48, UIFont::Weight::regular}));
  std::shared_ptr<UILabel> cameraErrorLabel = makeCameraErrorLabel();
  std::shared_ptr<capture_detail::OverlayView> overlayView = std::make_shared<capture_detail::OverlayView>();
  std::shared_ptr<quartz::CAShapeLayer> progressLayer = quartz::CAShapeLayer::layer();
  std::shared_ptr<UILabel> lowLightLabel = std::make_shared<UILabel>();
  std::shared_ptr<UILabel> livenessLabel = std::make_shared<UILabel>();
  std::shared_ptr<UIView> frontHintContainer = std::make_shared<UIView>();
  std::shared_ptr<UIImageView> frontHintImageView = std::make_shared<UIImageView>();
  std::shared_ptr<quartz::CAGradientLayer> frontHintScanLine = capture_detail::makeScanLine();
  std::shared_ptr<UIView> backHintContainer = std::make_shared<UIView>();
  std::shared_ptr<quartz::CAGradientLayer> backHintScanLine = capture_detail::makeScanLine();
  std::shared_ptr<quartz::CAShapeLayer> rectMaskLayer = quartz::CAShapeLayer::layer();

  // Main-queue state.
  bool isCapturing = false;
  double goodProgress = 0;
  bool isTorchOn = false;
  bool didPlayFrontHint = false;
  bool didPlayBackHint = false;

  // Shared with the frame queue and the camera's observation callbacks.
  capture::SharedFlags flags;
  std::unique_ptr<capture::FrameAnalyzer> analyzer;
  // Frames the frame queue has finished with (analysed or ignored).
  std::atomic<int> framesHandled{0};

  static std::shared_ptr<UILabel> makeCameraErrorLabel() {
    auto label = std::make_shared<UILabel>();
    label->setText("Can not connect to the camera device");
    label->setTextColor(UIColor::lightText());
    label->setFont(capture_detail::semibold(18));
    return label;
  }
};

}  // namespace morvik

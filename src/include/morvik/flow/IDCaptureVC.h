// IDCaptureVC: the camera screen that captures one image for one scan step
// (a side of a document, or the user's face after a head-turn sequence).
//
// Create it with make(); set onCaptured, onComplete and isFaceOnlyMode before
// its view loads, then push or present it. It finds the document (or face) in
// every camera frame, fills its progress ring while the frames stay good and
// takes the photo by itself. For every photo the owner receives, on the main
// queue, onCaptured (with the image, or null when none came out) and then
// onComplete. The screen keeps running after a delivery and can deliver again
// until its owner removes it (or holds it with isCapturePaused); it never pops
// or dismisses itself.
//
// Threads: every call is main-thread only. Camera frames are analysed on the
// serial queue "video.sample.buffer.queue"; the camera starts and stops on the
// global user-initiated queue.
#pragma once

#include <morvik/Export.h>
#include <morvik/flow/IDDocumentType.h>
#include <morvik/platform/avf.h>
#include <morvik/platform/quartz/CAGradientLayer.h>
#include <morvik/platform/uikit.h>

#include <functional>
#include <memory>

namespace morvik {

class MORVIK_API IDCaptureVC : public uikit::UIViewController,
                               public avf::AVCapturePhotoCaptureDelegate,
                               public avf::AVCaptureVideoDataOutputSampleBufferDelegate,
                               public avf::AVCaptureMetadataOutputObjectsDelegate {
 public:
  static std::shared_ptr<IDCaptureVC> make(IDDocumentType documentType, int stepIndex, IDScanStep step);
  IDCaptureVC(IDDocumentType documentType, int stepIndex, IDScanStep step);
  ~IDCaptureVC() override;

  std::string className() const override { return "IDCaptureVC"; }

  IDDocumentType documentType() const { return documentType_; }
  int stepIndex() const { return stepIndex_; }
  const IDScanStep& step() const { return step_; }

  std::function<void(std::shared_ptr<uikit::UIImage>)> onCaptured;
  std::function<void()> onComplete;
  bool isFaceOnlyMode = false;
  // While true the screen takes no photo (frames are still analysed): its
  // owner is busy with the last one. Main thread.
  bool isCapturePaused = false;

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void viewDidLayoutSubviews() override;

  // Delegate entries of the camera's outputs.
  void photoOutput(avf::AVCapturePhotoOutput& output,
                   const std::shared_ptr<avf::AVCapturePhoto>& didFinishProcessingPhoto,
                   const std::optional<foundation::NSError>& error) override;
  void captureOutput(avf::AVCaptureOutput& output, const avf::CMSampleBufferRef& didOutput,
                     avf::AVCaptureConnection& from) override;
  void metadataOutput(avf::AVCaptureOutput& output,
                      const std::vector<std::shared_ptr<avf::AVMetadataObject>>& didOutput,
                      avf::AVCaptureConnection& from) override;

  // Sets the liveness instruction: at once on the main thread, otherwise
  // posted to the main queue (nothing happens if the screen is gone by then).
  static void setLivenessText(const std::shared_ptr<IDCaptureVC>& screen, const std::string& text);

  struct State;

 private:
  friend struct IDCaptureVCTestAccess;

  std::shared_ptr<IDCaptureVC> self();
  void setupTopBar();
  void setupBottomSteps();
  void updateStepButtons();
  void setupCameraErrorView();
  void setupCamera();
  void setupOverlay();
  void setupFrontHint();
  void setupBackHint();
  std::shared_ptr<uikit::UIImage> hintImage() const;
  void playFrontHintIfNeeded();
  void playBackHintIfNeeded();
  void fadeOutHint(const std::shared_ptr<uikit::UIView>& container,
                   const std::shared_ptr<quartz::CAGradientLayer>& scanLine);
  void updateOverlayMask();
  void layoutFrontHint();
  void layoutBackHint();
  void publishPreview();
  void onBack();
  void navigateBack();
  void toggleTorch();
  void setTorch(bool on);
  void startSession();
  void stopSession();

  void processFrame(const avf::CMSampleBufferRef& sampleBuffer);
  void updateProgress(bool lightOK, bool good);
  void drawPolygon(const quartz::CGPoint& topLeft, const quartz::CGPoint& topRight,
                   const quartz::CGPoint& bottomLeft, const quartz::CGPoint& bottomRight);
  void fadeOutRectangle();
  void handleMetadataObjects(const std::vector<std::shared_ptr<avf::AVMetadataObject>>& objects);
  void completeLiveness();

  void startPhotoCapture();
  void processCapturedPhoto(const std::shared_ptr<avf::AVCapturePhoto>& photo);
  void deliverCapturedImage(std::shared_ptr<uikit::UIImage> image);
  void deliverCaptureFailure();

  IDDocumentType documentType_;
  int stepIndex_;
  IDScanStep step_;
  std::unique_ptr<State> state_;
};

}  // namespace morvik

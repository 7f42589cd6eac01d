// IDScanStepsVC: the first screen of a document scan. It lists the scan steps
// of one document type as cards, runs one capture screen per step, keeps each
// step's image and status, lets the user preview, retake or reset captures,
// and uploads the images once every step is done.
//
// Create it with make(documentType) and show it as the root of a
// UINavigationController: every screen it opens afterwards (capture screens,
// the step preview, the result screen) is pushed onto that navigation
// controller, and without one nothing is pushed or popped. It never dismisses
// the flow itself; the result screen's Done does.
//
// Ownership: the screen owns its views and the captured images; the callbacks
// it gives the screens it opens hold it weakly and do nothing once it is gone.
// When the flow goes away (dismissed, or the screen released) while Submit's
// upload is in flight, the loading overlay is hidden at once and the reply,
// when it comes, changes nothing.
//
// Threads: main thread only, like every UI object. Capture screens call back
// on the main queue; the upload's replies arrive there too.
#pragma once

#include <morvik/Export.h>
#include <morvik/flow/IDDocumentType.h>
#include <morvik/platform/foundation/Data.h>
#include <morvik/platform/uikit.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace morvik {

struct Response;

class MORVIK_API IDScanStepsVC : public uikit::UIViewController {
 public:
  static std::shared_ptr<IDScanStepsVC> make(IDDocumentType documentType);
  // Creates the views without laying them out; call through make() (or
  // std::make_shared): the screen hands out weak references to itself.
  explicit IDScanStepsVC(IDDocumentType documentType);
  ~IDScanStepsVC() override;

  std::string className() const override { return "IDScanStepsVC"; }

  IDDocumentType documentType() const { return documentType_; }
  const std::vector<IDScanStep>& steps() const { return steps_; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;

 private:
  enum class StepStatus { pending, inProgress, completed };
  class StepCardView;
  friend struct IDScanStepsVCTestAccess;

  std::shared_ptr<IDScanStepsVC> self();
  std::weak_ptr<IDScanStepsVC> weakSelf();
  // Binds a button's touch-up-inside to one of this screen's actions.
  void bind(uikit::UIButton& button, void (IDScanStepsVC::*action)());

  void setupUI();
  std::shared_ptr<uikit::UILabel> makeSectionLabel(const std::string& text) const;
  void updateButtons();
  void updateStepTitle();
  void buildStepCards();
  void refreshStepCards();
  std::shared_ptr<uikit::UIImage> placeholderImage(const IDScanStep& step) const;
  std::shared_ptr<uikit::UIImage> displayedImage(std::size_t index) const;
  bool allPending() const;
  std::size_t completedCount() const;

  void changeDocType();
  void onBack();
  void onResetAll();
  void onContinue();
  void startFlow();
  void onStepCardTap(const uikit::UIControl& sender);
  void startCapture(std::size_t index);
  void pushResultScreen();
  void handleCapturedImage(std::size_t index, std::shared_ptr<uikit::UIImage> image);
  void handleStepCompleted(std::size_t index, const std::string& stepTitle);
  void retakeStep(std::size_t index);
  void acceptStep();

  // Submit and upload.
  void onSubmit();
  void submitCapturedImages();
  void uploadDocuments(const std::string& documentType, std::optional<foundation::Data> documentFront,
                       std::optional<foundation::Data> documentBack,
                       std::optional<foundation::Data> livePhoto, const std::string& age,
                       const std::string& email);
  void handleUploadSuccess(int statusCode, const Response& response);
  void handleUploadFailure(const std::string& message);
  void showUploadFailureAlert(const std::string& message);
  // Hides the overlay of an upload in flight and lets its reply go unheard.
  void abandonUpload();

  const IDDocumentType documentType_;
  const std::vector<IDScanStep> steps_;
  std::size_t currentStepIndex_ = 0;
  std::vector<StepStatus> stepStatuses_;
  // Between Submit's showing the overlay and the reply's handling.
  bool uploadInFlight_ = false;
  const std::shared_ptr<uikit::UIScrollView> scrollView_;
  const std::shared_ptr<uikit::UILabel> titleLabel_;
  const std::shared_ptr<uikit::UIButton> docTypeButton_;
  const std::shared_ptr<uikit::UIStackView> stepsStack_;
  std::vector<std::shared_ptr<StepCardView>> stepCards_;
  const std::shared_ptr<uikit::UIButton> continueButton_;
  const std::shared_ptr<uikit::UIButton> submitButton_;
  const std::shared_ptr<uikit::UIButton> backButton_;
  const std::shared_ptr<uikit::UIButton> resetButton_;
  const std::shared_ptr<uikit::UIButton> startButton_;
  std::vector<std::shared_ptr<uikit::UIImage>> capturedImages_;
};

}  // namespace morvik

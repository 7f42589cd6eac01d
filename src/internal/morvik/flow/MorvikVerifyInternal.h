// What the SDK's own screens and its SwiftUI layer use of MorvikVerify: the
// stored address and completion, the delivery routines, Close and the face
// road. Never installed: hosts see only <morvik/flow/MorvikVerify.h>.
#pragma once

#include <morvik/flow/MorvikVerify.h>
#include <morvik/platform/uikit/UIImage.h>
#include <morvik/platform/uikit/UINavigationController.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace morvik {

class IDCaptureVC;
struct Response;

// One flow on screen, from its presentation to its outcome. Main thread only.
struct MorvikFlowRecord {
  // Set once the flow's outcome is decided (or the flow has gone); from then
  // on the flow itself reports nothing more.
  bool ended = false;
  // The face road: a photo's upload is waiting for its reply, and its
  // loading overlay is up.
  bool uploading = false;
  bool overlayShown = false;
  // The start's completion, told userCancelled when the flow is taken away
  // without an outcome; empty for the SwiftUI road, which hears of that
  // through its own presentation flag.
  MorvikVerifyCompletion completionWhenTakenAway;
};

// The navigation controller every flow lives in: it notices the flow going
// away (dismissed by anyone, or released with its window).
class MorvikFlowNavigationController : public uikit::UINavigationController {
 public:
  MorvikFlowNavigationController(const std::shared_ptr<uikit::UIViewController>& root,
                                 std::shared_ptr<MorvikFlowRecord> record);
  ~MorvikFlowNavigationController() override;
  std::string className() const override { return "UINavigationController"; }
  void viewDidDisappear(bool animated) override;

  const std::shared_ptr<MorvikFlowRecord>& record() const { return record_; }

 private:
  std::shared_ptr<MorvikFlowRecord> record_;
};

struct MorvikVerify::State {
  mutable std::mutex mutex;
  std::optional<MorvikVerifyConfig> config;
  std::weak_ptr<MorvikVerifyDelegate> delegate;
  std::optional<std::string> currentEmail;
  Completion completionHandler;
  // The flow last shown (main thread only).
  std::shared_ptr<MorvikFlowRecord> flow;
};

// Hidden although nested in an exported class: none of it leaves the library.
class __attribute__((visibility("hidden"))) MorvikVerify::Internal {
 public:
  Internal() = delete;

  static std::optional<MorvikVerifyConfig> config() { return MorvikVerify::shared().currentConfig(); }
  static std::optional<std::string> currentEmail();
  static void setCurrentEmail(std::optional<std::string> email);
  static Completion completionHandler();
  static void setCompletionHandler(Completion completion);

  // A new flow record, made the current one. For the roads that present.
  static std::shared_ptr<MorvikFlowRecord> beginFlow(Completion completionWhenTakenAway);
  // True while a flow of the SDK is on screen without its outcome.
  static bool isFlowShown();

  // Builds a negative result carrying `error` and delivers it on the main
  // queue. Any thread.
  static void completeWithError(const MorvikVerifyError& error);
  // End of the document road: verified exactly when a record is present.
  // Delivered on the main queue. Any thread.
  static void completeVerification(std::optional<DocumentVerificationData> documentData);
  // Delegate first, then the stored completion. Main thread.
  static void deliver(const MorvikVerificationResult& result);
  // The Close button's action for the flow in `navigation`; finishCancelled
  // runs once the dismissal ends.
  static void dismissVerification(const std::shared_ptr<uikit::UINavigationController>& navigation);
  static void finishCancelled();
  // The flow in `record` has gone: hides its overlay, and reports
  // userCancelled when it had no outcome yet. Main thread.
  static void flowWentAway(const std::shared_ptr<MorvikFlowRecord>& record);

  // The face road. handleFaceCapture takes the face-only screen's photo and
  // uploads it (one at a time per flow); the reply arrives in
  // handleReverifySuccess or handleReverifyFailure, which dismiss the
  // screen's navigation controller and then deliver the outcome. Main thread.
  static void handleFaceCapture(const std::shared_ptr<uikit::UIImage>& image,
                                const std::shared_ptr<IDCaptureVC>& captureVC);
  static void handleReverifySuccess(int statusCode, const Response& response,
                                    const std::shared_ptr<IDCaptureVC>& captureVC);
  static void handleReverifyFailure(const std::string& message,
                                    const std::shared_ptr<IDCaptureVC>& captureVC);
  static void finishFaceVerification(int statusCode, const Response& response);
  static void finishWithFailure(const std::string& message);

  // The controller a static start presents from, or null.
  static std::shared_ptr<uikit::UIViewController> topViewController();
  // Follows presented, then visible, then selected controllers from `from`.
  static std::shared_ptr<uikit::UIViewController> visibleViewController(
      const std::shared_ptr<uikit::UIViewController>& from);
};

}  // namespace morvik

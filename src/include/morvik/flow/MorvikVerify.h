// MorvikVerify: the SDK's front door.
//
// A host configures the SDK once, then starts a verification:
//   morvik::MorvikVerify::configure(morvik::MorvikVerifyConfig("key", morvik::MorvikEnvironment::production,
//                                                                uikit::UIColor::systemBlue()));
//   morvik::MorvikVerify::startDocumentScan("user@example.com", [](const morvik::MorvikVerificationResult& r)
//   {...});
//
// Contract
// - Every call here is main-thread only (the flows are UI). The two refusals
//   of a start call (nothing to present from, not configured) call the
//   completion at once on the caller's thread and tell no delegate; every
//   other outcome arrives later on the main queue: the delegate first, then
//   the completion.
// - The singleton lives for the whole process. It keeps the configuration,
//   the delegate (weakly), and the e-mail address and completion of the
//   latest accepted start. Nothing clears the stored completion: a further
//   outcome of the same flow (another face photo after an early refusal, a
//   Close after it) reaches it again.
// - A flow is one navigation controller presented full screen with a Close
//   button. Close dismisses from the root controller of the first window of
//   the first connected scene, then reports morvikVerifyDidCancel() and a
//   userCancelled result.
#pragma once

#include <morvik/Export.h>
#include <morvik/flow/MorvikTypes.h>
#include <morvik/platform/uikit/UIImage.h>
#include <morvik/platform/uikit/UIViewController.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace morvik {

class IDCaptureVC;
struct Response;

class MORVIK_API MorvikVerify : public std::enable_shared_from_this<MorvikVerify> {
 public:
  using Completion = MorvikVerifyCompletion;

  // The process-wide instance, created on first use with every field empty.
  static MorvikVerify& shared();

  // Stores the configuration (replacing any earlier one; nothing is written
  // to disk) and points the HTTP client at its API key and environment.
  static void configure(const MorvikVerifyConfig& with);

  // The outcome observer, held weakly.
  std::shared_ptr<MorvikVerifyDelegate> delegate() const;
  void setDelegate(const std::weak_ptr<MorvikVerifyDelegate>& delegate);

  // The last configuration, absent before the first configure.
  std::optional<MorvikVerifyConfig> currentConfig() const;
  bool isConfigured() const;

  // --- Starting a verification ---------------------------------------------

  // Present the flow from the top view controller of the key window of the
  // first connected window scene. No such controller: the completion gets
  // verificationFailed("Unable to present verification screen") at once.
  static void startDocumentScan(std::optional<std::string> email, Completion completion);
  static void startFaceDetection(std::string email, Completion completion);
  static void start(MorvikVerificationType type, std::optional<std::string> email, Completion completion);

  // Present the flow from `from`. Not configured: the completion gets
  // notConfigured at once and nothing is stored or presented. The address is
  // not examined here; the face road refuses an absent or empty one when the
  // photo is taken.
  void startVerification(uikit::UIViewController& from, MorvikVerificationType type,
                         std::optional<std::string> email, Completion completion);

  // The controller a static start presents from, or null (see above).
  static std::shared_ptr<uikit::UIViewController> topViewController();
  // Follows presented, then visible, then selected controllers from `from`.
  static std::shared_ptr<uikit::UIViewController> visibleViewController(
      const std::shared_ptr<uikit::UIViewController>& from);

  // --- Internal: used by the SDK's own screens and SwiftUI layer -----------

  std::optional<MorvikVerifyConfig> config() const { return currentConfig(); }
  std::optional<std::string> currentEmail() const;
  void setCurrentEmail(std::optional<std::string> email);
  Completion completionHandler() const;
  void setCompletionHandler(Completion completion);

  // Builds a negative result carrying `error` and delivers it on the main
  // queue. Any thread.
  static void completeWithError(const MorvikVerifyError& error);
  // End of the document road: verified exactly when a record is present.
  // Delivered on the main queue. Any thread.
  static void completeVerification(std::optional<DocumentVerificationData> documentData);
  // Delegate first, then the stored completion. Main thread.
  void deliver(const MorvikVerificationResult& result);
  // The Close button's action; finishCancelled runs once the dismissal ends.
  void dismissVerification();
  void finishCancelled();

  // The face road. handleFaceCapture takes the face-only screen's photo and
  // uploads it; the reply arrives in handleReverifySuccess or
  // handleReverifyFailure, which dismiss the screen's navigation controller
  // and then deliver the outcome. Main thread.
  void handleFaceCapture(const std::shared_ptr<uikit::UIImage>& image,
                         const std::shared_ptr<IDCaptureVC>& captureVC);
  void handleReverifySuccess(int statusCode, const Response& response,
                             const std::shared_ptr<IDCaptureVC>& captureVC);
  void handleReverifyFailure(const std::string& message, const std::shared_ptr<IDCaptureVC>& captureVC);
  void finishFaceVerification(int statusCode, const Response& response);
  void finishWithFailure(const std::string& message);

  MorvikVerify(const MorvikVerify&) = delete;
  MorvikVerify& operator=(const MorvikVerify&) = delete;
  ~MorvikVerify();

 private:
  friend struct MorvikVerifyTestAccess;
  struct Passkey {};

 public:
  explicit MorvikVerify(Passkey);

 private:
  mutable std::mutex mutex_;
  std::optional<MorvikVerifyConfig> config_;
  std::weak_ptr<MorvikVerifyDelegate> delegate_;
  std::optional<std::string> currentEmail_;
  Completion completionHandler_;
};

// Start a verification presented from `self` (only the not-configured
// refusal applies). Main thread only.
MORVIK_API void presentMorvikDocumentScan(uikit::UIViewController& self, std::optional<std::string> email,
                                          MorvikVerifyCompletion completion);
MORVIK_API void presentMorvikFaceDetection(uikit::UIViewController& self, std::string email,
                                           MorvikVerifyCompletion completion);
MORVIK_API void presentMorvikVerification(uikit::UIViewController& self, MorvikVerificationType type,
                                          std::optional<std::string> email,
                                          MorvikVerifyCompletion completion);

}  // namespace morvik

#include "morvik/flow/MorvikVerify.h"

#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit/UIApplication.h>
#include <morvik/platform/uikit/UINavigationController.h>
#include <morvik/platform/uikit/UITabBarController.h>

#include "api/Utility.h"
#include "morvik/api/APIManager.h"
#include "morvik/api/AuthServices.h"
#include "morvik/api/models/Response.h"
#include "morvik/flow/IDCaptureVC.h"
#include "morvik/flow/IDDocumentType.h"
#include "morvik/flow/IDScanStepsVC.h"
#include "morvik/support/RuntimeAdditions.h"

namespace morvik {

namespace {

constexpr const char* kUnableToPresent = "Unable to present verification screen";
constexpr const char* kEmailRequired = "Email is required for face detection";
constexpr const char* kFailedToCaptureFace = "Failed to capture face image";
constexpr const char* kVerificationFailed = "Verification failed";
constexpr double kFaceJPEGQuality = 0.5;

MorvikVerificationResult failure(MorvikVerifyError error) {
  return MorvikVerificationResult(false, std::nullopt, std::move(error));
}

}  // namespace

// ---- Public types -----------------------------------------------------------------

std::string_view apiBaseURL(MorvikEnvironment environment) noexcept {
  switch (environment) {
    case MorvikEnvironment::development:
      return APIManager::kDevelopmentBaseURL;
    case MorvikEnvironment::staging:
      return "https://staging.api.morvik.example/api";
    case MorvikEnvironment::production:
      return "https://api.morvik.example/api";
  }
  return APIManager::kDevelopmentBaseURL;
}

MorvikVerifyConfig::MorvikVerifyConfig(std::string apiKey, MorvikEnvironment environment,
                                       uikit::UIColor primaryColor)
    : apiKey_(std::move(apiKey)), environment_(environment), primaryColor_(primaryColor) {}

std::string MorvikVerifyError::errorDescription() const {
  switch (kind_) {
    case Kind::verificationFailed:
      return "Verification failed: " + message_;
    case Kind::networkError:
      return "Network error: " + message_;
    case Kind::notConfigured:
      return "MorvikVerify SDK is not configured. Call MorvikVerify.configure() first.";
    case Kind::userCancelled:
      return "User cancelled the verification process.";
    case Kind::cameraAccessDenied:
      return "Camera access is required for document verification.";
    case Kind::invalidDocument:
      return "The document could not be verified. Please try again.";
  }
  return {};
}

// ---- The singleton ----------------------------------------------------------------

MorvikVerify::MorvikVerify(Passkey) {}
MorvikVerify::~MorvikVerify() = default;

MorvikVerify& MorvikVerify::shared() {
  loadRuntimeAdditions();
  // Never destroyed: queued deliveries and bar button targets may outlive
  // static destruction.
  static auto* instance = new std::shared_ptr<MorvikVerify>(std::make_shared<MorvikVerify>(Passkey{}));
  return **instance;
}

void MorvikVerify::configure(const MorvikVerifyConfig& with) {
  auto& self = shared();
  {
    std::lock_guard lock(self.mutex_);
    self.config_ = with;
  }
  auto& api = APIManager::shared();
  api.setApiKey(with.apiKey());
  api.setBaseURL(foundation::URL::string(apiBaseURL(with.environment())));
}

std::shared_ptr<MorvikVerifyDelegate> MorvikVerify::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void MorvikVerify::setDelegate(const std::weak_ptr<MorvikVerifyDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

std::optional<MorvikVerifyConfig> MorvikVerify::currentConfig() const {
  std::lock_guard lock(mutex_);
  return config_;
}

bool MorvikVerify::isConfigured() const {
  std::lock_guard lock(mutex_);
  return config_.has_value();
}

std::optional<std::string> MorvikVerify::currentEmail() const {
  std::lock_guard lock(mutex_);
  return currentEmail_;
}

void MorvikVerify::setCurrentEmail(std::optional<std::string> email) {
  std::lock_guard lock(mutex_);
  currentEmail_ = std::move(email);
}

MorvikVerify::Completion MorvikVerify::completionHandler() const {
  std::lock_guard lock(mutex_);
  return completionHandler_;
}

void MorvikVerify::setCompletionHandler(Completion completion) {
  std::lock_guard lock(mutex_);
  completionHandler_ = std::move(completion);
}

// ---- Delivery ---------------------------------------------------------------------

void MorvikVerify::completeWithError(const MorvikVerifyError& error) {
  std::weak_ptr<MorvikVerify> weak = shared().weak_from_this();
  dispatch::DispatchQueue::main().async([weak, result = failure(error)] {
    if (auto self = weak.lock()) self->deliver(result);
  });
}

void MorvikVerify::completeVerification(std::optional<DocumentVerificationData> documentData) {
  const bool verified = documentData.has_value();
  std::weak_ptr<MorvikVerify> weak = shared().weak_from_this();
  dispatch::DispatchQueue::main().async(
      [weak, result = MorvikVerificationResult(verified, std::move(documentData), std::nullopt)] {
        if (auto self = weak.lock()) self->deliver(result);
      });
}

void MorvikVerify::deliver(const MorvikVerificationResult& result) {
  // Copies taken under the lock, called outside it: a host may start again
  // or change the delegate from inside its callback.
  auto observer = delegate();
  auto completion = completionHandler();
  if (observer) observer->morvikVerifyDidComplete(result);
  if (completion) completion(result);
}

void MorvikVerify::dismissVerification() {
  const auto& scenes = uikit::UIApplication::shared().connectedScenes();
  if (scenes.empty()) return;
  auto scene = std::dynamic_pointer_cast<uikit::UIWindowScene>(scenes.front());
  if (!scene || scene->windows().empty()) return;
  auto root = scene->windows().front()->rootViewController();
  if (!root) return;
  std::weak_ptr<MorvikVerify> weak = weak_from_this();
  root->dismiss(true, [weak] {
    if (auto self = weak.lock()) self->finishCancelled();
  });
}

void MorvikVerify::finishCancelled() {
  auto observer = delegate();
  auto completion = completionHandler();
  if (observer) observer->morvikVerifyDidCancel();
  if (completion) completion(failure(MorvikVerifyError::userCancelled()));
}

// ---- Starting -----------------------------------------------------------------------

std::shared_ptr<uikit::UIViewController> MorvikVerify::visibleViewController(
    const std::shared_ptr<uikit::UIViewController>& from) {
  if (!from) return nullptr;
  if (auto presented = from->presentedViewController()) return visibleViewController(presented);
  if (auto navigation = std::dynamic_pointer_cast<uikit::UINavigationController>(from)) {
    if (auto visible = navigation->visibleViewController()) return visibleViewController(visible);
  }
  if (auto tabs = std::dynamic_pointer_cast<uikit::UITabBarController>(from)) {
    if (auto selected = tabs->selectedViewController()) return visibleViewController(selected);
  }
  return from;
}

std::shared_ptr<uikit::UIViewController> MorvikVerify::topViewController() {
  const auto& scenes = uikit::UIApplication::shared().connectedScenes();
  if (scenes.empty()) return nullptr;
  auto scene = std::dynamic_pointer_cast<uikit::UIWindowScene>(scenes.front());
  if (!scene) return nullptr;
  for (const auto& window : scene->windows()) {
    if (!window->isKeyWindow()) continue;
    // The first key window decides, with or without a root.
    return visibleViewController(window->rootViewController());
  }
  return nullptr;
}

namespace {

void startFromTopViewController(MorvikVerificationType type, std::optional<std::string> email,
                                MorvikVerify::Completion completion) {
  auto top = MorvikVerify::topViewController();
  if (!top) {
    if (completion) completion(failure(MorvikVerifyError::verificationFailed(kUnableToPresent)));
    return;
  }
  MorvikVerify::shared().startVerification(*top, type, std::move(email), std::move(completion));
}

}  // namespace

void MorvikVerify::startDocumentScan(std::optional<std::string> email, Completion completion) {
  startFromTopViewController(MorvikVerificationType::documentScan, std::move(email), std::move(completion));
}

void MorvikVerify::startFaceDetection(std::string email, Completion completion) {
  startFromTopViewController(MorvikVerificationType::faceDetection, std::move(email), std::move(completion));
}

void MorvikVerify::start(MorvikVerificationType type, std::optional<std::string> email,
                         Completion completion) {
  startFromTopViewController(type, std::move(email), std::move(completion));
}

void MorvikVerify::startVerification(uikit::UIViewController& from, MorvikVerificationType type,
                                     std::optional<std::string> email, Completion completion) {
  if (!isConfigured()) {
    if (completion) completion(failure(MorvikVerifyError::notConfigured()));
    return;
  }
  setCurrentEmail(std::move(email));
  setCompletionHandler(std::move(completion));

  std::shared_ptr<uikit::UIViewController> screen;
  if (type == MorvikVerificationType::documentScan) {
    screen = IDScanStepsVC::make(IDDocumentType::driversLicenseOrIDCard);
  } else {
    auto capture = IDCaptureVC::make(IDDocumentType::driversLicenseOrIDCard, 0, IDScanStep("Face"));
    capture->isFaceOnlyMode = true;
    std::weak_ptr<MorvikVerify> weakSelf = weak_from_this();
    std::weak_ptr<IDCaptureVC> weakScreen = capture;
    capture->onCaptured = [weakSelf, weakScreen](std::shared_ptr<uikit::UIImage> image) {
      auto self = weakSelf.lock();
      auto screen = weakScreen.lock();
      if (!self || !screen) return;
      self->handleFaceCapture(image, screen);
    };
    screen = capture;
  }

  auto navigation = std::make_shared<uikit::UINavigationController>(screen);
  navigation->setModalPresentationStyle(uikit::UIModalPresentationStyle::fullScreen);
  std::weak_ptr<MorvikVerify> weakSelf = weak_from_this();
  screen->navigationItem().leftBarButtonItem = std::make_shared<uikit::UIBarButtonItem>(
      uikit::UIBarButtonItem::SystemItem::close, shared_from_this(), [weakSelf] {
        if (auto self = weakSelf.lock()) self->dismissVerification();
      });
  from.present(navigation, true);
}

// ---- The face road ----------------------------------------------------------------

void MorvikVerify::handleFaceCapture(const std::shared_ptr<uikit::UIImage>& image,
                                     const std::shared_ptr<IDCaptureVC>& captureVC) {
  const auto email = currentEmail();
  if (!email || email->empty()) {
    completeWithError(MorvikVerifyError::verificationFailed(kEmailRequired));
    return;
  }
  std::optional<foundation::Data> jpeg;
  if (image) jpeg = image->jpegData(kFaceJPEGQuality);
  if (!jpeg) {
    completeWithError(MorvikVerifyError::verificationFailed(kFailedToCaptureFace));
    return;
  }
  Utility::showLoader();
  std::weak_ptr<MorvikVerify> weakSelf = weak_from_this();
  AuthServices::shared().reverify(
      *email, "0", std::move(*jpeg),
      [weakSelf, captureVC](int statusCode, const Response& response) {
        if (auto self = weakSelf.lock()) self->handleReverifySuccess(statusCode, response, captureVC);
      },
      [weakSelf, captureVC](const std::string& message) {
        if (auto self = weakSelf.lock()) self->handleReverifyFailure(message, captureVC);
      });
}

namespace {

// Dismisses the screen's flow, then runs `outcome`. A screen no longer in a
// navigation controller is left alone and nothing is delivered.
void dismissFlowThen(const std::shared_ptr<IDCaptureVC>& captureVC, std::function<void()> outcome) {
  dispatch::DispatchQueue::main().async([captureVC, outcome = std::move(outcome)] {
    auto navigation = captureVC ? captureVC->navigationController() : nullptr;
    if (!navigation) return;
    navigation->dismiss(true, outcome);
  });
}

}  // namespace

void MorvikVerify::handleReverifySuccess(int statusCode, const Response& response,
                                         const std::shared_ptr<IDCaptureVC>& captureVC) {
  Utility::hideLoader();
  std::weak_ptr<MorvikVerify> weakSelf = weak_from_this();
  dismissFlowThen(captureVC, [weakSelf, statusCode, response] {
    if (auto self = weakSelf.lock()) self->finishFaceVerification(statusCode, response);
  });
}

void MorvikVerify::handleReverifyFailure(const std::string& message,
                                         const std::shared_ptr<IDCaptureVC>& captureVC) {
  Utility::hideLoader();
  std::weak_ptr<MorvikVerify> weakSelf = weak_from_this();
  dismissFlowThen(captureVC, [weakSelf, message] {
    if (auto self = weakSelf.lock()) self->finishWithFailure(message);
  });
}

void MorvikVerify::finishFaceVerification(int statusCode, const Response& response) {
  if (statusCode >= 200 && statusCode <= 299 && response.documentVerificationData) {
    deliver(MorvikVerificationResult(true, response.documentVerificationData, std::nullopt));
    return;
  }
  deliver(MorvikVerificationResult(
      false, response.documentVerificationData,
      MorvikVerifyError::verificationFailed(response.message.value_or(kVerificationFailed))));
}

void MorvikVerify::finishWithFailure(const std::string& message) {
  deliver(failure(MorvikVerifyError::verificationFailed(message)));
}

// ---- Per-controller starts ---------------------------------------------------------

void presentMorvikDocumentScan(uikit::UIViewController& self, std::optional<std::string> email,
                               MorvikVerifyCompletion completion) {
  MorvikVerify::shared().startVerification(self, MorvikVerificationType::documentScan, std::move(email),
                                           std::move(completion));
}

void presentMorvikFaceDetection(uikit::UIViewController& self, std::string email,
                                MorvikVerifyCompletion completion) {
  MorvikVerify::shared().startVerification(self, MorvikVerificationType::faceDetection, std::move(email),
                                           std::move(completion));
}

void presentMorvikVerification(uikit::UIViewController& self, MorvikVerificationType type,
                               std::optional<std::string> email, MorvikVerifyCompletion completion) {
  MorvikVerify::shared().startVerification(self, type, std::move(email), std::move(completion));
}

}  // namespace morvik

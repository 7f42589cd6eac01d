#include "morvik/flow/MorvikVerify.h"

#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit/UIApplication.h>
#include <morvik/platform/uikit/UINavigationController.h>
#include <morvik/platform/uikit/UITabBarController.h>

#include <stdexcept>

#include "api/Utility.h"
#include "morvik/api/APIManager.h"
#include "morvik/api/AuthServices.h"
#include "morvik/api/models/Response.h"
#include "morvik/flow/IDCaptureVC.h"
#include "morvik/flow/IDDocumentType.h"
#include "morvik/flow/IDScanStepsVC.h"
#include "morvik/flow/MorvikVerifyInternal.h"
#include "morvik/support/RuntimeAdditions.h"

namespace morvik {

namespace {

constexpr const char* kUnableToPresent = "Unable to present verification screen";
constexpr const char* kAlreadyInProgress = "A verification is already in progress";
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

MorvikVerify::MorvikVerify() : state_(std::make_unique<State>()) {}
MorvikVerify::~MorvikVerify() = default;

MorvikVerify& MorvikVerify::shared() {
  loadRuntimeAdditions();
  // Never destroyed: queued deliveries and bar button targets may outlive
  // static destruction.
  static auto* instance = new std::shared_ptr<MorvikVerify>(new MorvikVerify());
  return **instance;
}

namespace {

bool isEnvironment(MorvikEnvironment environment) {
  switch (environment) {
    case MorvikEnvironment::development:
    case MorvikEnvironment::staging:
    case MorvikEnvironment::production:
      return true;
  }
  return false;
}

// Runs `call` on the main queue when the caller is elsewhere; true when it
// was moved there.
bool movedToMain(std::function<void()> call) {
  if (dispatch::isMainThread()) return false;
  dispatch::DispatchQueue::main().async(std::move(call));
  return true;
}

}  // namespace

void MorvikVerify::configure(const MorvikVerifyConfig& with) {
  if (!isEnvironment(with.environment())) {
    throw std::invalid_argument("MorvikVerify.configure: environment value " +
                                std::to_string(static_cast<int>(with.environment())) +
                                " is not development, staging or production");
  }
  // Throws std::invalid_argument for a bad host base URL, before anything changes.
  foundation::URL baseURL = APIManager::configuredBaseURL(with.baseURL(), apiBaseURL(with.environment()));
  if (movedToMain([with] { configure(with); })) return;
  auto& self = shared();
  {
    std::lock_guard lock(self.state_->mutex);
    self.state_->config = with;
  }
  auto& api = APIManager::shared();
  api.setApiKey(with.apiKey());
  api.setBaseURL(std::move(baseURL));
}

std::shared_ptr<MorvikVerifyDelegate> MorvikVerify::delegate() const {
  std::lock_guard lock(state_->mutex);
  return state_->delegate.lock();
}

void MorvikVerify::setDelegate(const std::weak_ptr<MorvikVerifyDelegate>& delegate) {
  std::lock_guard lock(state_->mutex);
  state_->delegate = delegate;
}

std::optional<MorvikVerifyConfig> MorvikVerify::currentConfig() const {
  std::lock_guard lock(state_->mutex);
  return state_->config;
}

bool MorvikVerify::isConfigured() const {
  std::lock_guard lock(state_->mutex);
  return state_->config.has_value();
}

std::optional<std::string> MorvikVerify::Internal::currentEmail() {
  auto& state = *shared().state_;
  std::lock_guard lock(state.mutex);
  return state.currentEmail;
}

void MorvikVerify::Internal::setCurrentEmail(std::optional<std::string> email) {
  auto& state = *shared().state_;
  std::lock_guard lock(state.mutex);
  state.currentEmail = std::move(email);
}

MorvikVerify::Completion MorvikVerify::Internal::completionHandler() {
  auto& state = *shared().state_;
  std::lock_guard lock(state.mutex);
  return state.completionHandler;
}

void MorvikVerify::Internal::setCompletionHandler(Completion completion) {
  auto& state = *shared().state_;
  std::lock_guard lock(state.mutex);
  state.completionHandler = std::move(completion);
}

// ---- Flows on screen --------------------------------------------------------------

MorvikFlowNavigationController::MorvikFlowNavigationController(
    const std::shared_ptr<uikit::UIViewController>& root, std::shared_ptr<MorvikFlowRecord> record)
    : uikit::UINavigationController(root), record_(std::move(record)) {}

MorvikFlowNavigationController::~MorvikFlowNavigationController() {
  // Released with its window, or after a dismissal: told on the main queue,
  // never from inside a destructor.
  if (!record_ || (record_->ended && !record_->overlayShown)) return;
  dispatch::DispatchQueue::main().async([record = record_] { MorvikVerify::Internal::flowWentAway(record); });
}

void MorvikFlowNavigationController::viewDidDisappear(bool animated) {
  uikit::UINavigationController::viewDidDisappear(animated);
  // Covered by a further full-screen presentation, it is still presented.
  if (record_ && !presentingViewController()) MorvikVerify::Internal::flowWentAway(record_);
}

std::shared_ptr<MorvikFlowRecord> MorvikVerify::Internal::beginFlow(Completion completionWhenTakenAway) {
  auto record = std::make_shared<MorvikFlowRecord>();
  record->completionWhenTakenAway = std::move(completionWhenTakenAway);
  shared().state_->flow = record;
  return record;
}

bool MorvikVerify::Internal::isFlowShown() {
  const auto& flow = shared().state_->flow;
  return flow && !flow->ended;
}

namespace {

void hideFaceOverlay(MorvikFlowRecord& record) {
  if (!record.overlayShown) return;
  record.overlayShown = false;
  Utility::hideLoader();
}

}  // namespace

void MorvikVerify::Internal::flowWentAway(const std::shared_ptr<MorvikFlowRecord>& record) {
  hideFaceOverlay(*record);
  if (record->ended) return;
  record->ended = true;
  auto completion = std::move(record->completionWhenTakenAway);
  if (!completion) return;
  if (auto observer = shared().delegate()) observer->morvikVerifyDidCancel();
  completion(failure(MorvikVerifyError::userCancelled()));
}

// ---- Delivery ---------------------------------------------------------------------

void MorvikVerify::Internal::completeWithError(const MorvikVerifyError& error) {
  std::weak_ptr<MorvikVerify> weak = shared().weak_from_this();
  dispatch::DispatchQueue::main().async([weak, result = failure(error)] {
    if (weak.lock()) deliver(result);
  });
}

void MorvikVerify::Internal::completeVerification(std::optional<DocumentVerificationData> documentData) {
  const bool verified = documentData.has_value();
  std::weak_ptr<MorvikVerify> weak = shared().weak_from_this();
  dispatch::DispatchQueue::main().async(
      [weak, result = MorvikVerificationResult(verified, std::move(documentData), std::nullopt)] {
        if (weak.lock()) deliver(result);
      });
  // The flow's outcome is decided at the tap: its dismissal that follows is
  // not a flow taken away.
  if (dispatch::isMainThread()) {
    if (auto& flow = shared().state_->flow) flow->ended = true;
  }
}

void MorvikVerify::Internal::deliver(const MorvikVerificationResult& result) {
  // Copies taken under the lock, called outside it: a host may start again
  // or change the delegate from inside its callback.
  auto observer = shared().delegate();
  auto completion = completionHandler();
  if (observer) observer->morvikVerifyDidComplete(result);
  if (completion) completion(result);
}

void MorvikVerify::Internal::dismissVerification(
    const std::shared_ptr<uikit::UINavigationController>& navigation) {
  auto flow = std::dynamic_pointer_cast<MorvikFlowNavigationController>(navigation);
  // Its outcome is decided already (a second tap, or a reply being handled).
  if (flow && flow->record()->ended) return;
  // The root of the first window of the first scene dismisses, when the flow
  // is in that window: whatever the host presented the flow from goes too.
  std::shared_ptr<uikit::UIViewController> dismisser;
  const auto& scenes = uikit::UIApplication::shared().connectedScenes();
  auto scene = scenes.empty() ? nullptr : std::dynamic_pointer_cast<uikit::UIWindowScene>(scenes.front());
  if (scene && !scene->windows().empty()) {
    auto root = scene->windows().front()->rootViewController();
    for (auto shown = root ? root->presentedViewController() : nullptr; shown && !dismisser;
         shown = shown->presentedViewController()) {
      if (shown == navigation) dismisser = root;
    }
  }
  // Elsewhere (another window, or a first window without a root): the flow
  // alone, so that Close never leaves it on screen.
  if (!dismisser && navigation) dismisser = navigation->presentingViewController();
  if (flow) flow->record()->ended = true;
  if (!dismisser) {
    finishCancelled();
    return;
  }
  dismisser->dismiss(true, [] { finishCancelled(); });
}

void MorvikVerify::Internal::finishCancelled() {
  auto observer = shared().delegate();
  auto completion = completionHandler();
  if (observer) observer->morvikVerifyDidCancel();
  if (completion) completion(failure(MorvikVerifyError::userCancelled()));
}

// ---- Starting -----------------------------------------------------------------------

std::shared_ptr<uikit::UIViewController> MorvikVerify::Internal::visibleViewController(
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

std::shared_ptr<uikit::UIViewController> MorvikVerify::Internal::topViewController() {
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

void refuse(const MorvikVerify::Completion& completion, MorvikVerifyError error) {
  if (completion) completion(failure(std::move(error)));
}

// Whether the controller's view, or its container's, is in a window: the
// platform shows nothing presented from a controller that is not.
bool presenterIsInAWindow(uikit::UIViewController& controller) {
  uikit::UIViewController* root = &controller;
  while (auto parent = root->parent()) root = parent.get();
  return root->isViewLoaded() && root->view()->window() != nullptr;
}

void startFromTopViewController(MorvikVerificationType type, std::optional<std::string> email,
                                MorvikVerify::Completion completion) {
  if (movedToMain([type, email, completion] { startFromTopViewController(type, email, completion); })) return;
  auto top = MorvikVerify::Internal::topViewController();
  if (!top) {
    refuse(completion, MorvikVerifyError::verificationFailed(kUnableToPresent));
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
  if (!dispatch::isMainThread()) {
    std::weak_ptr<uikit::UIViewController> presenter = from.weak_from_this();
    dispatch::DispatchQueue::main().async([presenter, type, email, completion] {
      auto from = presenter.lock();
      if (!from) {
        refuse(completion, MorvikVerifyError::verificationFailed(kUnableToPresent));
        return;
      }
      shared().startVerification(*from, type, email, completion);
    });
    return;
  }
  if (!isConfigured()) {
    refuse(completion, MorvikVerifyError::notConfigured());
    return;
  }
  if (Internal::isFlowShown()) {
    refuse(completion, MorvikVerifyError::verificationFailed(kAlreadyInProgress));
    return;
  }
  // From the top of what `from` presents: the platform refuses a second
  // presentation from one controller.
  std::shared_ptr<uikit::UIViewController> presenter = from.weak_from_this().lock();
  while (presenter && presenter->presentedViewController()) presenter = presenter->presentedViewController();
  uikit::UIViewController& target = presenter ? *presenter : from;
  // A flow presented off screen would never be answered, and would refuse
  // every later start as one already in progress.
  if (!presenterIsInAWindow(target)) {
    refuse(completion, MorvikVerifyError::verificationFailed(kUnableToPresent));
    return;
  }

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
      Internal::handleFaceCapture(image, screen);
    };
    screen = capture;
  }

  auto record = std::make_shared<MorvikFlowRecord>();
  auto navigation = std::make_shared<MorvikFlowNavigationController>(screen, record);
  navigation->setModalPresentationStyle(uikit::UIModalPresentationStyle::fullScreen);
  std::weak_ptr<uikit::UINavigationController> weakNavigation = navigation;
  screen->navigationItem().leftBarButtonItem = std::make_shared<uikit::UIBarButtonItem>(
      uikit::UIBarButtonItem::SystemItem::close, shared_from_this(),
      [weakNavigation] { Internal::dismissVerification(weakNavigation.lock()); });
  target.present(navigation, true);
  if (navigation->presentingViewController() == nullptr) {
    // Refused (a controller being dismissed, say): nothing was stored.
    record->ended = true;
    refuse(completion, MorvikVerifyError::verificationFailed(kUnableToPresent));
    return;
  }
  Internal::setCurrentEmail(std::move(email));
  Internal::setCompletionHandler(completion);
  record->completionWhenTakenAway = std::move(completion);
  state_->flow = record;
}

// ---- The face road ----------------------------------------------------------------

namespace {

std::shared_ptr<MorvikFlowRecord> flowOf(const std::shared_ptr<IDCaptureVC>& captureVC) {
  auto navigation = std::dynamic_pointer_cast<MorvikFlowNavigationController>(
      captureVC ? captureVC->navigationController() : nullptr);
  return navigation ? navigation->record() : nullptr;
}

}  // namespace

void MorvikVerify::Internal::handleFaceCapture(const std::shared_ptr<uikit::UIImage>& image,
                                               const std::shared_ptr<IDCaptureVC>& captureVC) {
  auto record = flowOf(captureVC);
  // One photo, one upload: a photo taken while the last one's reply is
  // awaited (or after the flow's outcome) is dropped.
  if (record && (record->uploading || record->ended)) return;
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
  // The screen takes no further photo: the flow ends with this one's reply.
  if (captureVC) captureVC->isCapturePaused = true;
  if (record) {
    record->uploading = true;
    record->overlayShown = true;
  }
  Utility::showLoader();
  std::weak_ptr<MorvikVerify> weakSelf = shared().weak_from_this();
  AuthServices::shared().reverify(
      *email, "0", std::move(*jpeg),
      [weakSelf, captureVC](int statusCode, const Response& response) {
        if (weakSelf.lock()) handleReverifySuccess(statusCode, response, captureVC);
      },
      [weakSelf, captureVC](const std::string& message) {
        if (weakSelf.lock()) handleReverifyFailure(message, captureVC);
      });
}

namespace {

// Hides the upload's overlay, unless the flow's going away hid it already
// (a later one may be up by now), then dismisses the screen's flow and runs
// `outcome`. A screen no longer in a navigation controller, or in a flow
// whose outcome is already decided, is left alone and nothing is delivered.
void dismissFlowThen(const std::shared_ptr<IDCaptureVC>& captureVC, std::function<void()> outcome) {
  if (auto record = flowOf(captureVC)) {
    // Still uploading as far as further photos go: the flow ends here.
    hideFaceOverlay(*record);
  } else if (!captureVC || !captureVC->navigationController()) {
    // The flow is gone: whoever took it away hid the overlay.
  } else {
    Utility::hideLoader();
  }
  dispatch::DispatchQueue::main().async([captureVC, outcome = std::move(outcome)] {
    auto navigation = captureVC ? captureVC->navigationController() : nullptr;
    if (!navigation) return;
    if (auto flow = std::dynamic_pointer_cast<MorvikFlowNavigationController>(navigation)) {
      if (flow->record()->ended) return;
      flow->record()->ended = true;
    }
    navigation->dismiss(true, outcome);
  });
}

}  // namespace

void MorvikVerify::Internal::handleReverifySuccess(int statusCode, const Response& response,
                                                   const std::shared_ptr<IDCaptureVC>& captureVC) {
  dismissFlowThen(captureVC, [statusCode, response] { finishFaceVerification(statusCode, response); });
}

void MorvikVerify::Internal::handleReverifyFailure(const std::string& message,
                                                   const std::shared_ptr<IDCaptureVC>& captureVC) {
  dismissFlowThen(captureVC, [message] { finishWithFailure(message); });
}

void MorvikVerify::Internal::finishFaceVerification(int statusCode, const Response& response) {
  if (statusCode >= 200 && statusCode <= 299 && response.documentVerificationData) {
    deliver(MorvikVerificationResult(true, response.documentVerificationData, std::nullopt));
    return;
  }
  deliver(MorvikVerificationResult(
      false, response.documentVerificationData,
      MorvikVerifyError::verificationFailed(response.message.value_or(kVerificationFailed))));
}

void MorvikVerify::Internal::finishWithFailure(const std::string& message) {
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

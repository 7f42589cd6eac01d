// The step list's Submit: sorts the captures into the upload's image roles by
// their step titles and sends them with the document upload.
#include <morvik/api/AuthServices.h>
#include <morvik/api/models/JSONCoding.h>
#include <morvik/flow/IDScanStepsVC.h>
#include <morvik/flow/MorvikVerifyInternal.h>
#include <morvik/platform/foundation/Console.h>

#include <atomic>
#include <cstdlib>
#include <string_view>

#include "api/Utility.h"
#include "flow/result/VerifiedScreen.h"
#include "flow/steps/DebugSwitch.h"
#include "morvik/flow/IDDocumentSteps.h"

namespace morvik {

namespace {

// -1: the environment decides; 0 or 1: a test's override.
std::atomic<int> debugPrintOverride{-1};

}  // namespace

bool verdictDebugPrintEnabled() {
  if (const int forced = debugPrintOverride.load(); forced >= 0) return forced == 1;
  static const bool fromEnvironment = [] {
    const char* value = std::getenv("MORVIK_VERIFY_DEBUG");
    return value && std::string_view(value) == "1";
  }();
  return fromEnvironment;
}

void setVerdictDebugPrintForTesting(std::optional<bool> enabled) {
  debugPrintOverride.store(enabled ? int(*enabled) : -1);
}

namespace {

constexpr double kUploadJPEGQuality = 0.5;
// The server expects an age with every document upload; the flow has none to
// offer, so it sends the value the server was built against.
constexpr const char* kUploadAge = "23";

std::optional<foundation::Data> jpeg(const std::shared_ptr<uikit::UIImage>& image) {
  if (!image) return std::nullopt;
  return image->jpegData(kUploadJPEGQuality);
}

// The standard reason phrases of the statuses a verification server is
// likely to answer without a verdict.
std::string_view reasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 204:
      return "No Content";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 413:
      return "Content Too Large";
    case 415:
      return "Unsupported Media Type";
    case 422:
      return "Unprocessable Content";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return {};
  }
}

// What the alert says of a reply without a verdict: the server's own words,
// else its status line.
std::string messageOfReplyWithoutVerdict(int status, const Response& response) {
  for (const auto* text : {&response.message, &response.error, &response.msg}) {
    if (*text && !(*text)->empty()) return **text;
  }
  std::string line = "HTTP " + std::to_string(status);
  if (const auto reason = reasonPhrase(status); !reason.empty()) line.append(" ").append(reason);
  return line;
}

void printVerdict(const DocumentVerificationData& verdict) {
  if (!verdictDebugPrintEnabled()) {
    // The request id alone: it lets a host find the verification on the
    // server without any personal data in its logs.
    foundation::print("MorvikVerify: verdict received, request id " +
                      (verdict.requestId ? std::to_string(*verdict.requestId) : std::string("none")));
    return;
  }
  try {
    foundation::print(encodeJSON(verdict));
  } catch (const std::exception&) {
    // Printing is a diagnostic; the verdict is still shown.
  }
}

}  // namespace

void IDScanStepsVC::onSubmit() { submitCapturedImages(); }

void IDScanStepsVC::submitCapturedImages() {
  std::shared_ptr<uikit::UIImage> front, back, face;
  for (std::size_t i = 0; i < steps_.size(); ++i) {
    if (i >= capturedImages_.size() || !capturedImages_[i]) continue;
    switch (steps_[i].kind()) {
      case IDScanStepKind::front:
        front = capturedImages_[i];
        break;
      case IDScanStepKind::back:
        back = capturedImages_[i];
        break;
      case IDScanStepKind::face:
        face = capturedImages_[i];
        break;
      case IDScanStepKind::none:
        break;
    }
  }
  const std::string email = MorvikVerify::Internal::currentEmail().value_or("");
  const std::string documentType = std::to_string(serverCode(documentType_));
  auto frontData = jpeg(front);
  auto backData = jpeg(back);
  auto faceData = jpeg(face);
  uploadDocuments(documentType, std::move(frontData), std::move(backData), std::move(faceData), kUploadAge,
                  email);
}

void IDScanStepsVC::uploadDocuments(const std::string& documentType,
                                    std::optional<foundation::Data> documentFront,
                                    std::optional<foundation::Data> documentBack,
                                    std::optional<foundation::Data> livePhoto, const std::string& age,
                                    const std::string& email) {
  if (!Utility::isConnectedToNetwork()) {
    Utility::hideLoader();
    Utility::showNoInternetAlert(*this);
    return;
  }
  Utility::showLoader();
  uploadInFlight_ = true;
  const auto weak = weakSelf();
  AuthServices::shared().uploadDocuments(
      documentType, std::move(documentFront), std::move(documentBack), std::move(livePhoto), age, email,
      [weak](int statusCode, const Response& response) {
        if (auto list = weak.lock()) list->handleUploadSuccess(statusCode, response);
      },
      [weak](const std::string& message) {
        if (auto list = weak.lock()) list->handleUploadFailure(message);
      });
}

void IDScanStepsVC::abandonUpload() {
  if (!uploadInFlight_) return;
  uploadInFlight_ = false;
  Utility::hideLoader();
}

void IDScanStepsVC::handleUploadSuccess(int statusCode, const Response& response) {
  // A reply to an upload whose flow has gone away changes nothing.
  if (!uploadInFlight_) return;
  uploadInFlight_ = false;
  Utility::hideLoader();
  if (!response.documentVerificationData) {
    // Whatever the status, the person must hear why nothing follows Submit.
    showUploadFailureAlert(messageOfReplyWithoutVerdict(statusCode, response));
    return;
  }
  // Any status with a verdict shows it: the verdict alone decides.
  const auto& verdict = *response.documentVerificationData;
  printVerdict(verdict);
  auto navigation = navigationController();
  if (!navigation) return;
  auto result = std::make_shared<VerifiedScreen>();
  result->verificationData = verdict;
  navigation->pushViewController(result, true);
}

void IDScanStepsVC::handleUploadFailure(const std::string& message) {
  if (!uploadInFlight_) return;
  uploadInFlight_ = false;
  Utility::hideLoader();
  showUploadFailureAlert(message);
}

void IDScanStepsVC::showUploadFailureAlert(const std::string& message) {
  auto alert = std::make_shared<uikit::UIAlertController>("MorvikVerify", boundedDisplayText(message),
                                                          uikit::UIAlertController::Style::alert);
  alert->addAction({"Ok", uikit::UIAlertAction::Style::default_, nullptr});
  // Present from the top of the chain: a controller that already presents
  // (an earlier alert still up) would refuse, and the message would be lost.
  uikit::UIViewController* presenter = this;
  while (auto presented = presenter->presentedViewController()) presenter = presented.get();
  presenter->present(alert, true);
}

}  // namespace morvik

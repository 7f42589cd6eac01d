// The step list's Submit: sorts the captures into the upload's image roles by
// their step titles and sends them with the document upload.
#include <morvik/api/AuthServices.h>
#include <morvik/api/models/JSONCoding.h>
#include <morvik/flow/IDScanStepsVC.h>
#include <morvik/flow/MorvikVerifyInternal.h>
#include <morvik/platform/foundation/Console.h>

#include "api/Utility.h"
#include "flow/result/VerifiedScreen.h"
#include "morvik/flow/IDDocumentSteps.h"

namespace morvik {

namespace {

constexpr double kUploadJPEGQuality = 0.5;
// The server expects an age with every document upload; the flow has none to
// offer, so it sends the value the server was built against.
constexpr const char* kUploadAge = "23";

std::optional<foundation::Data> jpeg(const std::shared_ptr<uikit::UIImage>& image) {
  if (!image) return std::nullopt;
  return image->jpegData(kUploadJPEGQuality);
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

void IDScanStepsVC::handleUploadSuccess(int statusCode, const Response& response) {
  (void)statusCode;  // the verdict alone decides, whatever the status
  Utility::hideLoader();
  if (!response.documentVerificationData) return;
  const auto& verdict = *response.documentVerificationData;
  try {
    foundation::print(encodeJSON(verdict));
  } catch (const std::exception&) {
    // Printing is a diagnostic; the verdict is still shown.
  }
  auto navigation = navigationController();
  if (!navigation) return;
  auto result = std::make_shared<VerifiedScreen>();
  result->verificationData = verdict;
  navigation->pushViewController(result, true);
}

void IDScanStepsVC::handleUploadFailure(const std::string& message) {
  Utility::hideLoader();
  auto alert = std::make_shared<uikit::UIAlertController>("MorvikVerify", message,
                                                          uikit::UIAlertController::Style::alert);
  alert->addAction({"Ok", uikit::UIAlertAction::Style::default_, nullptr});
  // Present from the top of the chain: a controller that already presents
  // (an earlier alert still up) would refuse, and the message would be lost.
  uikit::UIViewController* presenter = this;
  while (auto presented = presenter->presentedViewController()) presenter = presented.get();
  presenter->present(alert, true);
}

}  // namespace morvik

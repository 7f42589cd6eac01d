#include <morvik/flow/IDCaptureVC.h>
#include <morvik/flow/IDDocumentType.h>
#include <morvik/flow/IDScanStepsVC.h>
#include <morvik/flow/MorvikVerify.h>
#include <morvik/swiftui/MorvikVerifyView.h>

#include "morvik/flow/MorvikVerifyInternal.h"

namespace morvik {

using swiftui::AnyView;
using swiftui::Binding;

namespace {
MorvikVerificationResult cancelled() {
  return MorvikVerificationResult(false, std::nullopt, MorvikVerifyError::userCancelled());
}
}  // namespace

// ---- Coordinator --------------------------------------------------------------------

MorvikVerifyViewCoordinator::MorvikVerifyViewCoordinator(MorvikResultHandler onResult,
                                                         std::function<void()> onDismiss)
    : onResult(std::move(onResult)), onDismiss(std::move(onDismiss)) {}

void MorvikVerifyViewCoordinator::dismiss() {
  if (onDismiss) onDismiss();
  if (onResult) onResult(cancelled());
}

// ---- The hosted flow ----------------------------------------------------------------

MorvikVerifyView::MorvikVerifyView(MorvikVerificationType verificationType, std::optional<std::string> email,
                                   MorvikResultHandler onResult, std::function<void()> onDismiss)
    : verificationType(verificationType),
      email(std::move(email)),
      onResult(std::move(onResult)),
      onDismiss(std::move(onDismiss)) {}

std::shared_ptr<MorvikVerifyView::Coordinator> MorvikVerifyView::makeCoordinator() const {
  return std::shared_ptr<Coordinator>(new Coordinator(onResult, onDismiss));
}

std::shared_ptr<uikit::UINavigationController> MorvikVerifyView::makeUIViewController(
    Context& context) const {
  MorvikVerify::Internal::setCurrentEmail(email);
  MorvikVerify::Internal::setCompletionHandler(onResult);

  std::shared_ptr<uikit::UIViewController> root;
  if (verificationType == MorvikVerificationType::faceDetection) {
    auto capture = IDCaptureVC::make(IDDocumentType::driversLicenseOrIDCard, 0, IDScanStep("Face"));
    capture->isFaceOnlyMode = true;
    std::weak_ptr<IDCaptureVC> weakCapture = capture;
    capture->onCaptured = [weakCapture](std::shared_ptr<uikit::UIImage> image) {
      handleSwiftUIFaceCapture(weakCapture, image);
    };
    root = capture;
  } else {
    root = IDScanStepsVC::make(IDDocumentType::driversLicenseOrIDCard);
  }

  std::weak_ptr<Coordinator> weakCoordinator = context.coordinator;
  root->navigationItem().leftBarButtonItem = std::make_shared<uikit::UIBarButtonItem>(
      uikit::UIBarButtonItem::SystemItem::close, context.coordinator, [weakCoordinator] {
        if (auto coordinator = weakCoordinator.lock()) coordinator->dismiss();
      });

  // The cover tells the host of a flow taken away (its flag); the record
  // serves the face road's one-upload rule and its overlay.
  auto navigation =
      std::make_shared<MorvikFlowNavigationController>(root, MorvikVerify::Internal::beginFlow(nullptr));
  if (context.coordinator) context.coordinator->navigationController = navigation;
  return navigation;
}

void MorvikVerifyView::updateUIViewController(uikit::UINavigationController&, Context&) const {}

void MorvikVerifyView::handleSwiftUIFaceCapture(const std::weak_ptr<IDCaptureVC>& captureVC,
                                                const std::shared_ptr<uikit::UIImage>& image) {
  auto screen = captureVC.lock();
  if (!screen) return;
  MorvikVerify::Internal::handleFaceCapture(image, screen);
}

// ---- Modifier and button ------------------------------------------------------------

MorvikVerifyModifier::MorvikVerifyModifier(Binding<bool> isPresented, MorvikVerificationType verificationType,
                                           std::optional<std::string> email, MorvikResultHandler onResult)
    : isPresented(std::move(isPresented)),
      verificationType(verificationType),
      email(std::move(email)),
      onResult(std::move(onResult)) {}

AnyView MorvikVerifyModifier::body(const Content& content) const {
  auto flag = isPresented;
  auto type = verificationType;
  auto address = email;
  auto handler = onResult;
  return content.fullScreenCover(flag, nullptr, [flag, type, address, handler] {
    return AnyView(MorvikVerifyView(
                       type, address,
                       [flag, handler](const MorvikVerificationResult& result) {
                         flag.set(false);
                         if (handler) handler(result);
                       },
                       [flag] { flag.set(false); }))
        .ignoresSafeArea(swiftui::SafeAreaRegions::all, swiftui::Edge::Set::all);
  });
}

AnyView morvikDocumentScan(const AnyView& view, Binding<bool> isPresented, std::optional<std::string> email,
                           MorvikResultHandler onResult) {
  return view.modifier(MorvikVerifyModifier(std::move(isPresented), MorvikVerificationType::documentScan,
                                            std::move(email), std::move(onResult)));
}

AnyView morvikFaceDetection(const AnyView& view, Binding<bool> isPresented, std::string email,
                            MorvikResultHandler onResult) {
  return view.modifier(MorvikVerifyModifier(std::move(isPresented), MorvikVerificationType::faceDetection,
                                            std::optional<std::string>(std::move(email)),
                                            std::move(onResult)));
}

AnyView morvikVerify(const AnyView& view, Binding<bool> isPresented, MorvikVerificationType type,
                     std::optional<std::string> email, MorvikResultHandler onResult) {
  return view.modifier(
      MorvikVerifyModifier(std::move(isPresented), type, std::move(email), std::move(onResult)));
}

MorvikVerifyButton::MorvikVerifyButton(std::string title, MorvikVerificationType verificationType,
                                       std::optional<std::string> email, MorvikResultHandler onResult)
    : title(std::move(title)),
      verificationType(verificationType),
      email(std::move(email)),
      onResult(std::move(onResult)) {}

AnyView MorvikVerifyButton::body() const {
  auto presented = isPresented.projectedValue();
  return AnyView(swiftui::Button(swiftui::Text::verbatim(title), [presented] { presented.set(true); }))
      .modifier(MorvikVerifyModifier(presented, verificationType, email, onResult));
}

}  // namespace morvik

#include <morvik/swiftui/MorvikVerifyManager.h>
#include <morvik/swiftui/MorvikVerifyView.h>

namespace morvik {

using swiftui::AnyView;

const std::shared_ptr<MorvikVerifyManager>& MorvikVerifyManager::shared() {
  // Never released: views and closures may still reach it during exit.
  static const auto* instance = new std::shared_ptr<MorvikVerifyManager>(new MorvikVerifyManager());
  return *instance;
}

void MorvikVerifyManager::startDocumentScan(std::optional<std::string> email, Completion completion) {
  start(MorvikVerificationType::documentScan, std::move(email), std::move(completion));
}

void MorvikVerifyManager::startFaceDetection(std::string email, Completion completion) {
  start(MorvikVerificationType::faceDetection, std::optional<std::string>(std::move(email)),
        std::move(completion));
}

void MorvikVerifyManager::start(MorvikVerificationType type, std::optional<std::string> email,
                                Completion completion) {
  ++starts_;
  verificationType = type;
  this->email = std::move(email);
  completionHandler = std::move(completion);
  isPresented = true;
}

void MorvikVerifyManager::handleResult(const MorvikVerificationResult& result) {
  lastResult = result;
  isPresented = false;
  email = std::nullopt;
  // Released before it runs, so a start made from inside the completion
  // keeps its own.
  auto completion = std::exchange(completionHandler, nullptr);
  if (completion) completion(result);
}

MorvikVerifyAutoPresenter::MorvikVerifyAutoPresenter(std::shared_ptr<MorvikVerifyManager> manager)
    : manager(std::move(manager)) {}

AnyView MorvikVerifyAutoPresenter::body(const Content& content) const {
  auto shared = manager.object();
  return content.fullScreenCover(manager.binding(&MorvikVerifyManager::isPresented), nullptr, [shared] {
    // Close reports twice (onDismiss, then onResult), so the cancellation is
    // handled twice: the second run only publishes it again. When the first
    // run's completion has already started another verification, the second
    // would cancel that one and hand it this flow's result: it is skipped.
    auto closedAt = std::make_shared<std::optional<std::uint64_t>>();
    auto onResult = [shared, closedAt](const MorvikVerificationResult& result) {
      if (auto at = std::exchange(*closedAt, std::nullopt); at && *at != shared->starts_) return;
      shared->handleResult(result);
    };
    auto onDismiss = [shared, closedAt] {
      *closedAt = shared->starts_;
      shared->handleResult(MorvikVerificationResult(false, std::nullopt, MorvikVerifyError::userCancelled()));
    };
    return AnyView(MorvikVerifyView(shared->verificationType, shared->email, onResult, onDismiss))
        .ignoresSafeArea(swiftui::SafeAreaRegions::all, swiftui::Edge::Set::all);
  });
}

AnyView morvikVerifyEnabled(const AnyView& view) {
  return view.modifier(MorvikVerifyAutoPresenter(MorvikVerifyManager::shared()));
}

}  // namespace morvik

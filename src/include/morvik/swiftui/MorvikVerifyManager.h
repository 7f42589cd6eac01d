// MorvikVerifyManager: start a verification from any action without a
// presentation flag of your own. A start records what to run and raises the
// published isPresented; a view carrying morvikVerifyEnabled() presents the
// flow in a full-screen cover while it is true. Each result is published
// as lastResult, lowers the flag, clears the address and goes to the
// completion given to the start (once; a later start replaces a completion
// that has not been called, which is then never called).
//
// With no view carrying morvikVerifyEnabled(), a start raises the flag and
// nothing is shown until the host lowers it. Lowering isPresented by hand
// closes a shown cover without a result.
//
// Threads: main thread only; the published properties tell their
// observers synchronously on the calling thread.
#pragma once

#include <morvik/Export.h>
#include <morvik/flow/MorvikTypes.h>
#include <morvik/platform/combine.h>
#include <morvik/platform/swiftui.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace morvik {

class MORVIK_API MorvikVerifyManager : public combine::ObservableObject {
 public:
  using Completion = std::function<void(const MorvikVerificationResult& result)>;

  // The only instance, made on first use and never released.
  static const std::shared_ptr<MorvikVerifyManager>& shared();

  // $isPresented and $lastResult are projectedValue() of these.
  combine::Published<bool> isPresented{*this, false};
  combine::Published<std::optional<MorvikVerificationResult>> lastResult{*this, std::nullopt};
  MorvikVerificationType verificationType = MorvikVerificationType::documentScan;
  std::optional<std::string> email;

  void startDocumentScan(std::optional<std::string> email, Completion completion);
  void startFaceDetection(std::string email, Completion completion);
  void start(MorvikVerificationType type, std::optional<std::string> email, Completion completion);

  MorvikVerifyManager(const MorvikVerifyManager&) = delete;
  MorvikVerifyManager& operator=(const MorvikVerifyManager&) = delete;

 private:
  friend class MorvikVerifyAutoPresenter;
  MorvikVerifyManager() = default;
  void handleResult(const MorvikVerificationResult& result);
  Completion completionHandler;
  std::uint64_t starts_ = 0;  // tells a later start from the flow that ended
};

// Presents MorvikVerifyView while the shared manager's isPresented is true.
// Built by morvikVerifyEnabled() only.
class MORVIK_API MorvikVerifyAutoPresenter : public swiftui::ViewModifier {
 public:
  swiftui::ObservedObject<MorvikVerifyManager> manager;
  swiftui::AnyView body(const Content& content) const;

 private:
  friend MORVIK_API swiftui::AnyView morvikVerifyEnabled(const swiftui::AnyView& view);
  explicit MorvikVerifyAutoPresenter(std::shared_ptr<MorvikVerifyManager> manager);
};

// `view` with MorvikVerifyAutoPresenter(MorvikVerifyManager::shared()) attached.
MORVIK_API swiftui::AnyView morvikVerifyEnabled(const swiftui::AnyView& view);

}  // namespace morvik

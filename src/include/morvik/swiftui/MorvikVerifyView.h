// The declarative way into a verification: a view that hosts the SDK's
// screens, a modifier that shows it in a full-screen cover bound to a host
// flag, and a ready-made button.
//
//   swiftui::AnyView body() const override {
//     return morvik::morvikDocumentScan(swiftui::Text("Content"), isPresented.projectedValue(),
//                                       email, [](const morvik::MorvikVerificationResult& r) {...});
//   }
//
// Contract
// - Every result of the hosted flow (face verdict, the result screen's
//   Done, Close) reaches onResult on the main queue, and the cover closes:
//   the modifier lowers its flag first, then calls onResult. Close calls
//   onDismiss and then onResult with userCancelled; the SDK's delegate is
//   not told of that cancellation.
// - Building the hosted flow writes the view's e-mail address (also when
//   absent) and its onResult into MorvikVerify::shared(), replacing those of
//   any earlier start; later changes to the view's fields do not reach a
//   running flow. No check that the SDK is configured is made.
// - The face road uploads one photo at a time, as the SDK entry's does. A
//   cover the host lowers takes the upload's loading overlay with it, and no
//   result comes for it.
// - Main thread only.
#pragma once

#include <morvik/Export.h>
#include <morvik/flow/MorvikTypes.h>
#include <morvik/platform/swiftui.h>
#include <morvik/platform/uikit/UIImage.h>
#include <morvik/platform/uikit/UINavigationController.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace morvik {

class IDCaptureVC;

using MorvikResultHandler = std::function<void(const MorvikVerificationResult& result)>;

// The target of the hosted flow's Close button.
class MORVIK_API MorvikVerifyViewCoordinator
    : public std::enable_shared_from_this<MorvikVerifyViewCoordinator> {
 public:
  virtual ~MorvikVerifyViewCoordinator() = default;

  const MorvikResultHandler onResult;
  const std::function<void()> onDismiss;
  // The navigation controller that makeUIViewController built.
  std::weak_ptr<uikit::UINavigationController> navigationController;

  // Close: onDismiss, then onResult with userCancelled. Dismisses nothing
  // itself: the cover closes because the closures lower its flag.
  virtual void dismiss();

 private:
  friend class MorvikVerifyView;
  MorvikVerifyViewCoordinator(MorvikResultHandler onResult, std::function<void()> onDismiss);
};

class MORVIK_API MorvikVerifyView
    : public swiftui::UIViewControllerRepresentable<uikit::UINavigationController,
                                                    MorvikVerifyViewCoordinator> {
 public:
  using Coordinator = MorvikVerifyViewCoordinator;

  MorvikVerifyView(MorvikVerificationType verificationType, std::optional<std::string> email,
                   MorvikResultHandler onResult, std::function<void()> onDismiss);

  const MorvikVerificationType verificationType;
  const std::optional<std::string> email;
  const MorvikResultHandler onResult;
  const std::function<void()> onDismiss;

  std::shared_ptr<Coordinator> makeCoordinator() const override;
  // The step list (document scan) or the face-only capture screen (face
  // detection) inside a navigation controller, with Close on the left.
  std::shared_ptr<uikit::UINavigationController> makeUIViewController(Context& context) const override;
  // Nothing: the hosted flow is never rebuilt from later values.
  void updateUIViewController(uikit::UINavigationController& controller, Context& context) const override;

  // The face-only screen's photo: the SDK entry's face road, applied to
  // MorvikVerify::shared() and to the screen, if it still exists.
  static void handleSwiftUIFaceCapture(const std::weak_ptr<IDCaptureVC>& captureVC,
                                       const std::shared_ptr<uikit::UIImage>& image);
};

// Presents MorvikVerifyView in a full-screen cover while isPresented is true.
// Hosts obtain it through the functions below.
class MORVIK_API MorvikVerifyModifier : public swiftui::ViewModifier {
 public:
  swiftui::Binding<bool> isPresented;
  MorvikVerificationType verificationType;
  std::optional<std::string> email;
  MorvikResultHandler onResult;

  swiftui::AnyView body(const Content& content) const;

 private:
  friend class MorvikVerifyButton;
  friend MORVIK_API swiftui::AnyView morvikDocumentScan(const swiftui::AnyView&, swiftui::Binding<bool>,
                                                        std::optional<std::string>, MorvikResultHandler);
  friend MORVIK_API swiftui::AnyView morvikFaceDetection(const swiftui::AnyView&, swiftui::Binding<bool>,
                                                         std::string, MorvikResultHandler);
  friend MORVIK_API swiftui::AnyView morvikVerify(const swiftui::AnyView&, swiftui::Binding<bool>,
                                                  MorvikVerificationType, std::optional<std::string>,
                                                  MorvikResultHandler);
  MorvikVerifyModifier(swiftui::Binding<bool> isPresented, MorvikVerificationType verificationType,
                       std::optional<std::string> email, MorvikResultHandler onResult);
};

// `view` with a MorvikVerifyModifier attached.
MORVIK_API swiftui::AnyView morvikDocumentScan(const swiftui::AnyView& view,
                                               swiftui::Binding<bool> isPresented,
                                               std::optional<std::string> email,
                                               MorvikResultHandler onResult);
MORVIK_API swiftui::AnyView morvikFaceDetection(const swiftui::AnyView& view,
                                                swiftui::Binding<bool> isPresented, std::string email,
                                                MorvikResultHandler onResult);
MORVIK_API swiftui::AnyView morvikVerify(const swiftui::AnyView& view, swiftui::Binding<bool> isPresented,
                                         MorvikVerificationType type, std::optional<std::string> email,
                                         MorvikResultHandler onResult);

// A button that presents the flow on each tap; its title is shown as it is
// (not looked up as a localisation key). It keeps its own presentation
// flag: the host sees only onResult.
class MORVIK_API MorvikVerifyButton : public swiftui::View {
 public:
  MorvikVerifyButton(std::string title, MorvikVerificationType verificationType,
                     std::optional<std::string> email, MorvikResultHandler onResult);

  std::string title;
  MorvikVerificationType verificationType;
  std::optional<std::string> email;
  MorvikResultHandler onResult;
  swiftui::State<bool> isPresented{false};

  swiftui::AnyView body() const override;
};

}  // namespace morvik

#include <morvik/swiftui/MorvikVerifyExampleView.h>
#include <morvik/swiftui/MorvikVerifyManager.h>

namespace morvik {

using namespace swiftui;

namespace {

// The status line after a finished verification: verified, or the error; a
// negative result without an error leaves it as it was.
MorvikVerifyManager::Completion statusUpdater(Binding<std::string> status, std::string verifiedText) {
  return [status, verifiedText](const MorvikVerificationResult& result) {
    if (result.isVerified()) {
      status.set(verifiedText);
    } else if (result.error()) {
      status.set("Error: " + result.error()->errorDescription());
    }
  };
}

AnyView styled(Button button, Color background) {
  return button.padding()
      .background(background)
      .foregroundColor(Color::white())
      .clipShape(RoundedRectangle{10});
}

}  // namespace

MorvikVerifyExampleView::MorvikVerifyExampleView()
    : verificationStatus(std::string("Not verified")), userEmail(std::string("user@example.com")) {}

AnyView MorvikVerifyExampleView::body() const {
  auto status = verificationStatus.projectedValue();
  auto emailField = userEmail.projectedValue();
  return morvikVerifyEnabled(
      VStack(HorizontalAlignment::center, 20,
             {
                 Text("MorvikVerify SDK").font(Font::title()),
                 TextField("Email", emailField)
                     .textFieldStyle(RoundedBorderTextFieldStyle())
                     .padding(Edge::Set::horizontal),
                 Text::verbatim(verificationStatus.get()).foregroundColor(Color::gray()),
                 styled(Button("Document Scan",
                               [status, emailField] {
                                 MorvikVerifyManager::shared()->startDocumentScan(
                                     emailField.get(), statusUpdater(status, "Document Verified"));
                               }),
                        Color::blue()),
                 styled(Button("Face Detection",
                               [status, emailField] {
                                 MorvikVerifyManager::shared()->startFaceDetection(
                                     emailField.get(), statusUpdater(status, "Face Verified"));
                               }),
                        Color::green()),
             }));
}

}  // namespace morvik

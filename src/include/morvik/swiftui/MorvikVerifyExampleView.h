// MorvikVerifyExampleView: a self-contained demo screen. An e-mail field, a
// status line and two buttons that start a document scan or a face
// detection through MorvikVerifyManager::shared(), presented by the
// auto-presenter the screen attaches to itself. The host only configures
// the SDK and shows this view (e.g. in a UIHostingController). Main thread
// only.
#pragma once

#include <morvik/Export.h>
#include <morvik/platform/swiftui.h>

#include <string>

namespace morvik {

class MORVIK_API MorvikVerifyExampleView : public swiftui::View {
 public:
  MorvikVerifyExampleView();
  swiftui::AnyView body() const override;

 private:
  swiftui::State<std::string> verificationStatus;
  swiftui::State<std::string> userEmail;
};

}  // namespace morvik

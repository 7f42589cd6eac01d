// Built against the installed headers and libraries only: configures nothing,
// but touches a public type of each kind so a missing header or symbol fails.
#include <morvik/MorvikVerify.h>
#include <morvik/compressor/VideoCompressor.h>
// Every umbrella in one file: a host may include them all together.
#include <morvik/platform/avf.h>
#include <morvik/platform/avf_asset.h>
#include <morvik/platform/combine.h>
#include <morvik/platform/coreimage.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/foundation.h>
#include <morvik/platform/network.h>
#include <morvik/platform/quartz.h>
#include <morvik/platform/swiftui.h>
#include <morvik/platform/uikit.h>
#include <morvik/platform/vision.h>

#include <cstdio>

int main() {
  // The compressor answers a missing source at once: onStart, then a failure.
  int compressorReports = 0;
  morvik::VideoCompressor().compressVideo(
      foundation::URL::fileURLWithPath("/nonexistent/in.mov"),
      foundation::URL::fileURLWithPath("/tmp/out.mov"), morvik::VideoQuality::medium, false, false,
      dispatch::DispatchQueue("install.progress"), nullptr, [&](morvik::CompressionResult r) {
        compressorReports += r.kind() == morvik::CompressionResult::Kind::onStart ? 1 : 10;
      });
  if (compressorReports != 11) {
    std::printf("morvik-install-host: compressor reported %d\n", compressorReports);
    return 1;
  }
  const morvik::IDScanStep step("Document Front");
  const auto type = morvik::IDDocumentType::allCases().front();
  const auto screen = morvik::IDCaptureVC::make(type, 0, step);
  const auto list = morvik::IDScanStepsVC::make(type);
  const auto verdict =
      morvik::decodeJSON<morvik::DocumentVerificationData>(std::string_view(R"({"requestId":7})"));
  bool rejected = false;
  try {
    morvik::decodeJSON<morvik::DocumentVerificationData>(std::string_view(R"({"requestId":"7"})"));
  } catch (const morvik::DecodingError& error) {
    rejected = error.kind() == morvik::DecodingError::Kind::typeMismatch;
  }
  // Loading the SDK registered its classes for interface files.
  const auto nib = uikit::UINib::make(
      foundation::Data::fromString(
          R"({"objects": [{"class": "UIViewX", "properties": {"firstColor": "#FF0000"}}]})"),
      nullptr);
  const auto loaded = nib->instantiate(nullptr);
  const bool gradient =
      loaded.ok() && loaded.topLevelObjects.front().view->layer()->className() == "CAGradientLayer";
  foundation::UserDefaults defaults;
  morvik::setStruct(defaults, std::optional(verdict), "verdict");
  const auto stored = morvik::structData<morvik::DocumentVerificationData>(defaults, "verdict");
  std::printf(
      "morvik-install-host: \"%s\", step \"%s\" (%s); screens %s, %s; verdict %s; interface file %s\n",
      std::string(type.title()).c_str(), step.title().c_str(), step.isFront() ? "front" : "?",
      screen->className().c_str(), list->className().c_str(), morvik::encodeJSON(verdict).c_str(),
      gradient ? "gradient" : loaded.error.value_or("?").c_str());
  return screen && list && list->steps().size() == 3 && verdict.requestId == 7 && rejected && gradient &&
                 stored && stored->requestId == 7
             ? 0
             : 1;
}

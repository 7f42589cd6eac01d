// Main-thread costs of the document road's screens: building and laying out
// the step list, Submit's three JPEG encodes at quality 0.5 (run on the main
// thread before the upload starts), and the result screen for a full verdict.
#include <benchmark/benchmark.h>
#include <morvik/flow/IDScanStepsVC.h>
#include <morvik/platform/uikit.h>

#include "api/models/FullVerdictReply.h"
#include "fixtures/generators/Generators.h"
#include "flow/result/VerifiedScreen.h"
#include "morvik/api/models/JSONCoding.h"
#include "morvik/api/models/Response.h"

namespace {

namespace gen = fixtures::generators;

void BM_StepListBuildAndLayout(benchmark::State& state) {
  for (auto _ : state) {
    auto list = morvik::IDScanStepsVC::make(morvik::IDDocumentType::driversLicenseOrIDCard);
    list->view()->layoutIfNeeded();
    benchmark::DoNotOptimize(list->view()->subviews().size());
  }
}
BENCHMARK(BM_StepListBuildAndLayout)->Unit(benchmark::kMillisecond);

// What the capture screen hands over: two document crops of a 1080 x 1440
// scene and a portrait selfie.
void BM_SubmitEncodeThreeCaptures(benchmark::State& state) {
  const auto front = uikit::UIImage::make(
      gen::toCGImage(gen::makeCardImage(3, gen::CardContent::printed, 1020, nullptr, nullptr)));
  const auto back = uikit::UIImage::make(
      gen::toCGImage(gen::makeCardImage(4, gen::CardContent::pdf417, 1020, nullptr, nullptr)));
  gen::FaceTurnOptions options;
  auto face = gen::makeFaceTurn(gen::loadFacePhoto(), options);
  const auto selfie = uikit::UIImage::make(gen::toCGImage(face.bgr));
  std::size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    for (const auto& image : {front, back, selfie}) bytes += image->jpegData(0.5)->count();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["upload_KB"] = double(bytes) / 1024;
}
BENCHMARK(BM_SubmitEncodeThreeCaptures)->Unit(benchmark::kMillisecond);

void BM_ResultScreenFullVerdict(benchmark::State& state) {
  const auto verdict =
      morvik::decodeJSON<morvik::Response>(morvik::samples::kFullVerdictReply).documentVerificationData;
  for (auto _ : state) {
    auto screen = std::make_shared<morvik::VerifiedScreen>();
    screen->verificationData = verdict;
    screen->view()->layoutIfNeeded();
    benchmark::DoNotOptimize(screen->contentStack()->arrangedSubviews().size());
  }
}
BENCHMARK(BM_ResultScreenFullVerdict)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

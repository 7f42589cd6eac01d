// Vision requests at camera resolution (1920 x 1080 NV12 from a landscape
// sensor, orientation .right, as the capture screen performs them), each next
// to the plain library call it wraps. One thread: OpenCV's pool is set to one
// thread and the program re-runs itself with OMP_THREAD_LIMIT=1 (Tesseract).
// Read the median of the repetitions.
#include <benchmark/benchmark.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <tesseract/baseapi.h>
#include <unistd.h>

#include <cstdlib>
#include <opencv2/imgproc.hpp>

#include "fixtures/generators/Generators.h"
#include "morvik/platform/vision.h"

namespace {

using namespace fixtures::generators;
using quartz::CGImagePropertyOrientation;

struct Frames {
  avf::CVPixelBufferRef card, face, mrz;
  cv::Mat cardGrey, faceGrey, mrzRegionGrey;  // what the plain calls get
};

const Frames& frames() {
  static const Frames f = [] {
    Frames out;
    CardFrameOptions o;
    o.seed = 5;
    o.frameSize = {1080, 1920};
    o.background = Background::textured;
    const cv::Mat card = uprightToSensor(makeCardFrame(o).bgr);
    out.card = toNV12(card);
    cv::cvtColor(card, out.cardGrey, cv::COLOR_BGR2GRAY);

    FaceTurnOptions fo;
    fo.yawRadians = 0.3;
    const cv::Mat face = uprightToSensor(makeFaceTurn(loadFacePhoto(), fo).bgr);
    out.face = toNV12(face);
    cv::cvtColor(face, out.faceGrey, cv::COLOR_BGR2GRAY);

    o.content = CardContent::mrzTD3;
    o.minScale = 0.8, o.maxScale = 0.9, o.maxRotationDeg = 3, o.maxTiltDeg = 5;
    const cv::Mat upright = makeCardFrame(o).bgr;
    out.mrz = toNV12(uprightToSensor(upright));
    cv::Mat grey;
    cv::cvtColor(upright, grey, cv::COLOR_BGR2GRAY);
    out.mrzRegionGrey =
        grey(cv::Rect(0, grey.rows * 4 / 10, grey.cols, grey.rows - grey.rows * 4 / 10)).clone();
    return out;
  }();
  return f;
}

void BM_RectangleRequest_Live(benchmark::State& state) {
  const auto& f = frames();
  for (auto _ : state) {
    vision::VNImageRequestHandler handler(f.card, CGImagePropertyOrientation::right);
    vision::VNDetectRectanglesRequest r;
    r.maximumObservations = 1, r.minimumSize = 0.1f, r.minimumConfidence = 0.6f, r.minimumAspectRatio = 0.2f;
    r.quadratureTolerance = 30;
    r.regionOfInterest = vision::CGRect::make(0.075, 0.075, 0.85, 0.85);
    handler.perform({&r});
    if (r.results().empty()) state.SkipWithError("no rectangle");
  }
}

void BM_Plain_CannyFindContours_FullFrame(benchmark::State& state) {
  const auto& f = frames();
  for (auto _ : state) {
    cv::Mat blurred, edges;
    cv::GaussianBlur(f.cardGrey, blurred, {5, 5}, 0);
    cv::Canny(blurred, edges, 20, 60);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(edges, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
    benchmark::DoNotOptimize(contours.data());
  }
}

void BM_FaceLandmarksAndQuality(benchmark::State& state) {
  const auto& f = frames();
  for (auto _ : state) {
    vision::VNImageRequestHandler handler(f.face, CGImagePropertyOrientation::right);
    vision::VNDetectFaceLandmarksRequest landmarks;
    vision::VNDetectFaceCaptureQualityRequest quality;
    handler.perform({&landmarks, &quality});
    if (landmarks.results().empty()) state.SkipWithError("no face");
  }
}

void BM_Plain_DlibDetector_FullFrame(benchmark::State& state) {
  const auto& f = frames();
  dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
  for (auto _ : state) benchmark::DoNotOptimize(detector(dlib::cv_image<unsigned char>(f.faceGrey)).size());
}

void BM_TextRequest_MRZ_Lower60(benchmark::State& state) {
  const auto& f = frames();
  for (auto _ : state) {
    vision::VNImageRequestHandler handler(f.mrz, CGImagePropertyOrientation::right);
    vision::VNRecognizeTextRequest r;
    r.recognitionLevel = vision::VNRequestTextRecognitionLevel::fast;
    r.usesLanguageCorrection = false;
    r.regionOfInterest = vision::CGRect::make(0, 0, 1, 0.6);
    handler.perform({&r});
    if (r.results().empty()) state.SkipWithError("no text");
  }
}

void BM_Plain_Tesseract_Lower60(benchmark::State& state) {
  const auto& f = frames();
  tesseract::TessBaseAPI api;
  if (api.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
    state.SkipWithError("no English model");
    return;
  }
  const cv::Mat& g = f.mrzRegionGrey;
  for (auto _ : state) {
    api.SetImage(g.data, g.cols, g.rows, 1, static_cast<int>(g.step));
    api.SetSourceResolution(300);
    std::unique_ptr<char[]> text(api.GetUTF8Text());
    benchmark::DoNotOptimize(text.get());
  }
  api.End();
}

void warmUp() {
  // Model loading (about 1.5 s for the face models, 70 ms per text engine) is not part of a call's cost.
  const auto& f = frames();
  vision::VNImageRequestHandler a(f.face, CGImagePropertyOrientation::right),
      b(f.mrz, CGImagePropertyOrientation::right);
  vision::VNDetectFaceLandmarksRequest l;
  vision::VNRecognizeTextRequest t;
  t.usesLanguageCorrection = false;
  a.perform({&l});
  b.perform({&t});
}

}  // namespace

BENCHMARK(BM_RectangleRequest_Live)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Plain_CannyFindContours_FullFrame)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_FaceLandmarksAndQuality)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Plain_DlibDetector_FullFrame)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_TextRequest_MRZ_Lower60)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Plain_Tesseract_Lower60)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
  // Tesseract sizes its OpenMP teams once, from the environment, when the library loads.
  if (!std::getenv("OMP_THREAD_LIMIT")) {
    setenv("OMP_THREAD_LIMIT", "1", 1);
    execv("/proc/self/exe", argv);
  }
  cv::setNumThreads(1);
  warmUp();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// Vision requests at camera resolution (1920 x 1080 NV12 from a landscape
// sensor, orientation .right, as the capture screen performs them), each next
// to the plain library call it wraps. One thread: OpenCV's pool is set to one
// thread and the program re-runs itself with OMP_THREAD_LIMIT=1 (Tesseract).
// Read the median of the repetitions.
#include <benchmark/benchmark.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_processing/shape_predictor.h>
#include <dlib/opencv/cv_image.h>
#include <dlib/serialize.h>
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
  avf::CVPixelBufferRef card, bandedCard, face, smallFace, mrz;
  quartz::CGImageRef photo1080, photo12MP;  // captured stills, upright, a card held in portrait
  cv::Mat cardGrey, faceGrey, mrzRegionGrey, mrzBandGrey;  // what the plain calls get
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
    // A licence-like front (title band, framed photograph, boxes) on a real photograph.
    CardFrameOptions banded = o;
    banded.content = CardContent::bandedFront;
    banded.background = Background::photograph;
    out.bandedCard = toNV12(uprightToSensor(makeCardFrame(banded).bgr));
    // Photos as the camera delivers them (1920 x 1080 and 4032 x 3024 sensors), turned upright.
    banded.frameSize = {1080, 1920};
    out.photo1080 = toCGImage(makeCardFrame(banded).bgr);
    banded.frameSize = {3024, 4032};
    out.photo12MP = toCGImage(makeCardFrame(banded).bgr);

    // A selfie with the face in the guide circle (outer face 60 % of the
    // frame's width), and one held farther away (45 %).
    FaceTurnOptions fo;
    fo.yawRadians = 0.3;
    fo.faceWidthShare = 0.6;
    const cv::Mat face = makeFaceTurn(loadFacePhoto(), fo).bgr;
    out.face = toNV12(uprightToSensor(face));
    cv::cvtColor(face, out.faceGrey, cv::COLOR_BGR2GRAY);  // upright, as the detector needs it
    fo.faceWidthShare = 0.45;
    out.smallFace = toNV12(uprightToSensor(makeFaceTurn(loadFacePhoto(), fo).bgr));

    o.content = CardContent::mrzTD3;
    o.minScale = 0.8, o.maxScale = 0.9, o.maxRotationDeg = 3, o.maxTiltDeg = 5;
    const CardFrame doc = makeCardFrame(o);
    const cv::Mat& upright = doc.bgr;
    out.mrz = toNV12(uprightToSensor(upright));
    cv::Mat grey;
    cv::cvtColor(upright, grey, cv::COLOR_BGR2GRAY);
    out.mrzRegionGrey =
        grey(cv::Rect(0, grey.rows * 4 / 10, grey.cols, grey.rows - grey.rows * 4 / 10)).clone();
    // The zone alone: the lowest 30 % of the card.
    const auto& c = doc.corners;
    const std::vector<cv::Point2f> band = {c[3] + (c[0] - c[3]) * 0.3f, c[2] + (c[1] - c[2]) * 0.3f, c[2],
                                           c[3]};
    out.mrzBandGrey = grey(cv::boundingRect(band) & cv::Rect(0, 0, grey.cols, grey.rows)).clone();
    return out;
  }();
  return f;
}

// The capture screen's live rectangle request on one frame.
template <typename Frame>
void liveRectangleRequest(benchmark::State& state, const Frame& frame) {
  for (auto _ : state) {
    vision::VNImageRequestHandler handler(frame, CGImagePropertyOrientation::right);
    vision::VNDetectRectanglesRequest r;
    r.maximumObservations = 1, r.minimumSize = 0.1f, r.minimumConfidence = 0.6f, r.minimumAspectRatio = 0.2f;
    r.quadratureTolerance = 30;
    r.regionOfInterest = vision::CGRect::make(0.075, 0.075, 0.85, 0.85);
    handler.perform({&r});
    if (r.results().empty()) state.SkipWithError("no rectangle");
  }
}

void BM_RectangleRequest_Live(benchmark::State& state) { liveRectangleRequest(state, frames().card); }

void BM_RectangleRequest_Live_BandedCardOnPhotograph(benchmark::State& state) {
  liveRectangleRequest(state, frames().bandedCard);
}

// The photo-time request on a captured still (no region of interest, stricter limits).
void photoRectangleRequest(benchmark::State& state, const quartz::CGImageRef& photo) {
  for (auto _ : state) {
    vision::VNImageRequestHandler handler(photo);
    vision::VNDetectRectanglesRequest r;
    r.maximumObservations = 1, r.minimumSize = 0.3f, r.minimumConfidence = 0.75f, r.minimumAspectRatio = 0.3f;
    r.quadratureTolerance = 20;
    handler.perform({&r});
    if (r.results().empty()) state.SkipWithError("no rectangle");
  }
}

void BM_RectangleRequest_Photo_1920x1080(benchmark::State& state) {
  photoRectangleRequest(state, frames().photo1080);
}
void BM_RectangleRequest_Photo_4032x3024(benchmark::State& state) {
  photoRectangleRequest(state, frames().photo12MP);
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

void faceLandmarksAndQuality(benchmark::State& state, avf::CVPixelBufferRef frame) {
  for (auto _ : state) {
    vision::VNImageRequestHandler handler(frame, CGImagePropertyOrientation::right);
    vision::VNDetectFaceLandmarksRequest landmarks;
    vision::VNDetectFaceCaptureQualityRequest quality;
    handler.perform({&landmarks, &quality});
    if (landmarks.results().empty()) state.SkipWithError("no face");
  }
}

void BM_FaceLandmarksAndQuality(benchmark::State& state) { faceLandmarksAndQuality(state, frames().face); }
void BM_FaceLandmarksAndQuality_FaceFartherAway(benchmark::State& state) {
  faceLandmarksAndQuality(state, frames().smallFace);
}

void BM_Plain_DlibDetector_FullFrame(benchmark::State& state) {
  const auto& f = frames();
  dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
  for (auto _ : state) benchmark::DoNotOptimize(detector(dlib::cv_image<unsigned char>(f.faceGrey)).size());
}

// The plain detector on the copy our layer scans first (shorter side 200 px).
void BM_Plain_DlibDetector_Shorter200(benchmark::State& state) {
  const auto& f = frames();
  cv::Mat small;
  const double s = 200.0 / std::min(f.faceGrey.cols, f.faceGrey.rows);
  cv::resize(f.faceGrey, small, {}, s, s, cv::INTER_AREA);
  dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
  for (auto _ : state) benchmark::DoNotOptimize(detector(dlib::cv_image<unsigned char>(small)).size());
}

// The 68 landmarks alone, on the full-resolution upright face.
void BM_Plain_ShapePredictor(benchmark::State& state) {
  const auto& f = frames();
  dlib::shape_predictor predictor;
  dlib::deserialize("/usr/share/dlib/shape_predictor_68_face_landmarks.dat") >> predictor;
  const auto found = dlib::get_frontal_face_detector()(dlib::cv_image<unsigned char>(f.faceGrey));
  if (found.empty()) {
    state.SkipWithError("no face");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(predictor(dlib::cv_image<unsigned char>(f.faceGrey), found[0]).num_parts());
}

void textRequest(benchmark::State& state, vision::VNRequestTextRecognitionLevel level) {
  const auto& f = frames();
  for (auto _ : state) {
    vision::VNImageRequestHandler handler(f.mrz, CGImagePropertyOrientation::right);
    vision::VNRecognizeTextRequest r;
    r.recognitionLevel = level;
    r.usesLanguageCorrection = false;
    r.regionOfInterest = vision::CGRect::make(0, 0, 1, 0.6);
    handler.perform({&r});
    if (r.results().empty()) state.SkipWithError("no text");
  }
}

// The capture screen's request: the fast level (our glyph recogniser).
void BM_TextRequest_MRZ_Lower60(benchmark::State& state) {
  textRequest(state, vision::VNRequestTextRecognitionLevel::fast);
}
// The accurate level (Tesseract, line by line).
void BM_TextRequest_MRZ_Lower60_Accurate(benchmark::State& state) {
  textRequest(state, vision::VNRequestTextRecognitionLevel::accurate);
}

void plainTesseract(benchmark::State& state, const cv::Mat& g) {
  tesseract::TessBaseAPI api;
  if (api.Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) {
    state.SkipWithError("no English model");
    return;
  }
  for (auto _ : state) {
    api.SetImage(g.data, g.cols, g.rows, 1, static_cast<int>(g.step));
    api.SetSourceResolution(300);
    std::unique_ptr<char[]> text(api.GetUTF8Text());
    benchmark::DoNotOptimize(text.get());
  }
  api.End();
}

void BM_Plain_Tesseract_Lower60(benchmark::State& state) { plainTesseract(state, frames().mrzRegionGrey); }
void BM_Plain_Tesseract_ZoneOnly(benchmark::State& state) { plainTesseract(state, frames().mrzBandGrey); }

void warmUp() {
  // Model loading (about 1.5 s for the face models, 70 ms per text engine, the
  // fast text level's training) is not part of a call's cost.
  const auto& f = frames();
  vision::VNImageRequestHandler a(f.face, CGImagePropertyOrientation::right),
      b(f.mrz, CGImagePropertyOrientation::right);
  vision::VNDetectFaceLandmarksRequest l;
  vision::VNRecognizeTextRequest t, fast;
  t.usesLanguageCorrection = false;
  fast.recognitionLevel = vision::VNRequestTextRecognitionLevel::fast;
  a.perform({&l});
  b.perform({&t, &fast});
}

}  // namespace

BENCHMARK(BM_RectangleRequest_Live)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_RectangleRequest_Live_BandedCardOnPhotograph)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_RectangleRequest_Photo_1920x1080)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_RectangleRequest_Photo_4032x3024)
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
BENCHMARK(BM_FaceLandmarksAndQuality_FaceFartherAway)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Plain_DlibDetector_FullFrame)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Plain_DlibDetector_Shorter200)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Plain_ShapePredictor)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_TextRequest_MRZ_Lower60)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_TextRequest_MRZ_Lower60_Accurate)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Plain_Tesseract_Lower60)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Plain_Tesseract_ZoneOnly)
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

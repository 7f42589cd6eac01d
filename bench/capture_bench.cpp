// The capture screen's per-frame cost and end-to-end capture time on a
// real-time virtual camera at 30 frames per second (1920 x 1080 NV12).
// Run pinned to one core for the one-core figures: taskset -c 0 capture_bench
#include <morvik/flow/IDCaptureVC.h>

#include "fixtures/generators/Generators.h"
#include "flow/capture/FrameAnalyzer.h"
#include "flow/capture/IDCaptureVCState.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <morvik/platform/avf.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace morvik {
struct IDCaptureVCTestAccess {
  static IDCaptureVC::State& state(IDCaptureVC& vc) { return *vc.state_; }
};
}  // namespace morvik

namespace {

namespace gen = fixtures::generators;
using Clock = std::chrono::steady_clock;

constexpr int kFrames = 300;

// A card held in front of a landscape sensor: slight hand jitter per frame.
std::vector<avf::CVPixelBufferRef> cardVideo() {
  static std::vector<avf::CVPixelBufferRef> frames = [] {
    std::vector<avf::CVPixelBufferRef> out;
    for (int i = 0; i < 10; ++i) {
      gen::CardFrameOptions options;
      options.seed = 11;  // the same card and pose every frame...
      options.minScale = options.maxScale = 0.75;
      options.maxRotationDeg = 2;
      options.maxTiltDeg = 2;
      options.maxCentreOffset = 0.01;
      options.maxNoiseSigma = 3;
      auto frame = gen::makeCardFrame(options);
      // ...shifted by a pixel or two, as a steady hand would.
      cv::Mat shifted;
      const cv::Mat m = (cv::Mat_<double>(2, 3) << 1, 0, (i % 3) - 1, 0, 1, (i % 2));
      cv::warpAffine(frame.bgr, shifted, m, frame.bgr.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
      out.push_back(gen::toNV12(shifted));
    }
    return out;
  }();
  return frames;
}

std::vector<avf::CVPixelBufferRef> faceVideo() {
  static std::vector<avf::CVPixelBufferRef> frames = [] {
    std::vector<avf::CVPixelBufferRef> out;
    const cv::Mat photo = gen::loadFacePhoto();
    for (double yaw : {0.0, 0.5, -0.5}) {
      gen::FaceTurnOptions options;
      options.yawRadians = yaw;
      options.frameSize = {1080, 1920};
      out.push_back(gen::toNV12(gen::uprightToSensor(gen::makeFaceTurn(photo, options).bgr)));
    }
    return out;
  }();
  return frames;
}

// The sequence a user follows on a face step: centre, left, right, centre.
int faceFrameFor(std::int64_t i) {
  const std::int64_t phase = (i / 60) % 4;  // two seconds a pose at 30 frames per second
  return phase == 1 ? 1 : (phase == 2 ? 2 : 0);
}

void report(benchmark::State& state, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p95_ms"] = ms[static_cast<std::size_t>(ms.size() * 0.95)];
  state.counters["max_ms"] = ms.back();
}

// Cost of one analysed frame of a front step (rectangle analysis on even frames).
void BM_FrontStepAnalysedFrame(benchmark::State& state) {
  const auto frames = cardVideo();
  std::vector<double> analysed;
  for (auto _ : state) {
    morvik::capture::SharedFlags flags;
    flags.isAdjustingFocus = flags.isAdjustingExposure = false;
    morvik::capture::FrameAnalyzer analyzer(morvik::IDDocumentType::driversLicenseOrIDCard, "Document Front", flags);
    analyzer.setPreview({quartz::CGSize{374, 607}, quartz::CGImagePropertyOrientation::right, false});
    for (int i = 0; i < kFrames; ++i) {
      const auto start = Clock::now();
      analyzer.processFrame(frames[static_cast<std::size_t>(i) % frames.size()], 4.0 + 0.05 * (i % 7));
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      if (i % 2 == 1) analysed.push_back(ms);  // the frame counter is i + 1: even numbers are analysed
    }
  }
  report(state, analysed);
}
BENCHMARK(BM_FrontStepAnalysedFrame)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_FaceStepAnalysedFrame(benchmark::State& state) {
  const auto frames = faceVideo();
  std::vector<double> analysed;
  for (auto _ : state) {
    morvik::capture::SharedFlags flags;
    flags.isAdjustingFocus = flags.isAdjustingExposure = false;
    morvik::capture::FrameAnalyzer analyzer(morvik::IDDocumentType::driversLicenseOrIDCard, "Face", flags);
    analyzer.setPreview({quartz::CGSize{374, 607}, quartz::CGImagePropertyOrientation::right, true});
    for (int i = 0; i < kFrames; ++i) {
      const auto start = Clock::now();
      analyzer.processFrame(frames[static_cast<std::size_t>(faceFrameFor(i))], 4.0 + 0.1 * (i % 5));
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      if (i % 2 == 1) analysed.push_back(ms);
    }
  }
  report(state, analysed);
}
BENCHMARK(BM_FaceStepAnalysedFrame)->Iterations(1)->Unit(benchmark::kMillisecond);

// The whole screen on a real-time camera: drops, and time to the delivered image.
void runScreen(benchmark::State& state, bool face) {
  for (auto _ : state) {
    avf::VirtualCamera::unregisterAll();
    const auto frames = face ? faceVideo() : cardVideo();
    avf::VirtualCameraOptions options;
    options.position = face ? avf::AVCaptureDevice::Position::front : avf::AVCaptureDevice::Position::back;
    options.frameRate = 30;
    options.settleFrames = 3;
    options.brightnessNoise = 0.1;
    auto camera = avf::VirtualCamera::registerGenerator(
        [frames, face](std::int64_t i) -> avf::VirtualFrame {
          return frames[face ? static_cast<std::size_t>(faceFrameFor(i)) : static_cast<std::size_t>(i) % frames.size()];
        },
        options);
    auto vc = morvik::IDCaptureVC::make(morvik::IDDocumentType::driversLicenseOrIDCard, face ? 2 : 0,
                                morvik::IDScanStep(face ? "Face" : "Document Front"));
    bool delivered = false;
    vc->onCaptured = [&](std::shared_ptr<uikit::UIImage>) { delivered = true; };
    auto scene = uikit::UIApplication::shared().connectWindowScene();
    auto window = scene->makeWindow();
    window->setRootViewController(vc);
    window->makeKeyAndVisible();
    auto& s = morvik::IDCaptureVCTestAccess::state(*vc);
    dispatch::MainLoop::runUntil([&] { return s.flags.isReadyToScan.load() && s.captureSession->isRunning(); }, 10);
    const auto ready = Clock::now();
    const bool ok = dispatch::MainLoop::runUntil([&] { return delivered; }, 30);
    const double seconds = std::chrono::duration<double>(Clock::now() - ready).count();
    const double handed = static_cast<double>(s.videoOutput->deliveredFrameCount());
    const double dropped = static_cast<double>(s.videoOutput->droppedFrameCount());
    state.counters["delivered"] = ok ? 1 : 0;
    state.counters["seconds_to_image"] = seconds;
    state.counters["dropped_share"] = dropped / std::max(1.0, handed + dropped);
    vc->viewWillDisappear(false);
    uikit::UIApplication::shared().disconnect(scene);
    window.reset();
    vc.reset();
    dispatch::MainLoop::runUntil([] { return false; }, 0.3);
    camera->unregister();
  }
}

void BM_FrontStepTimeToImage(benchmark::State& state) { runScreen(state, false); }
BENCHMARK(BM_FrontStepTimeToImage)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
void BM_FaceStepTimeToImage(benchmark::State& state) { runScreen(state, true); }
BENCHMARK(BM_FaceStepTimeToImage)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

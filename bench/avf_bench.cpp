// Capture-stack costs per frame at camera resolution (1920x1080 NV12).
#include <ZXing/ReadBarcode.h>
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <thread>

#include "fixtures/camera/CameraTestSupport.h"
#include "fixtures/generators/Generators.h"
#include "morvik/platform/avf.h"
#include "morvik/platform/coreimage.h"

using namespace avf;

namespace {

class NullDelegate : public AVCaptureVideoDataOutputSampleBufferDelegate {};

struct BenchRig {
  std::shared_ptr<VirtualCamera> camera;
  std::shared_ptr<AVCaptureSession> session = AVCaptureSession::make();
  std::shared_ptr<AVCaptureVideoDataOutput> video = AVCaptureVideoDataOutput::make();
  std::shared_ptr<AVCapturePhotoOutput> photo = AVCapturePhotoOutput::make();
  std::shared_ptr<NullDelegate> delegate = std::make_shared<NullDelegate>();
  dispatch::DispatchQueue queue{"bench.video"};

  explicit BenchRig(FrameGenerator generator) {
    VirtualCameraOptions o;
    o.stepMode = true;
    camera = VirtualCamera::registerGenerator(std::move(generator), o);
    session->addInput(AVCaptureDeviceInput::make(camera->device()));
    session->addOutput(video);
    session->addOutput(photo);
    video->setSampleBufferDelegate(delegate, queue);
    session->startRunning();
  }
  ~BenchRig() {
    session->stopRunning();
    camera->unregister();
  }
};

cv::Mat cardFrame() {
  fixtures::generators::CardFrameOptions o;
  o.content = fixtures::generators::CardContent::pdf417;
  return fixtures::generators::makeCardFrame(o).bgr;
}

void BM_DeliverNV12Frame(benchmark::State& state) {
  auto nv12 = fixtures::generators::toNV12(cardFrame());
  BenchRig rig([nv12](std::int64_t) { return VirtualFrame(nv12); });
  if (state.range(0) == 1)
    rig.video->connection(AVMediaType::video)->setVideoOrientation(AVCaptureVideoOrientation::portrait);
  for (auto _ : state) {
    benchmark::DoNotOptimize(rig.camera->deliverNextFrame());
    rig.queue.sync([] {});
  }
}
BENCHMARK(BM_DeliverNV12Frame)->Arg(0)->Arg(1)->ArgName("portraitBuffers")->Unit(benchmark::kMillisecond);

void BM_DeliverBGRFrame(benchmark::State& state) {
  auto frame = fixtures::camera::bgrFrame(cardFrame());
  BenchRig rig([frame](std::int64_t) { return VirtualFrame(frame); });
  for (auto _ : state) {
    benchmark::DoNotOptimize(rig.camera->deliverNextFrame());
    rig.queue.sync([] {});
  }
}
BENCHMARK(BM_DeliverBGRFrame)->Unit(benchmark::kMillisecond);

void BM_PhotoJPEG(benchmark::State& state) {
  auto nv12 = fixtures::generators::toNV12(cardFrame());
  BenchRig rig([nv12](std::int64_t) { return VirtualFrame(nv12); });
  rig.camera->deliverNextFrame();
  for (auto _ : state) {
    auto delegate = std::make_shared<fixtures::camera::PhotoCollector>();
    rig.photo->capturePhoto(AVCapturePhotoSettings::make(), delegate);
    delegate->wait();
    benchmark::DoNotOptimize(delegate->photo());
  }
}
BENCHMARK(BM_PhotoJPEG)->Unit(benchmark::kMillisecond);

class MetadataSignal : public AVCaptureMetadataOutputObjectsDelegate {
 public:
  void metadataOutput(AVCaptureOutput&, const std::vector<std::shared_ptr<AVMetadataObject>>& objects,
                      AVCaptureConnection&) override {
    std::lock_guard lock(m);
    found += objects.empty() ? 0 : 1;
    cv.notify_all();
  }
  std::mutex m;
  std::condition_variable cv;
  int found = 0;
};

// A camera showing one frame, with a metadata output asking for PDF417 codes.
struct MetadataRig {
  explicit MetadataRig(const cv::Mat& bgr)
      : nv12(fixtures::generators::toNV12(bgr)), rig([this](std::int64_t) { return VirtualFrame(nv12); }) {
    rig.session->addOutput(metadata);
    metadata->setMetadataObjectTypes({AVMetadataObjectTypePDF417Code});
    metadata->setMetadataObjectsDelegate(signal, q);
  }
  const avf::CVPixelBufferRef nv12;
  BenchRig rig;
  std::shared_ptr<AVCaptureMetadataOutput> metadata = AVCaptureMetadataOutput::make();
  std::shared_ptr<MetadataSignal> signal = std::make_shared<MetadataSignal>();
  dispatch::DispatchQueue q{"bench.metadata"};
};

void BM_MetadataPDF417(benchmark::State& state) {
  MetadataRig m(cardFrame());
  auto& rig = m.rig;
  auto& signal = m.signal;
  for (auto _ : state) {
    int before;
    {
      std::lock_guard lock(signal->m);
      before = signal->found;
    }
    rig.camera->deliverNextFrame();
    std::unique_lock lock(signal->m);
    if (!signal->cv.wait_for(lock, std::chrono::seconds(5), [&] { return signal->found > before; })) {
      state.SkipWithError("no code found");
      break;
    }
  }
}
BENCHMARK(BM_MetadataPDF417)->Unit(benchmark::kMillisecond);

// One frame's analysis by the metadata output, whether or not it finds a code:
// a straight card, a card held crooked on a busy photograph (its outline is not
// found, so the code itself is sought), a frame without a code, and a crooked
// licence back as printed.
cv::Mat metadataScene(int scene) {
  fixtures::generators::CardFrameOptions o;
  o.content = fixtures::generators::CardContent::pdf417;
  if (scene == 0) {
    o.maxRotationDeg = 0;
    o.maxTiltDeg = 0;
    return fixtures::generators::makeCardFrame(o).bgr;
  }
  if (scene == 1 || scene == 3) {
    // Held crooked on a photograph; scene 3 is a licence back as printed.
    o.seed = scene == 1 ? 731 : 727;
    if (scene == 3) o.content = fixtures::generators::CardContent::licenceBack;
    o.background = fixtures::generators::Background::photograph;
    o.minScale = scene == 1 ? 0.675 : 0.72;
    o.maxScale = scene == 1 ? 0.75 : 0.8;
    o.maxRotationDeg = 20;
    o.maxTiltDeg = 12;
    o.maxCentreOffset = 0.08;
    return fixtures::generators::makeCardFrame(o).bgr;
  }
  return fixtures::generators::makePhotographFrame(3);
}

void BM_MetadataFrame(benchmark::State& state) {
  MetadataRig m(metadataScene(static_cast<int>(state.range(0))));
  auto& [nv12, rig, metadata, signal, q] = m;
  for (auto _ : state) {
    // The worker counts a frame just before it frees itself for the next: a
    // frame that arrives in between is skipped, and is delivered again.
    const auto before = metadata->analysedFrameCount();
    while (metadata->analysedFrameCount() == before) {
      const auto skipped = metadata->skippedFrameCount();
      rig.camera->deliverNextFrame();
      while (metadata->analysedFrameCount() == before && metadata->skippedFrameCount() == skipped)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  }
  q.sync([] {});
  std::lock_guard lock(signal->m);
  state.counters["found"] = signal->found > 0 ? 1 : 0;
}
BENCHMARK(BM_MetadataFrame)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->ArgName("scene")  // 0 straight card, 1 crooked card without outline, 2 no code, 3 crooked licence back
    ->Unit(benchmark::kMillisecond);

// The plain library call on the whole grey frame, as our layer's last resort does it.
void BM_Plain_ZXingPDF417_FullFrame(benchmark::State& state) {
  cv::Mat grey;
  cv::cvtColor(cardFrame(), grey, cv::COLOR_BGR2GRAY);
  const ZXing::ImageView view(grey.data, grey.cols, grey.rows, ZXing::ImageFormat::Lum,
                              static_cast<int>(grey.step[0]));
  ZXing::DecodeHints hints;
  hints.setFormats(ZXing::BarcodeFormat::PDF417);
  hints.setTryRotate(true);
  for (auto _ : state) benchmark::DoNotOptimize(ZXing::ReadBarcodes(view, hints).size());
}
BENCHMARK(BM_Plain_ZXingPDF417_FullFrame)->Unit(benchmark::kMillisecond);

void BM_CIContextCropFromNV12(benchmark::State& state) {
  coreimage::CIImage image(fixtures::generators::toNV12(cardFrame()));
  coreimage::CIContext context;
  for (auto _ : state) {
    benchmark::DoNotOptimize(context.createCGImage(image, quartz::CGRect::make(200, 150, 1400, 800)));
  }
}
BENCHMARK(BM_CIContextCropFromNV12)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

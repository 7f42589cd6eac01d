// Drawing the screens (the rendering plugin, one thread): a full redraw of the
// step list at 390 x 844 points, scale 2; a camera frame (1920 x 1080 NV12,
// turned upright) filling the window as the preview does; and a hint label
// changing on the capture screen, redrawn as a partial redraw over the
// camera's picture. Goals: 4 ms, 4 ms and 1 ms.
#include <benchmark/benchmark.h>
#include <morvik/flow/IDCaptureVC.h>
#include <morvik/flow/IDScanStepsVC.h>
#include <morvik/platform/avf.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>
#include <morvik/platform/uikit/UIRendering.h>

#include <vector>

#include "fixtures/generators/Generators.h"
#include "flow/capture/CaptureScreenTestSupport.h"

namespace {

namespace gen = fixtures::generators;

struct Screen {
  std::shared_ptr<uikit::UIWindowScene> scene;
  std::shared_ptr<uikit::UIWindow> window;
  std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(780 * 1688);
  uikit::RenderBuffer buffer{reinterpret_cast<std::uint8_t*>(pixels.data()), 780, 1688, 780 * 4};

  explicit Screen(std::shared_ptr<uikit::UIViewController> root) {
    uikit::UIScreen::main().setBounds({{0, 0}, {390, 844}});
    scene = uikit::UIApplication::shared().connectWindowScene();
    window = scene->makeWindow();
    window->setRootViewController(std::move(root));
    window->makeKeyAndVisible();
    settle();
  }
  ~Screen() {
    uikit::UIApplication::shared().disconnect(scene);
    settle();
  }
  static void settle() {
    dispatch::MainLoop::drain();
    dispatch::clock::advance(2.0);
    dispatch::MainLoop::drain();
  }
};

void BM_StepListFullRedraw(benchmark::State& state) {
  avf::VirtualCamera::unregisterAll();
  dispatch::clock::useManualClock();
  {
    auto list = morvik::IDScanStepsVC::make(morvik::IDDocumentType::driversLicenseOrIDCard);
    Screen screen(std::make_shared<uikit::UINavigationController>(list));
    uikit::ViewRenderer renderer;
    renderer.render(*screen.window, 2, screen.buffer);  // fonts and images loaded once
    for (auto _ : state) {
      renderer.invalidate();
      benchmark::DoNotOptimize(renderer.render(*screen.window, 2, screen.buffer).size());
    }
  }
  dispatch::clock::useRealClock();
}
BENCHMARK(BM_StepListFullRedraw)->Unit(benchmark::kMillisecond);

// NV12 of a 1920 x 1080 camera picture, shown upright (turned right) in the
// whole 780 x 1688 pixel window.
void BM_CameraPreviewFrameAspectFill(benchmark::State& state) {
  const int w = 1920, h = 1080;
  std::vector<std::uint8_t> y(static_cast<std::size_t>(w) * h), cbcr(static_cast<std::size_t>(w) * h / 2);
  for (std::size_t i = 0; i < y.size(); ++i) y[i] = static_cast<std::uint8_t>(16 + (i * 7) % 219);
  for (std::size_t i = 0; i < cbcr.size(); ++i) cbcr[i] = static_cast<std::uint8_t>(64 + (i * 3) % 128);
  std::vector<std::uint32_t> pixels(780 * 1688);
  const uikit::RenderBuffer buffer{reinterpret_cast<std::uint8_t*>(pixels.data()), 780, 1688, 780 * 4};
  const uikit::NV12Frame frame{y.data(),
                               static_cast<std::size_t>(w),
                               cbcr.data(),
                               static_cast<std::size_t>(w),
                               w,
                               h,
                               quartz::CGImagePropertyOrientation::right};
  for (auto _ : state) benchmark::DoNotOptimize(uikit::drawVideoFrame(frame, buffer, 0, 0, 780, 1688));
}
BENCHMARK(BM_CameraPreviewFrameAspectFill)->Unit(benchmark::kMillisecond);

// The same frame shown by the capture screen's preview layer in a window:
// the frame converted into the preview's region, then the screen's layers
// above it (outline, overlay, buttons) drawn again there.
void BM_CameraPreviewFrameInCaptureScreen(benchmark::State& state) {
  avf::VirtualCamera::unregisterAll();
  dispatch::clock::useManualClock();
  {
    const int w = 1920, h = 1080;
    std::vector<std::uint8_t> y(static_cast<std::size_t>(w) * h, 120),
        cbcr(static_cast<std::size_t>(w) * h / 2, 128);
    auto capture = morvik::IDCaptureVC::make(morvik::IDDocumentType::driversLicenseOrIDCard, 0,
                                             morvik::IDScanStep("Document Front"));
    Screen screen(std::make_shared<uikit::UINavigationController>(capture));
    auto& s = morvik::IDCaptureVCTestAccess::state(*capture);
    uikit::ViewRenderer renderer;
    renderer.render(*screen.window, 2, screen.buffer);
    std::uint8_t level = 0;
    for (auto _ : state) {
      y[0] = ++level;  // a new frame each time
      renderer.setVideoFrame(*s.previewLayer, uikit::NV12Frame{y.data(), static_cast<std::size_t>(w),
                                                               cbcr.data(), static_cast<std::size_t>(w), w, h,
                                                               quartz::CGImagePropertyOrientation::right});
      benchmark::DoNotOptimize(renderer.render(*screen.window, 2, screen.buffer).size());
    }
  }
  dispatch::clock::useRealClock();
}
BENCHMARK(BM_CameraPreviewFrameInCaptureScreen)->Unit(benchmark::kMillisecond);

// The capture screen over the camera's picture; its hint label changes text
// every frame and only the damaged region is drawn again.
void BM_CaptureHintLabelPartialRedraw(benchmark::State& state) {
  avf::VirtualCamera::unregisterAll();
  dispatch::clock::useManualClock();
  {
    auto capture = morvik::IDCaptureVC::make(morvik::IDDocumentType::driversLicenseOrIDCard, 2,
                                             morvik::IDScanStep("Face"));
    Screen screen(std::make_shared<uikit::UINavigationController>(capture));
    auto& s = morvik::IDCaptureVCTestAccess::state(*capture);
    if (s.previewLayer) {
      const auto card = gen::makeSteadyCardScene(gen::CardContent::printed, 7);
      s.previewLayer->setContents(gen::toCGImage(card.bgr));
      s.previewLayer->setContentsGravity(quartz::CALayer::ContentsGravity::resizeAspectFill);
    }
    auto& label = s.livenessLabel;
    label->setHidden(false);
    label->setText("<< turn head left");
    uikit::ViewRenderer renderer;
    renderer.render(*screen.window, 2, screen.buffer);
    const char* hints[] = {"turn head right >>", "<< turn head left"};
    int i = 0;
    double area = 0;
    for (auto _ : state) {
      label->setText(hints[i++ % 2]);
      const auto damage = renderer.render(*screen.window, 2, screen.buffer);
      area = 0;
      for (const auto& r : damage) area += r.width() * r.height();
    }
    state.counters["damaged_pt2"] = area;
  }
  dispatch::clock::useRealClock();
}
BENCHMARK(BM_CaptureHintLabelPartialRedraw)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// The capture screen running in a window on a step-mode virtual camera.
#include <gtest/gtest.h>
#include <morvik/flow/IDCaptureVC.h>
#include <morvik/platform/avf.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>
#include <morvik/platform/vision.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "fixtures/camera/CameraTestSupport.h"
#include "fixtures/generators/Generators.h"
#include "flow/capture/IDCaptureVCState.h"

namespace morvik {
struct IDCaptureVCTestAccess {
  static IDCaptureVC::State& state(IDCaptureVC& vc) { return *vc.state_; }
};
}  // namespace morvik

namespace {

using morvik::IDCaptureVC;
using morvik::IDCaptureVCTestAccess;
using morvik::IDDocumentType;
using morvik::IDScanStep;
namespace gen = fixtures::generators;

// Frames generated once per process: generation costs more than analysis.
const gen::CardFrame& cardFrame(gen::CardContent content) {
  static std::map<gen::CardContent, gen::CardFrame> cache;
  auto it = cache.find(content);
  if (it == cache.end()) {
    it = cache.emplace(content, gen::makeSteadyCardScene(content, 7)).first;
  }
  return it->second;
}

class CaptureScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    avf::VirtualCamera::unregisterAll();
    dispatch::clock::useManualClock();
  }

  void TearDown() override {
    if (vc) vc->viewWillDisappear(false);
    if (scene) uikit::UIApplication::shared().disconnect(scene);
    vc.reset();
    nav.reset();
    window.reset();
    dispatch::MainLoop::drain();
    if (camera) camera->unregister();
    avf::VirtualCamera::unregisterAll();
    dispatch::clock::useRealClock();
  }

  // A camera whose frames are `scene(index)`, delivered one at a time.
  void registerCamera(avf::AVCaptureDevice::Position position, std::function<cv::Mat(std::int64_t)> scene) {
    avf::VirtualCameraOptions options;
    options.position = position;
    options.stepMode = true;
    options.settleFrames = 2;
    options.portraitScene = true;
    options.brightnessNoise = 0.1;  // enough for the face readiness rule's deviation
    camera = avf::VirtualCamera::registerGenerator(
        [scene](std::int64_t i) -> avf::VirtualFrame { return fixtures::camera::bgrFrame(scene(i)); },
        options);
    ASSERT_TRUE(camera);
  }

  void show(IDDocumentType type, int stepIndex, std::string title, bool faceOnly = false) {
    vc = IDCaptureVC::make(type, stepIndex, IDScanStep(std::move(title)));
    vc->isFaceOnlyMode = faceOnly;
    vc->onCaptured = [this](std::shared_ptr<uikit::UIImage> image) {
      images.push_back(image);
      order.push_back("captured");
    };
    vc->onComplete = [this] { order.push_back("complete"); };
    nav = std::make_shared<uikit::UINavigationController>(vc);
    scene = uikit::UIApplication::shared().connectWindowScene();
    window = scene->makeWindow();
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    dispatch::MainLoop::drain();
    window->layoutIfNeeded();
    dispatch::MainLoop::drain();
    if (camera) {
      auto session = state().captureSession;
      ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return session->isRunning(); }, 10));
    }
  }

  IDCaptureVC::State& state() { return IDCaptureVCTestAccess::state(*vc); }

  void passHint() {
    dispatch::clock::advance(2.0);
    dispatch::MainLoop::drain();
  }

  // One frame through the whole pipeline: camera, frame queue, main queue.
  // A frame that arrives a moment before the output has seen the delegate
  // return from the previous one is dropped, as on a device; deliver again.
  void step() {
    const int before = state().framesHandled.load();
    for (int attempt = 0; attempt < 5; ++attempt) {
      const auto dropped = state().videoOutput->droppedFrameCount();
      ASSERT_TRUE(camera->deliverNextFrame());
      ASSERT_TRUE(dispatch::MainLoop::runUntil(
          [&] {
            return state().framesHandled.load() > before ||
                   state().videoOutput->droppedFrameCount() > dropped;
          },
          20));
      if (state().framesHandled.load() > before) break;
    }
    ASSERT_GT(state().framesHandled.load(), before);
    dispatch::MainLoop::drain();
  }

  bool waitForDelivery(std::size_t count) {
    return dispatch::MainLoop::runUntil([&] { return images.size() >= count; }, 30);
  }

  std::shared_ptr<avf::VirtualCamera> camera;
  std::shared_ptr<IDCaptureVC> vc;
  std::shared_ptr<uikit::UINavigationController> nav;
  std::shared_ptr<uikit::UIWindowScene> scene;
  std::shared_ptr<uikit::UIWindow> window;
  std::vector<std::shared_ptr<uikit::UIImage>> images;
  std::vector<std::string> order;
};

TEST_F(CaptureScreenTest, FrontStepWaitsForItsHintThenCapturesTheCardCropped) {
  const auto& card = cardFrame(gen::CardContent::printed);
  registerCamera(avf::AVCaptureDevice::Position::back, [&](std::int64_t) { return card.bgr; });
  show(IDDocumentType::driversLicenseOrIDCard, 0, "Document Front");

  // Frames before the hint has played are ignored.
  EXPECT_FALSE(state().flags.isReadyToScan.load());
  step();
  EXPECT_EQ(state().analyzer->frameCounter(), 0);
  passHint();
  ASSERT_TRUE(state().flags.isReadyToScan.load());

  for (int i = 0; i < 40 && images.empty(); ++i) {
    step();
    if (state().isCapturing) break;
  }
  ASSERT_TRUE(waitForDelivery(1)) << "progress " << state().goodProgress;
  EXPECT_EQ(order, (std::vector<std::string>{"captured", "complete"}));
  ASSERT_TRUE(images[0]);
  EXPECT_EQ(images[0]->imageOrientation(), uikit::UIImage::Orientation::up);
  EXPECT_FALSE(state().isCapturing);
  EXPECT_EQ(state().goodProgress, 0);

  // The crop is the card's box grown by 10 % of its size on each side.
  float x0 = 1e9f, y0 = 1e9f, x1 = -1e9f, y1 = -1e9f;
  for (const auto& p : card.corners) {
    x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
  }
  const double w = x1 - x0, h = y1 - y0;
  const double expectedW = std::min(1080.0, x1 + 0.1 * w) - std::max(0.0, x0 - 0.1 * w);
  const double expectedH = std::min(1440.0, y1 + 0.1 * h) - std::max(0.0, y0 - 0.1 * h);
  EXPECT_NEAR(images[0]->size().width, expectedW, 0.04 * 1080);
  EXPECT_NEAR(images[0]->size().height, expectedH, 0.04 * 1080);

  // The screen keeps running and delivers again.
  for (int i = 0; i < 40 && images.size() < 2; ++i) {
    step();
    if (state().isCapturing) break;
  }
  ASSERT_TRUE(waitForDelivery(2));
}

TEST_F(CaptureScreenTest, LicenceBackNeedsAPDF417Code) {
  const auto& plain = cardFrame(gen::CardContent::printed);
  const auto& coded = cardFrame(gen::CardContent::pdf417);
  bool showCode = false;
  registerCamera(avf::AVCaptureDevice::Position::back,
                 [&](std::int64_t) { return showCode ? coded.bgr : plain.bgr; });
  show(IDDocumentType::driversLicenseOrIDCard, 1, "Back of Document");
  ASSERT_EQ(state().metadataOutput->metadataObjectTypes(),
            std::vector<avf::AVMetadataObjectType>{avf::AVMetadataObjectTypePDF417Code});
  passHint();

  for (int i = 0; i < 24; ++i) step();
  EXPECT_TRUE(state().analyzer->rectangleOK());
  EXPECT_FALSE(state().isCapturing);
  EXPECT_TRUE(images.empty());
  EXPECT_EQ(state().goodProgress, 0);

  showCode = true;
  for (int i = 0; i < 60 && images.empty() && !state().isCapturing; ++i) step();
  EXPECT_TRUE(state().flags.barcodeDetected.load());
  ASSERT_TRUE(waitForDelivery(1));
}

TEST_F(CaptureScreenTest, PassportBackFiresOnlyWithAReadableMRZ) {
  const auto& plain = cardFrame(gen::CardContent::printed);
  const auto& mrz = cardFrame(gen::CardContent::mrzTD3);
  bool showMRZ = false;
  registerCamera(avf::AVCaptureDevice::Position::back,
                 [&](std::int64_t) { return showMRZ ? mrz.bgr : plain.bgr; });
  show(IDDocumentType::passport, 1, "Back of Passport");
  EXPECT_TRUE(state().metadataOutput->metadataObjectTypes().empty());
  passHint();

  for (int i = 0; i < 18; ++i) step();
  EXPECT_FALSE(state().analyzer->mrzDetected());
  EXPECT_TRUE(images.empty());

  showMRZ = true;
  for (int i = 0; i < 40 && images.empty() && !state().isCapturing; ++i) step();
  EXPECT_TRUE(state().analyzer->mrzDetected());
  ASSERT_TRUE(waitForDelivery(1));
}

// A host opens the passport's back screen again and again in one process:
// each screen captures within its usual number of frames, the CPU time per
// analysed frame stays flat, and no screen leaves threads behind.
TEST_F(CaptureScreenTest, SixPassportBackScreensInARowCaptureAtTheSameCost) {
  const auto& mrz = cardFrame(gen::CardContent::mrzTD3);
  auto cpuSeconds = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
  };
  auto threads = [] {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
  };
  {
    // The process's first fast text request trains the recogniser: not a frame's cost.
    vision::VNRecognizeTextRequest warmUp;
    warmUp.recognitionLevel = vision::VNRequestTextRecognitionLevel::fast;
    vision::VNImageRequestHandler handler(gen::toNV12(mrz.bgr));
    ASSERT_TRUE(handler.perform({&warmUp}));
  }
  std::vector<double> perFrame;
  std::vector<int> frameCounts;
  std::vector<std::size_t> threadsAfter;
  for (int screen = 0; screen < 6; ++screen) {
    SCOPED_TRACE("screen " + std::to_string(screen + 1));
    registerCamera(avf::AVCaptureDevice::Position::back, [&](std::int64_t) { return mrz.bgr; });
    show(IDDocumentType::passport, 1, "Back of Passport");
    passHint();
    const double start = cpuSeconds();
    int frames = 0;
    for (; frames < 40 && images.empty() && !state().isCapturing; ++frames) step();
    perFrame.push_back((cpuSeconds() - start) / std::max(1, frames));
    frameCounts.push_back(frames);
    ASSERT_TRUE(waitForDelivery(1));
    EXPECT_LE(frames, 30);

    vc->viewWillDisappear(false);
    uikit::UIApplication::shared().disconnect(scene);
    vc.reset(), nav.reset(), window.reset(), scene.reset();
    dispatch::MainLoop::drain();
    camera->unregister();
    camera.reset();
    images.clear();
    order.clear();
    threadsAfter.push_back(threads());
  }
  for (std::size_t i = 1; i < perFrame.size(); ++i)
    EXPECT_LE(perFrame[i], 2 * perFrame[0] + 0.005) << "screen " << i + 1;
  // Pools may grow once to their size; a screen that left threads behind would add some every time.
  EXPECT_LE(threadsAfter.back(), threadsAfter[0] + 2);
  std::printf("[ figures  ] CPU ms per analysed frame (frames to capture), screens 1-6:");
  for (std::size_t i = 0; i < perFrame.size(); ++i)
    std::printf(" %.1f (%d)", perFrame[i] * 1000, frameCounts[i]);
  std::printf("; threads after each:");
  for (auto n : threadsAfter) std::printf(" %zu", n);
  std::printf("\n");
}

TEST_F(CaptureScreenTest, FaceStepPassesLivenessAndDeliversOneMirroredSelfie) {
  const cv::Mat photo = gen::loadFacePhoto();
  ASSERT_FALSE(photo.empty());
  auto turn = [&](double yaw) {
    gen::FaceTurnOptions options;
    options.yawRadians = yaw;
    auto frame = gen::makeFaceTurn(photo, options);
    EXPECT_TRUE(frame.ok);
    return frame.bgr;
  };
  // The user turns to their own left first: in the camera's unmirrored image
  // the nose then points to the image's right.
  const cv::Mat centre = turn(0), left = turn(0.5), right = turn(-0.5);
  const cv::Mat* current = &centre;
  registerCamera(avf::AVCaptureDevice::Position::front, [&](std::int64_t) { return *current; });
  show(IDDocumentType::driversLicenseOrIDCard, 0, "Face", /*faceOnly=*/true);
  EXPECT_TRUE(state().bottomStepsStack->isHidden());
  EXPECT_EQ(state().livenessLabel->text().value_or(""), "center your face");
  EXPECT_TRUE(state().previewLayer->connection()->isVideoMirrored());

  using Stage = morvik::capture::LivenessStage;
  auto runUntilStage = [&](Stage stage, int maxFrames) {
    for (int i = 0; i < maxFrames && state().analyzer->liveness().stage() != stage; ++i) step();
    return state().analyzer->liveness().stage() == stage;
  };
  ASSERT_TRUE(runUntilStage(Stage::lookLeft, 20));
  EXPECT_EQ(state().livenessLabel->text().value_or(""), "<< turn head left");
  current = &left;
  ASSERT_TRUE(runUntilStage(Stage::lookRight, 20));
  current = &right;
  ASSERT_TRUE(runUntilStage(Stage::center2, 20));
  current = &centre;
  ASSERT_TRUE(runUntilStage(Stage::done, 20));
  ASSERT_TRUE(waitForDelivery(1));
  EXPECT_EQ(state().livenessLabel->text().value_or(""), "all good");
  ASSERT_TRUE(images[0]);

  // Mirrored: the left half of the selfie matches the right half of the scene.
  const auto cg = images[0]->cgImage();
  ASSERT_EQ(cg->width(), 1080u);
  ASSERT_EQ(cg->height(), 1920u);
  cv::Mat selfie(static_cast<int>(cg->height()), static_cast<int>(cg->width()),
                 cg->pixelFormat() == quartz::CGImagePixelFormat::gray8 ? CV_8UC1 : CV_8UC4,
                 const_cast<std::uint8_t*>(cg->data()), cg->bytesPerRow());
  cv::Mat selfieGrey, sceneGrey, flipped;
  if (selfie.channels() == 4) {
    cv::cvtColor(
        selfie, selfieGrey,
        cg->pixelFormat() == quartz::CGImagePixelFormat::rgba8 ? cv::COLOR_RGBA2GRAY : cv::COLOR_BGRA2GRAY);
  } else {
    selfieGrey = selfie.clone();
  }
  cv::cvtColor(centre, sceneGrey, cv::COLOR_BGR2GRAY);
  cv::flip(sceneGrey, flipped, 1);
  const double mirroredError = cv::norm(selfieGrey, flipped, cv::NORM_L1) / selfieGrey.total();
  const double plainError = cv::norm(selfieGrey, sceneGrey, cv::NORM_L1) / selfieGrey.total();
  EXPECT_LT(mirroredError, plainError);
  EXPECT_LT(mirroredError, 12);  // JPEG round trip
}

TEST_F(CaptureScreenTest, NoCameraShowsTheErrorAndNeverCallsBack) {
  show(IDDocumentType::driversLicenseOrIDCard, 0, "Document Front");
  EXPECT_FALSE(state().videoDevice);
  EXPECT_FALSE(state().cameraErrorStack->isHidden());
  EXPECT_EQ(state().cameraErrorLabel->text().value_or(""), "Can not connect to the camera device");
  passHint();
  dispatch::clock::advance(5);
  dispatch::MainLoop::drain();
  EXPECT_TRUE(images.empty());
  EXPECT_TRUE(order.empty());
}

TEST_F(CaptureScreenTest, BackStepBarShowsWhereTheUserIs) {
  show(IDDocumentType::driversLicenseOrIDCard, 1, "Back of Document");
  const auto& buttons = state().stepButtons;
  ASSERT_EQ(buttons.size(), 3u);
  EXPECT_EQ(buttons[0]->title(uikit::UIControlState::normal).value_or(""), "\u2713 Front");
  EXPECT_EQ(buttons[1]->title(uikit::UIControlState::normal).value_or(""), "Back");
  EXPECT_EQ(buttons[2]->title(uikit::UIControlState::normal).value_or(""), "Face");
  EXPECT_EQ(buttons[0]->layer()->borderColor(), uikit::UIColor::systemGreen().cgColor());
  EXPECT_EQ(buttons[1]->layer()->borderColor(), uikit::UIColor::systemBlue().cgColor());
  EXPECT_EQ(buttons[2]->layer()->borderColor(), uikit::UIColor::systemGray4().cgColor());
  for (const auto& b : buttons) EXPECT_FALSE(b->isEnabled());
  // The hint image of a licence's back.
  auto hint = std::dynamic_pointer_cast<uikit::UIImageView>(state().backHintContainer->viewWithTag(9991));
  ASSERT_TRUE(hint);
  EXPECT_TRUE(hint->image());
}

TEST_F(CaptureScreenTest, TorchWithoutACameraFlipsTheFlagButStaysWhite) {
  show(IDDocumentType::driversLicenseOrIDCard, 0, "Document Front");
  state().torchButton->sendActions(uikit::UIControlEvents::touchUpInside);
  EXPECT_TRUE(state().isTorchOn);
  EXPECT_EQ(state().torchButton->tintColor(), uikit::UIColor::white());
}

TEST_F(CaptureScreenTest, OverlayCutoutFollowsLayoutAndKeepsTheProgress) {
  show(IDDocumentType::driversLicenseOrIDCard, 0, "Document Front");
  auto& s = state();
  const auto bounds = s.overlayView->bounds();
  ASSERT_GT(bounds.size.width, 0);
  const auto expected = morvik::capture::cutoutRect(bounds.size, false);
  const auto frame = s.frontHintContainer->frame();
  EXPECT_NEAR(frame.size.width, expected.size.width, 1e-6);
  EXPECT_NEAR(frame.size.height, expected.size.height, 1e-6);
  // Dimming layer on top of the progress stroke.
  ASSERT_EQ(s.overlayView->layer()->sublayers().size(), 2u);
  EXPECT_EQ(s.overlayView->layer()->sublayers()[0], s.progressLayer);
  s.goodProgress = 0.36;
  vc->viewDidLayoutSubviews();
  EXPECT_DOUBLE_EQ(s.progressLayer->strokeEnd(), 0.36);
  EXPECT_EQ(s.overlayView->layer()->sublayers().size(), 2u);
}

}  // namespace

// The capture screen running in a window on a step-mode virtual camera.
#include <gtest/gtest.h>
#include <morvik/flow/IDCaptureVC.h>
#include <morvik/platform/avf.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>
#include <morvik/platform/vision.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "fixtures/camera/CameraTestSupport.h"
#include "fixtures/generators/Generators.h"
#include "flow/capture/CaptureScreenTestSupport.h"
#include "support/ResourceBundle.h"

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

class CaptureScreenTest : public capturetest::CaptureScreenTestBase {
 protected:
  // A camera whose frames are `scene(index)`, delivered one at a time.
  void registerCamera(avf::AVCaptureDevice::Position position, std::function<cv::Mat(std::int64_t)> scene) {
    auto options = fixtures::camera::stepCameraOptions(position);
    options.brightnessNoise = 0.1;  // enough for the face readiness rule's deviation
    camera = avf::VirtualCamera::registerGenerator(
        [scene](std::int64_t i) -> avf::VirtualFrame { return fixtures::camera::bgrFrame(scene(i)); },
        options);
    ASSERT_TRUE(camera);
  }

  void show(IDDocumentType type, int stepIndex, std::string title, bool faceOnly = false,
            std::shared_ptr<IDCaptureVC> screen = nullptr) {
    vc = screen ? std::move(screen) : IDCaptureVC::make(type, stepIndex, IDScanStep(std::move(title)));
    vc->isFaceOnlyMode = faceOnly;
    vc->onCaptured = [this](std::shared_ptr<uikit::UIImage> image) {
      images.push_back(image);
      order.push_back("captured");
    };
    vc->onComplete = [this] { order.push_back("complete"); };
    present();
  }

  // Takes the screen down as the test's end does, so another can be shown.
  void closeScreen() {
    if (vc) vc->viewWillDisappear(false);
    if (scene) uikit::UIApplication::shared().disconnect(scene);
    vc.reset();
    nav.reset();
    window.reset();
    scene.reset();
    dispatch::MainLoop::drain();
    images.clear();
    order.clear();
  }

  void passHint() {
    dispatch::clock::advance(2.0);
    dispatch::MainLoop::drain();
  }

  bool waitForDelivery(std::size_t count) {
    return dispatch::MainLoop::runUntil([&] { return images.size() >= count; }, 30);
  }

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

  // Held by its owner, it takes no photo however good the frames.
  vc->isCapturePaused = true;
  for (int i = 0; i < 30; ++i) step();
  dispatch::MainLoop::drain();
  EXPECT_FALSE(state().isCapturing);
  EXPECT_EQ(images.size(), 1u);

  // Released, it keeps running and delivers again.
  vc->isCapturePaused = false;
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

// A host opens the back screens of passports and international IDs again and
// again in one process:
// each screen captures within its usual number of frames, the CPU time per
// analysed frame stays flat, and no screen leaves threads behind.
TEST_F(CaptureScreenTest, SixZoneBackScreensInARowCaptureAtTheSameCost) {
  const auto& mrz = cardFrame(gen::CardContent::mrzTD3);
  const auto& idBack = cardFrame(gen::CardContent::mrzTD1);
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
    const bool passport = screen % 2 == 0;
    const cv::Mat& back = passport ? mrz.bgr : idBack.bgr;
    registerCamera(avf::AVCaptureDevice::Position::back, [&back](std::int64_t) { return back; });
    if (passport)
      show(IDDocumentType::passport, 1, "Back of Passport");
    else
      show(IDDocumentType::internationalID, 1, "Back of ID");
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
#if !defined(__SANITIZE_THREAD__)
  // (Under ThreadSanitizer a frame's CPU time is mostly the sanitizer's own, and it varies twofold
  // with the load of the other suites: the release build checks the cost.)
  for (std::size_t i = 1; i < perFrame.size(); ++i)
    EXPECT_LE(perFrame[i], 2 * perFrame[0] + 0.005) << "screen " << i + 1;
#endif
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

// A screen that notes each photo the camera hands back before handling it.
class PhotoRecordingCaptureVC : public IDCaptureVC {
 public:
  using IDCaptureVC::IDCaptureVC;

  static std::shared_ptr<PhotoRecordingCaptureVC> make(IDDocumentType type, int stepIndex,
                                                       std::string title) {
    // Destroyed on the main thread, like the screens the SDK makes.
    return std::shared_ptr<PhotoRecordingCaptureVC>(
        new PhotoRecordingCaptureVC(type, stepIndex, IDScanStep(std::move(title))),
        [](PhotoRecordingCaptureVC* p) {
          if (dispatch::isMainThread()) {
            delete p;
          } else {
            dispatch::DispatchQueue::main().async([p] { delete p; });
          }
        });
  }

  void photoOutput(avf::AVCapturePhotoOutput& output, const std::shared_ptr<avf::AVCapturePhoto>& photo,
                   const std::optional<foundation::NSError>& error) override {
    {
      std::lock_guard lock(mutex_);
      flashModes_.push_back(photo ? std::optional(photo->flashMode()) : std::nullopt);
    }
    IDCaptureVC::photoOutput(output, photo, error);
  }

  std::vector<std::optional<avf::AVCaptureDevice::FlashMode>> flashModes() const {
    std::lock_guard lock(mutex_);
    return flashModes_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::optional<avf::AVCaptureDevice::FlashMode>> flashModes_;
};

bool sameImage(const std::shared_ptr<uikit::UIImage>& a, const std::shared_ptr<uikit::UIImage>& b) {
  if (!a || !b || !a->cgImage() || !b->cgImage()) return false;
  const auto &x = *a->cgImage(), &y = *b->cgImage();
  if (x.width() != y.width() || x.height() != y.height() || x.bytesPerRow() != y.bytesPerRow()) return false;
  return std::equal(x.data(), x.data() + x.bytesPerRow() * x.height(), y.data());
}

std::shared_ptr<uikit::UIImage> bundleImage(const std::string& name) {
  return uikit::UIImage::named(name, morvik::ResourceBundleLookup::shared().imageBundle());
}

TEST_F(CaptureScreenTest, FlashFollowsTheTorchOnlyWhenTheCameraHasAFlash) {
  using Flash = avf::AVCaptureDevice::FlashMode;
  const auto& card = cardFrame(gen::CardContent::printed);
  for (bool hasFlash : {true, false}) {
    SCOPED_TRACE(hasFlash ? "with a flash" : "without a flash");
    avf::VirtualCameraOptions options;
    options.stepMode = true;
    options.settleFrames = 0;
    options.hasFlash = hasFlash;
    camera = avf::VirtualCamera::registerGenerator(
        [&](std::int64_t) -> avf::VirtualFrame { return fixtures::camera::bgrFrame(card.bgr); }, options);
    ASSERT_TRUE(camera);
    auto screen = PhotoRecordingCaptureVC::make(IDDocumentType::driversLicenseOrIDCard, 0, "Document Front");
    show(IDDocumentType::driversLicenseOrIDCard, 0, "Document Front", false, screen);
    step();  // the photo output needs a frame to take
    for (bool torchOn : {false, true}) {
      if (state().isTorchOn != torchOn)
        state().torchButton->sendActions(uikit::UIControlEvents::touchUpInside);
      const auto before = images.size();
      IDCaptureVCTestAccess::startPhotoCapture(*vc);
      ASSERT_TRUE(waitForDelivery(before + 1));
    }
    // Torch off then on: automatic then off with a flash; the default (off) without one.
    const auto expected = hasFlash ? std::vector<std::optional<Flash>>{Flash::auto_, Flash::off}
                                   : std::vector<std::optional<Flash>>{Flash::off, Flash::off};
    EXPECT_EQ(screen->flashModes(), expected);
    closeScreen();
    camera->unregister();
    camera.reset();
  }
}

TEST_F(CaptureScreenTest, APhotoWithoutDecodableDataDeliversNothingThenCompletes) {
  show(IDDocumentType::driversLicenseOrIDCard, 0, "Document Front");
  foundation::Data garbage;
  garbage.vector() = {0xFF, 0xD8, 0x00, 0x13, 0x37};
  const std::vector<std::pair<const char*, std::shared_ptr<avf::AVCapturePhoto>>> photos = {
      {"no photo, no data", nullptr},
      {"data that is no image",
       std::make_shared<avf::AVCapturePhoto>(garbage, 1, avf::CMTime::zero(), 1920, 1080,
                                             quartz::CGImagePropertyOrientation::right,
                                             avf::AVCaptureDevice::FlashMode::off)},
  };
  for (const auto& [what, photo] : photos) {
    SCOPED_TRACE(what);
    order.clear();
    images.clear();
    state().isCapturing = true;
    state().goodProgress = 1;
    IDCaptureVCTestAccess::processCapturedPhoto(*vc, photo);
    ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return order.size() >= 2; }, 10));
    EXPECT_EQ(order, (std::vector<std::string>{"captured", "complete"}));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_FALSE(images[0]);
    EXPECT_FALSE(state().isCapturing) << "ready to take another photo";
    EXPECT_EQ(state().goodProgress, 0);
  }

  // A screen gone before the main queue runs the delivery gets nothing.
  order.clear();
  IDCaptureVCTestAccess::processCapturedPhoto(*vc, nullptr);
  closeScreen();
  dispatch::MainLoop::drain();
  EXPECT_TRUE(order.empty());
}

TEST_F(CaptureScreenTest, OnePhotoAtATimeWhateverAsksForIt) {
  const auto& card = cardFrame(gen::CardContent::printed);
  registerCamera(avf::AVCaptureDevice::Position::front, [&](std::int64_t) { return card.bgr; });
  auto screen = PhotoRecordingCaptureVC::make(IDDocumentType::driversLicenseOrIDCard, 2, "Face");
  show(IDDocumentType::driversLicenseOrIDCard, 2, "Face", false, screen);
  step();
  // A second readiness signal and the liveness completion while the photo is in flight.
  IDCaptureVCTestAccess::startPhotoCapture(*vc);
  IDCaptureVCTestAccess::startPhotoCapture(*vc);
  IDCaptureVCTestAccess::completeLiveness(*vc);
  ASSERT_TRUE(waitForDelivery(1));
  dispatch::clock::advance(1);
  dispatch::MainLoop::runUntil([] { return false; }, 0.3);  // any stray photo would arrive meanwhile
  EXPECT_EQ(screen->flashModes().size(), 1u);
  EXPECT_EQ(images.size(), 1u);
  EXPECT_EQ(state().livenessLabel->text().value_or(""), "all good");

  // Once delivered, the liveness completion takes exactly one more.
  IDCaptureVCTestAccess::completeLiveness(*vc);
  IDCaptureVCTestAccess::completeLiveness(*vc);
  ASSERT_TRUE(waitForDelivery(2));
  dispatch::MainLoop::runUntil([] { return false; }, 0.3);
  EXPECT_EQ(screen->flashModes().size(), 2u);
  EXPECT_EQ(images.size(), 2u);
  EXPECT_EQ(order, (std::vector<std::string>{"captured", "complete", "captured", "complete"}));
}

TEST_F(CaptureScreenTest, FramesWithoutABrightnessValueAreNotCounted) {
  show(IDDocumentType::driversLicenseOrIDCard, 0, "Document Front");
  passHint();
  const auto pixels =
      avf::CVPixelBuffer::create(64, 36, avf::kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange);
  auto frame = [&](std::optional<avf::CFValue> exif) {
    auto buffer = avf::CMSampleBuffer::make(pixels, avf::CMTime::zero());
    if (exif)
      avf::CMSetAttachment(buffer, avf::kCGImagePropertyExifDictionary, *exif,
                           avf::kCMAttachmentMode_ShouldPropagate);
    return buffer;
  };
  using Dict = avf::CFDictionary;
  const std::vector<std::pair<const char*, avf::CMSampleBufferRef>> skipped = {
      {"no attachments", frame(std::nullopt)},
      {"EXIF that is no dictionary", frame(avf::CFValue(4.0))},
      {"EXIF without a brightness",
       frame(avf::CFValue(Dict{{avf::kCGImagePropertyExifISOSpeedRatings, 100}}))},
      {"a brightness that is no number",
       frame(avf::CFValue(Dict{{avf::kCGImagePropertyExifBrightnessValue, "4.0"}}))},
  };
  for (const auto& [what, buffer] : skipped) {
    IDCaptureVCTestAccess::processFrame(*vc, buffer);
    EXPECT_EQ(state().analyzer->frameCounter(), 0) << what;
  }
  dispatch::MainLoop::drain();
  EXPECT_EQ(state().progressLayer->strokeEnd(), 0);
  IDCaptureVCTestAccess::processFrame(
      *vc, frame(avf::CFValue(Dict{{avf::kCGImagePropertyExifBrightnessValue, 4.0}})));
  EXPECT_EQ(state().analyzer->frameCounter(), 1);
}

TEST_F(CaptureScreenTest, VisionOrientationFollowsThePreviewConnection) {
  using O = quartz::CGImagePropertyOrientation;
  using V = avf::AVCaptureVideoOrientation;
  EXPECT_EQ(morvik::capture::visionOrientation(std::nullopt), O::right);
  EXPECT_EQ(morvik::capture::visionOrientation(morvik::capture::PreviewOrientation::unknown), O::right);
  registerCamera(avf::AVCaptureDevice::Position::back,
                 [](std::int64_t) { return cv::Mat(360, 640, CV_8UC3); });
  show(IDDocumentType::driversLicenseOrIDCard, 0, "Document Front");
  EXPECT_EQ(state().analyzer->preview().orientation, O::right);
  auto connection = state().previewLayer->connection();
  ASSERT_TRUE(connection);
  for (const auto& [video, vision] : std::vector<std::pair<V, O>>{{V::portraitUpsideDown, O::left},
                                                                  {V::landscapeRight, O::down},
                                                                  {V::landscapeLeft, O::up},
                                                                  {V::portrait, O::right}}) {
    connection->setVideoOrientation(video);
    vc->viewDidLayoutSubviews();
    EXPECT_EQ(state().analyzer->preview().orientation, vision) << static_cast<int>(video);
  }
}

TEST_F(CaptureScreenTest, OnlyAPDF417CodeSetsTheBarcodeFlag) {
  show(IDDocumentType::driversLicenseOrIDCard, 1, "Back of Document");
  auto code = [](const avf::AVMetadataObjectType& type) -> std::shared_ptr<avf::AVMetadataObject> {
    return std::make_shared<avf::AVMetadataMachineReadableCodeObject>(
        type, quartz::CGRect{}, avf::CMTime::zero(), "x", std::vector<quartz::CGPoint>{});
  };
  auto face = std::make_shared<avf::AVMetadataFaceObject>(quartz::CGRect{}, avf::CMTime::zero(), 1);
  const auto pdf417 = code(avf::AVMetadataObjectTypePDF417Code), qr = code(avf::AVMetadataObjectTypeQRCode);
  struct Delivery {
    const char* what;
    std::vector<std::shared_ptr<avf::AVMetadataObject>> objects;
    bool flag;
  };
  const std::vector<Delivery> deliveries = {
      {"a QR code", {qr}, false},
      {"a face", {face}, false},
      {"a PDF417 code", {pdf417}, true},
      {"an empty list clears it", {}, false},
      {"PDF417 after a face", {face, pdf417}, true},
      {"a QR code alone clears it", {qr}, false},
      {"QR and face", {qr, face}, false},
  };
  for (const auto& d : deliveries) {
    IDCaptureVCTestAccess::handleMetadataObjects(*vc, d.objects);
    EXPECT_EQ(state().flags.barcodeDetected.load(), d.flag) << d.what;
  }
}

TEST_F(CaptureScreenTest, LosingTheCardClearsTheAnalysisAndFadesTheOutlineUntilItIsFoundAgain) {
  const auto& card = cardFrame(gen::CardContent::printed);
  const cv::Mat blank(card.bgr.size(), card.bgr.type(), cv::Scalar(90, 90, 90));
  bool showCard = true;
  registerCamera(avf::AVCaptureDevice::Position::back,
                 [&](std::int64_t) { return showCard ? card.bgr : blank; });
  show(IDDocumentType::driversLicenseOrIDCard, 0, "Document Front");
  passHint();
  auto& s = state();
  // Layers of the preview's own (the video's) around which the outline is placed.
  for (int i = 0; i < 2; ++i) s.previewLayer->addSublayer(quartz::CALayer::layer());
  for (int i = 0; i < 16 && !s.analyzer->rectangleOK(); ++i) step();
  ASSERT_TRUE(s.analyzer->rectangleOK());
  ASSERT_EQ(s.previewLayer->sublayers().size(), 3u);
  EXPECT_EQ(s.previewLayer->sublayers()[1], s.rectMaskLayer) << "the outline sits at index 1";
  EXPECT_FLOAT_EQ(s.rectMaskLayer->presentationOpacity(), 1);

  showCard = false;
  step();
  step();  // one of the two is analysed
  const auto lost = s.analyzer->rectangleState();
  EXPECT_FALSE(lost.detected || lost.aspectOK || lost.fillOK || lost.angleOK || lost.stable);
  EXPECT_EQ(lost.windowSize, 0u);
  ASSERT_NE(s.rectMaskLayer->animation("opacity"), nullptr);
  EXPECT_EQ(s.rectMaskLayer->superlayer(), s.previewLayer);
  dispatch::clock::advance(0.25);
  dispatch::MainLoop::drain();
  EXPECT_FLOAT_EQ(s.rectMaskLayer->presentationOpacity(), 0) << "faded, kept faded";
  EXPECT_EQ(s.rectMaskLayer->superlayer(), s.previewLayer) << "removed only after 0.26 s";
  dispatch::clock::advance(0.01);
  dispatch::MainLoop::drain();
  EXPECT_EQ(s.rectMaskLayer->superlayer(), nullptr);

  showCard = true;
  for (int i = 0; i < 4 && !s.rectMaskLayer->superlayer(); ++i) step();
  ASSERT_EQ(s.previewLayer->sublayers().size(), 3u);
  EXPECT_EQ(s.previewLayer->sublayers()[1], s.rectMaskLayer);
  EXPECT_FLOAT_EQ(s.rectMaskLayer->presentationOpacity(), 1) << "visible again";
}

TEST_F(CaptureScreenTest, HintShowsForOnePointFiveSecondsThenFadesAndOnlyThenScanningStarts) {
  struct Case {
    const char* title;
    bool front, back;
  };
  for (const Case& c : {Case{"Document Front", true, false}, Case{"Back of Document", false, true},
                        Case{"Front and back", true, true}}) {
    SCOPED_TRACE(c.title);
    show(IDDocumentType::driversLicenseOrIDCard, 0, c.title);
    std::vector<std::shared_ptr<uikit::UIView>> hints;
    if (c.front) hints.push_back(state().frontHintContainer);
    if (c.back) hints.push_back(state().backHintContainer);
    dispatch::clock::advance(1.0);
    dispatch::MainLoop::drain();
    for (const auto& hint : hints) {
      EXPECT_DOUBLE_EQ(hint->presentationAlpha(), 1) << "seen at 1.0 s";
      const auto text = hint->recursiveDescription();
      EXPECT_EQ(text.substr(0, text.find('\n')).find("alpha"), std::string::npos) << text;
    }
    dispatch::clock::advance(0.79);
    dispatch::MainLoop::drain();
    EXPECT_FALSE(state().flags.isReadyToScan.load()) << "not before 1.8 s";
    dispatch::clock::advance(0.01);
    dispatch::MainLoop::drain();
    EXPECT_TRUE(state().flags.isReadyToScan.load());
    dispatch::clock::advance(0.1);
    dispatch::MainLoop::drain();
    for (const auto& hint : hints) {
      EXPECT_DOUBLE_EQ(hint->presentationAlpha(), 0) << "gone at 1.9 s";
      EXPECT_NE(hint->recursiveDescription().find("alpha = 0"), std::string::npos);
    }
    closeScreen();
  }
}

TEST_F(CaptureScreenTest, HintImagePerDocumentTypeAndSide) {
  using T = IDDocumentType;
  struct Case {
    T type;
    const char* title;
    const char* image;
  };
  const std::vector<Case> cases = {
      {T::driversLicenseOrIDCard, "Document Front", "DRIVER LICENSE - FRONT"},
      {T::driversLicenseOrIDCard, "Back of Document", "DRIVER LICENSE - BACK"},
      {T::passport, "Passport Front", "PASSPORT - FRONT"},
      {T::passport, "Back of Passport", "PASSPORT - BACK"},
      {T::passportCard, "Passport Front", "PASSPORT CARD - FRONT"},
      {T::passportCard, "Back of Passport Card", "PASSPORT CARD - BACK"},
      {T::internationalID, "ID Front", "ID CARD - FRONT"},
      {T::internationalID, "Back of Identification (MRZ)", "INTERNATIONAL ID - BACK"},
      // Front is tested first; both hints still show.
      {T::passport, "front and BACK", "PASSPORT - FRONT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type.title()) + " / " + c.title);
    const auto expected = bundleImage(c.image);
    ASSERT_TRUE(expected);
    show(c.type, 0, c.title);
    const std::string lower = [&] {
      std::string t = c.title;
      for (auto& ch : t) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      return t;
    }();
    int shown = 0;
    if (lower.find("front") != std::string::npos) {
      EXPECT_TRUE(sameImage(state().frontHintImageView->image(), expected));
      ++shown;
    }
    if (lower.find("back") != std::string::npos) {
      auto back = std::dynamic_pointer_cast<uikit::UIImageView>(state().backHintContainer->viewWithTag(9991));
      ASSERT_TRUE(back);
      EXPECT_TRUE(sameImage(back->image(), expected));
      ++shown;
    }
    EXPECT_GT(shown, 0);
    closeScreen();
  }
  EXPECT_FALSE(sameImage(bundleImage("PASSPORT - FRONT"), bundleImage("PASSPORT CARD - FRONT")))
      << "the artwork tells the types apart";
}

TEST_F(CaptureScreenTest, AFaceScreenShownAgainStartsTheSequenceOver) {
  const cv::Mat photo = gen::loadFacePhoto();
  ASSERT_FALSE(photo.empty());
  gen::FaceTurnOptions options;
  const auto centre = gen::makeFaceTurn(photo, options).bgr;
  registerCamera(avf::AVCaptureDevice::Position::front, [&](std::int64_t) { return centre; });
  show(IDDocumentType::driversLicenseOrIDCard, 0, "Face", true);
  using Stage = morvik::capture::LivenessStage;
  for (int i = 0; i < 20 && state().analyzer->liveness().stage() != Stage::lookLeft; ++i) step();
  ASSERT_EQ(state().analyzer->liveness().stage(), Stage::lookLeft);
  dispatch::MainLoop::runUntil([&] { return state().livenessLabel->text() == "<< turn head left"; }, 5);
  vc->viewDidAppear(false);
  EXPECT_EQ(state().analyzer->liveness().stage(), Stage::center);
  EXPECT_FALSE(state().analyzer->livenessPassed());
  dispatch::MainLoop::drain();
  EXPECT_EQ(state().livenessLabel->text().value_or(""), "center your face");
  EXPECT_DOUBLE_EQ(state().livenessLabel->alpha(), 1);
}

TEST_F(CaptureScreenTest, ASizeChangeRecomputesCutoutProgressPathAndHints) {
  show(IDDocumentType::driversLicenseOrIDCard, 0, "Document Front");
  auto& s = state();
  s.goodProgress = 0.36;
  const auto before = s.overlayView->bounds().size;
  // Turned to landscape: the screen's view gets the container's new size.
  vc->view()->setFrame(quartz::CGRect{{0, 0}, {844, 390}});
  window->layoutIfNeeded();
  dispatch::MainLoop::drain();
  const auto after = s.overlayView->bounds().size;
  ASSERT_NE(after.width, before.width);
  const auto cutout = morvik::capture::cutoutRect(after, false);
  const auto hint = s.frontHintContainer->frame();
  EXPECT_NEAR(hint.size.width, cutout.size.width, 1e-6);
  EXPECT_NEAR(hint.size.height, cutout.size.height, 1e-6);
  ASSERT_TRUE(s.progressLayer->path());
  const auto ring = s.progressLayer->path()->boundingBox();
  EXPECT_NEAR(ring.size.width, cutout.size.width, 1e-6);
  EXPECT_NEAR(ring.origin.y, cutout.origin.y, 1e-6);
  EXPECT_DOUBLE_EQ(s.progressLayer->strokeEnd(), 0.36);
}

TEST_F(CaptureScreenTest, TheFaceStepHasARoundCutoutAndAsksForFacesOnly) {
  registerCamera(avf::AVCaptureDevice::Position::front,
                 [](std::int64_t) { return cv::Mat(360, 640, CV_8UC3); });
  show(IDDocumentType::driversLicenseOrIDCard, 2, "Face");
  auto& s = state();
  EXPECT_EQ(s.metadataOutput->metadataObjectTypes(),
            std::vector<avf::AVMetadataObjectType>{avf::AVMetadataObjectTypeFace});
  EXPECT_TRUE(s.flags.isReadyToScan.load());
  const auto size = s.overlayView->bounds().size;
  const double d = std::min(0.58 * size.height, 0.78 * size.width);
  ASSERT_TRUE(s.progressLayer->path());
  const auto& ring = *s.progressLayer->path();
  const auto box = ring.boundingBox();
  EXPECT_NEAR(box.size.width, d, 1e-6);
  EXPECT_NEAR(box.size.height, d, 1e-6);
  EXPECT_NEAR(box.midX(), size.width / 2, 1e-6);
  EXPECT_NEAR(box.midY(), size.height / 2, 1e-6);
  // Round, not a square with rounded corners: the box's corner region lies outside.
  EXPECT_TRUE(ring.contains({box.midX(), box.midY()}));
  EXPECT_FALSE(ring.contains({box.minX() + 0.1 * d, box.minY() + 0.1 * d}));
  EXPECT_TRUE(ring.contains({box.midX(), box.minY() + 0.02 * d}));
}

}  // namespace

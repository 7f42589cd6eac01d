#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <opencv2/imgproc.hpp>
#include <thread>

#include "fixtures/camera/CameraTestSupport.h"
#include "morvik/platform/avf.h"

using namespace avf;
using fixtures::camera::bgrFrame;
using fixtures::camera::CameraTest;
using fixtures::camera::FrameCollector;
using fixtures::camera::markerFrame;

namespace {

VirtualCameraOptions stepOptions(AVCaptureDevice::Position position = AVCaptureDevice::Position::back) {
  VirtualCameraOptions o;
  o.stepMode = true;
  o.position = position;
  o.settleFrames = 0;
  return o;
}

std::shared_ptr<VirtualCamera> markerCamera(VirtualCameraOptions o, cv::Size size = {320, 180}) {
  return VirtualCamera::registerGenerator(
      [size](std::int64_t) { return VirtualFrame(bgrFrame(markerFrame(size))); }, o);
}

struct Rig {
  std::shared_ptr<AVCaptureSession> session = AVCaptureSession::make();
  std::shared_ptr<AVCaptureVideoDataOutput> output = AVCaptureVideoDataOutput::make();
  std::shared_ptr<FrameCollector> collector = std::make_shared<FrameCollector>();
  dispatch::DispatchQueue queue{"test.video.queue"};

  explicit Rig(const std::shared_ptr<AVCaptureDevice>& device) {
    session->beginConfiguration();
    if (device) session->addInput(AVCaptureDeviceInput::make(device));
    session->addOutput(output);
    output->setSampleBufferDelegate(collector, queue);
    session->commitConfiguration();
  }
  ~Rig() { session->stopRunning(); }
};

double brightnessOf(const CMSampleBufferRef& frame) {
  auto attachments =
      CMCopyDictionaryOfAttachments(kCFAllocatorDefault, frame, kCMAttachmentMode_ShouldPropagate);
  if (!attachments) return NAN;
  auto exif = attachments->find(kCGImagePropertyExifDictionary);
  if (exif == attachments->end() || !exif->second.dictionary()) return NAN;
  auto value = exif->second.dictionary()->find(kCGImagePropertyExifBrightnessValue);
  if (value == exif->second.dictionary()->end()) return NAN;
  return value->second.number().value_or(NAN);
}

}  // namespace

using CaptureSessionTest = CameraTest;

TEST_F(CaptureSessionTest, FramesArriveInOrderAsNV12WithTimes) {
  auto camera = markerCamera(stepOptions());
  Rig rig(camera->device());
  rig.session->startRunning();
  ASSERT_TRUE(rig.session->isRunning());
  for (std::size_t i = 1; i <= 6; ++i) {
    ASSERT_TRUE(camera->deliverNextFrame());
    ASSERT_TRUE(rig.collector->waitForFrames(i));
    rig.queue.sync([] {});  // the delegate is free again before the next frame
  }
  auto frames = rig.collector->frames();
  ASSERT_EQ(frames.size(), 6u);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    auto image = CMSampleBufferGetImageBuffer(frames[i]);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixelFormatType(), kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange);
    EXPECT_EQ(image->width(), 320u);
    EXPECT_EQ(image->height(), 180u);
    EXPECT_NEAR(CMSampleBufferGetPresentationTimeStamp(frames[i]).seconds(), static_cast<double>(i) / 30.0,
                1e-6);
  }
  EXPECT_EQ(rig.output->droppedFrameCount(), 0u);
}

TEST_F(CaptureSessionTest, LateFramesAreDroppedNotQueuedWhileDelegateIsBusy) {
  auto camera = markerCamera(stepOptions());
  Rig rig(camera->device());
  rig.session->startRunning();
  rig.collector->holdNext();
  ASSERT_TRUE(camera->deliverNextFrame());
  ASSERT_TRUE(rig.collector->waitUntilHeld());
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(camera->deliverNextFrame());
  EXPECT_EQ(rig.output->droppedFrameCount(), 5u);
  rig.collector->release();
  ASSERT_TRUE(rig.collector->waitForDrops(5));
  rig.queue.sync([] {});
  EXPECT_EQ(rig.collector->frameCount(), 1u);  // nothing of the busy time was queued up

  // Once free, the delegate gets the next frame again.
  ASSERT_TRUE(camera->deliverNextFrame());
  ASSERT_TRUE(rig.collector->waitForFrames(2));
  EXPECT_EQ(rig.output->droppedFrameCount(), 5u);
}

TEST_F(CaptureSessionTest, StopRunningEndsDeliveryEvenForQueuedFrames) {
  auto camera = markerCamera(stepOptions());
  Rig rig(camera->device());
  rig.session->startRunning();
  // Block the delegate queue so that the next frame waits there.
  std::mutex m;
  std::condition_variable cv;
  bool open = false;
  rig.queue.async([&] {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return open; });
  });
  ASSERT_TRUE(camera->deliverNextFrame());
  rig.session->stopRunning();
  EXPECT_FALSE(rig.session->isRunning());
  {
    std::lock_guard lock(m);
    open = true;
  }
  cv.notify_all();
  rig.queue.sync([] {});
  EXPECT_EQ(rig.collector->frameCount(), 0u);
  EXPECT_FALSE(camera->deliverNextFrame());  // no running session to deliver to
}

TEST_F(CaptureSessionTest, RealTimeCameraStopsDeliveringWhenStopped) {
  for (double fps : {120.0, 500.0}) {
    VirtualCameraOptions o;
    o.frameRate = fps;
    o.settleFrames = 0;
    auto camera = markerCamera(o, {64, 36});
    Rig rig(camera->device());
    rig.session->startRunning();
    ASSERT_TRUE(rig.collector->waitForFrames(3));
    rig.session->stopRunning();
    const auto atStop = rig.collector->frameCount();
    rig.queue.sync([] {});
    EXPECT_EQ(rig.collector->frameCount(), atStop) << fps;
    camera->unregister();
  }
}

TEST_F(CaptureSessionTest, StoppingAndUnregisteringAtOnceBothReturn) {
  // A screen stops its session on a queue while its host unregisters the
  // camera: both stop the same capture thread.
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    for (int i = 0; i < 20; ++i) {
      VirtualCameraOptions o;
      o.frameRate = 500;
      o.settleFrames = 0;
      auto camera = markerCamera(o, {64, 36});
      Rig rig(camera->device());
      rig.session->startRunning();
      rig.collector->waitForFrames(2);
      std::thread stopper([&] { rig.session->stopRunning(); });
      camera->unregister();
      stopper.join();
    }
    finished = true;
  });
  for (int i = 0; i < 600 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (!finished) {
    ADD_FAILURE() << "stopRunning and unregister deadlocked";
    std::fflush(nullptr);
    std::_Exit(1);  // the stuck threads cannot be joined
  }
  worker.join();
}

TEST_F(CaptureSessionTest, NoCameraMeansNoDeviceAndASessionThatDeliversNothing) {
  EXPECT_EQ(AVCaptureDevice::default_(AVCaptureDevice::DeviceType::builtInWideAngleCamera, AVMediaType::video,
                                      AVCaptureDevice::Position::back),
            nullptr);
  EXPECT_THROW(AVCaptureDeviceInput::make(nullptr), foundation::NSError);
  Rig rig(nullptr);
  EXPECT_EQ(rig.output->connection(AVMediaType::video), nullptr);
  rig.session->startRunning();
  EXPECT_TRUE(rig.session->isRunning());
  rig.session->stopRunning();
  EXPECT_EQ(rig.collector->frameCount(), 0u);
}

TEST_F(CaptureSessionTest, DiscoveryFindsCamerasByPositionAndType) {
  auto back = markerCamera(stepOptions(AVCaptureDevice::Position::back));
  auto front = markerCamera(stepOptions(AVCaptureDevice::Position::front));
  using DT = AVCaptureDevice::DeviceType;
  EXPECT_EQ(AVCaptureDevice::default_(DT::builtInWideAngleCamera, AVMediaType::video,
                                      AVCaptureDevice::Position::front),
            front->device());
  EXPECT_EQ(AVCaptureDevice::default_(DT::builtInWideAngleCamera, AVMediaType::video,
                                      AVCaptureDevice::Position::back),
            back->device());
  EXPECT_EQ(AVCaptureDevice::default_(DT::builtInTelephotoCamera, AVMediaType::video,
                                      AVCaptureDevice::Position::back),
            nullptr);
  EXPECT_EQ(AVCaptureDevice::default_(DT::builtInWideAngleCamera, AVMediaType::audio,
                                      AVCaptureDevice::Position::back),
            nullptr);
  AVCaptureDevice::DiscoverySession any({DT::builtInWideAngleCamera}, AVMediaType::video,
                                        AVCaptureDevice::Position::unspecified);
  EXPECT_EQ(any.devices().size(), 2u);

  front->unregister();
  EXPECT_EQ(AVCaptureDevice::default_(DT::builtInWideAngleCamera, AVMediaType::video,
                                      AVCaptureDevice::Position::front),
            nullptr);
  EXPECT_FALSE(front->device()->isConnected());
  EXPECT_THROW(AVCaptureDeviceInput::make(front->device()), foundation::NSError);
}

TEST_F(CaptureSessionTest, DeniedCameraAccessMakesInputCreationThrow) {
  auto camera = markerCamera(stepOptions());
  AVCaptureDevice::setAuthorizationStatusForTesting(AVAuthorizationStatus::denied);
  try {
    AVCaptureDeviceInput::make(camera->device());
    FAIL() << "expected an error";
  } catch (const foundation::NSError& e) {
    EXPECT_EQ(e.code(), AVErrorApplicationIsNotAuthorizedToUseDevice);
    EXPECT_EQ(e.domain(), AVFoundationErrorDomain);
  }
}

TEST_F(CaptureSessionTest, TorchChangesOnlyUnderTheConfigurationLock) {
  auto camera = markerCamera(stepOptions());
  auto device = camera->device();
  ASSERT_TRUE(device->hasTorch());
  EXPECT_THROW(device->setTorchMode(AVCaptureDevice::TorchMode::on), std::logic_error);
  EXPECT_EQ(device->torchMode(), AVCaptureDevice::TorchMode::off);
  device->lockForConfiguration();
  device->setTorchMode(AVCaptureDevice::TorchMode::on);
  device->unlockForConfiguration();
  EXPECT_EQ(device->torchMode(), AVCaptureDevice::TorchMode::on);
  EXPECT_TRUE(device->isTorchActive());
  device->lockForConfiguration();
  EXPECT_THROW(device->setTorchModeOn(1.5f), std::invalid_argument);
  device->setTorchModeOn(0.5f);
  EXPECT_FLOAT_EQ(device->torchLevel(), 0.5f);
  device->unlockForConfiguration();

  auto o = stepOptions();
  o.hasTorch = false;
  o.hasFlash = false;
  auto plain = markerCamera(o);
  EXPECT_FALSE(plain->device()->hasTorch());
  EXPECT_FALSE(plain->device()->isFlashAvailable());
  plain->device()->lockForConfiguration();
  EXPECT_THROW(plain->device()->setTorchMode(AVCaptureDevice::TorchMode::on), std::logic_error);
  plain->device()->unlockForConfiguration();

  camera->unregister();  // a disconnected device cannot be locked
  EXPECT_THROW(device->lockForConfiguration(), foundation::NSError);
}

TEST_F(CaptureSessionTest, FocusAndExposureSettleAfterConfiguredFramesEachRun) {
  auto o = stepOptions();
  o.settleFrames = 3;
  auto camera = markerCamera(o);
  auto device = camera->device();
  std::mutex m;
  std::vector<bool> focus, exposure;
  auto focusToken = device->observe(AVCaptureDevice::KeyPath::isAdjustingFocus, {.initial = true},
                                    [&](AVCaptureDevice&, const NSKeyValueObservedChange<bool>& c) {
                                      std::lock_guard lock(m);
                                      focus.push_back(*c.newValue);
                                    });
  auto exposureToken = device->observe(AVCaptureDevice::KeyPath::isAdjustingExposure, {.initial = true},
                                       [&](AVCaptureDevice&, const NSKeyValueObservedChange<bool>& c) {
                                         std::lock_guard lock(m);
                                         exposure.push_back(*c.newValue);
                                       });
  EXPECT_EQ(focus, std::vector<bool>{true});  // the initial value, at once
  Rig rig(device);
  rig.session->startRunning();
  camera->deliverNextFrame();
  camera->deliverNextFrame();
  EXPECT_TRUE(device->isAdjustingFocus());
  camera->deliverNextFrame();
  EXPECT_FALSE(device->isAdjustingFocus());
  EXPECT_FALSE(device->isAdjustingExposure());
  {
    std::lock_guard lock(m);
    EXPECT_EQ(focus, (std::vector<bool>{true, false}));
    EXPECT_EQ(exposure, (std::vector<bool>{true, false}));
  }
  // A new run adjusts again; an invalidated observation hears nothing more.
  exposureToken->invalidate();
  rig.session->stopRunning();
  rig.session->startRunning();
  EXPECT_TRUE(device->isAdjustingExposure());
  std::lock_guard lock(m);
  EXPECT_EQ(focus, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(exposure, (std::vector<bool>{true, false}));
}

TEST_F(CaptureSessionTest, BrightnessFollowsTheSceneWithSensorNoise) {
  auto levelCamera = [](int level, std::uint32_t seed) {
    auto o = stepOptions();
    o.seed = seed;
    return VirtualCamera::registerGenerator(
        [level](std::int64_t) {
          return VirtualFrame(bgrFrame(cv::Mat(180, 320, CV_8UC3, cv::Scalar(level, level, level))));
        },
        o);
  };
  auto readings = [](const std::shared_ptr<VirtualCamera>& camera, int n) {
    Rig rig(camera->device());
    rig.session->startRunning();
    std::vector<double> out;
    for (int i = 0; i < n; ++i) {
      camera->deliverNextFrame();
      EXPECT_TRUE(rig.collector->waitForFrames(static_cast<std::size_t>(i + 1)));
      rig.queue.sync([] {});
    }
    for (auto& f : rig.collector->frames()) out.push_back(brightnessOf(f));
    return out;
  };
  auto dark = readings(levelCamera(30, 7), 12);
  auto bright = readings(levelCamera(200, 7), 12);
  auto brightAgain = readings(levelCamera(200, 7), 12);
  auto mean = [](const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += x;
    return s / static_cast<double>(v.size());
  };
  ASSERT_FALSE(std::isnan(mean(dark)));
  // About log2(200 / 30) stops apart, and not a constant within one scene.
  EXPECT_NEAR(mean(bright) - mean(dark), std::log2(200.0 / 30.0), 0.15);
  EXPECT_GT(*std::max_element(bright.begin(), bright.end()) - *std::min_element(bright.begin(), bright.end()),
            0.01);
  EXPECT_EQ(bright, brightAgain);  // seeded: reproducible
}

TEST_F(CaptureSessionTest, ConnectionOrientationAndMirroringTurnTheBuffers) {
  auto camera = markerCamera(stepOptions(), {320, 180});
  Rig rig(camera->device());
  auto connection = rig.output->connection(AVMediaType::video);
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->videoOrientation(), AVCaptureVideoOrientation::landscapeRight);
  rig.session->startRunning();
  struct Case {
    AVCaptureVideoOrientation orientation;
    bool mirrored;
    std::size_t width;
    int quadrant;
  };
  const Case cases[] = {
      {AVCaptureVideoOrientation::landscapeRight, false, 320, 0},
      {AVCaptureVideoOrientation::portrait, false, 180, 1},  // turned clockwise: top-left goes top-right
      {AVCaptureVideoOrientation::landscapeLeft, false, 320, 2},
      {AVCaptureVideoOrientation::portraitUpsideDown, false, 180, 3},
      {AVCaptureVideoOrientation::landscapeRight, true, 320, 1},
  };
  std::size_t n = 0;
  for (const auto& c : cases) {
    connection->setAutomaticallyAdjustsVideoMirroring(false);
    connection->setVideoMirrored(c.mirrored);
    connection->setVideoOrientation(c.orientation);
    camera->deliverNextFrame();
    ASSERT_TRUE(rig.collector->waitForFrames(++n));
    rig.queue.sync([] {});
    auto image = rig.collector->frames().back()->imageBuffer();
    EXPECT_EQ(image->width(), c.width);
    EXPECT_EQ(fixtures::camera::brightestQuadrant(fixtures::camera::lumaOf(image)), c.quadrant);
    EXPECT_TRUE(CMGetAttachment(rig.collector->frames().back(), kCGImagePropertyExifDictionary));
  }
}

TEST_F(CaptureSessionTest, VideoSettingsSelectThePixelFormat) {
  auto camera = markerCamera(stepOptions());
  Rig rig(camera->device());
  EXPECT_FALSE(
      rig.output->setVideoSettings({{kCVPixelBufferPixelFormatTypeKey, CFValue(std::int64_t{0x79757679})}}));
  ASSERT_TRUE(rig.output->setVideoSettings(
      {{kCVPixelBufferPixelFormatTypeKey, CFValue(static_cast<std::int64_t>(kCVPixelFormatType_32BGRA))}}));
  rig.session->startRunning();
  camera->deliverNextFrame();
  ASSERT_TRUE(rig.collector->waitForFrames(1));
  auto image = rig.collector->frames()[0]->imageBuffer();
  ASSERT_EQ(image->pixelFormatType(), kCVPixelFormatType_32BGRA);
  const std::uint8_t* corner = image->plane(0).base;  // inside the white block
  EXPECT_GT(corner[0], 230);
  EXPECT_GT(corner[2], 230);
}

TEST_F(CaptureSessionTest, PortraitScenesAreStoredTurnedCounterClockwise) {
  auto o = stepOptions();
  o.portraitScene = true;
  auto camera = markerCamera(o, {180, 320});  // an upright portrait scene, marker top left
  Rig rig(camera->device());
  rig.session->startRunning();
  camera->deliverNextFrame();
  ASSERT_TRUE(rig.collector->waitForFrames(1));
  auto image = rig.collector->frames()[0]->imageBuffer();
  EXPECT_EQ(image->width(), 320u);
  EXPECT_EQ(image->height(), 180u);
  EXPECT_EQ(fixtures::camera::brightestQuadrant(fixtures::camera::lumaOf(image)), 3);  // bottom left
}

TEST_F(CaptureSessionTest, OneCameraServesOneRunningSessionAtATime) {
  auto camera = markerCamera(stepOptions());
  Rig first(camera->device());
  Rig second(camera->device());
  first.session->startRunning();
  second.session->startRunning();  // runs, but the camera is busy elsewhere
  camera->deliverNextFrame();
  ASSERT_TRUE(first.collector->waitForFrames(1));
  second.queue.sync([] {});
  EXPECT_EQ(second.collector->frameCount(), 0u);
  EXPECT_FALSE(first.session->canAddInput(AVCaptureDeviceInput::make(camera->device())));
  EXPECT_FALSE(first.session->canAddOutput(AVCaptureVideoDataOutput::make()));  // one of each kind

  // Once the first lets go, the camera goes to the session still waiting.
  first.session->stopRunning();
  camera->deliverNextFrame();
  ASSERT_TRUE(second.collector->waitForFrames(1));
  EXPECT_EQ(first.collector->frameCount(), 1u);
  // And back again when the roles swap.
  first.session->startRunning();
  second.session->stopRunning();
  camera->deliverNextFrame();
  ASSERT_TRUE(first.collector->waitForFrames(2));
}

#include <gtest/gtest.h>

#include <future>
#include <opencv2/imgcodecs.hpp>

#include "fixtures/camera/CameraTestSupport.h"
#include "morvik/platform/avf.h"

using namespace avf;
using fixtures::camera::bgrFrame;
using fixtures::camera::CameraTest;
using fixtures::camera::markerFrame;
using fixtures::camera::PhotoCollector;

namespace {

struct PhotoRig {
  std::shared_ptr<VirtualCamera> camera;
  std::shared_ptr<AVCaptureSession> session = AVCaptureSession::make();
  std::shared_ptr<AVCapturePhotoOutput> output = AVCapturePhotoOutput::make();

  explicit PhotoRig(bool withCamera = true, bool hasFlash = true) {
    if (withCamera) {
      VirtualCameraOptions o;
      o.stepMode = true;
      o.hasFlash = hasFlash;
      camera = VirtualCamera::registerGenerator(
          [](std::int64_t) {
            return VirtualFrame(bgrFrame(markerFrame({640, 360})));
          },
          o);
      session->addInput(AVCaptureDeviceInput::make(camera->device()));
    }
    session->addOutput(output);
  }
  ~PhotoRig() { session->stopRunning(); }

  std::shared_ptr<PhotoCollector> shoot() {
    auto delegate = std::make_shared<PhotoCollector>();
    output->capturePhoto(AVCapturePhotoSettings::make(), delegate);
    EXPECT_TRUE(delegate->wait());
    return delegate;
  }
};

}  // namespace

using PhotoOutputTest = CameraTest;

TEST_F(PhotoOutputTest, PhotoIsTheFullSensorFrameTaggedForTheConnectionOrientation) {
  PhotoRig rig;
  auto connection = rig.output->connection(AVMediaType::video);
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection->videoOrientation(), AVCaptureVideoOrientation::portrait);
  rig.session->startRunning();
  ASSERT_TRUE(rig.camera->deliverNextFrame());
  const std::pair<AVCaptureVideoOrientation, int> table[] = {
      {AVCaptureVideoOrientation::portrait, 6},
      {AVCaptureVideoOrientation::portraitUpsideDown, 8},
      {AVCaptureVideoOrientation::landscapeRight, 1},
      {AVCaptureVideoOrientation::landscapeLeft, 3},
  };
  for (const auto& [orientation, exif] : table) {
    connection->setVideoOrientation(orientation);
    auto delegate = rig.shoot();
    ASSERT_FALSE(delegate->error()) << delegate->error()->localizedDescription();
    auto data = delegate->photo()->fileDataRepresentation();
    ASSERT_TRUE(data);
    EXPECT_EQ(fixtures::camera::jpegExifOrientation(data->vector()), exif);
    EXPECT_EQ(static_cast<int>(delegate->photo()->orientation()), exif);
    // Stored as the sensor holds it: landscape, full size, marker top left.
    cv::Mat stored = cv::imdecode(data->vector(), cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
    ASSERT_EQ(stored.cols, 640);
    ASSERT_EQ(stored.rows, 360);
    EXPECT_EQ(fixtures::camera::brightestQuadrant(stored), 0);
  }
}

TEST_F(PhotoOutputTest, MirroredConnectionMirrorsTheUprightPhoto) {
  PhotoRig rig;
  auto connection = rig.output->connection(AVMediaType::video);
  connection->setAutomaticallyAdjustsVideoMirroring(false);
  connection->setVideoMirrored(true);
  rig.session->startRunning();
  rig.camera->deliverNextFrame();
  auto delegate = rig.shoot();
  ASSERT_TRUE(delegate->photo());
  // Decoding applies the EXIF turn: the upright portrait photo, mirrored,
  // has the marker (upright top right) at the top left.
  cv::Mat upright = cv::imdecode(delegate->photo()->fileDataRepresentation()->vector(), cv::IMREAD_COLOR);
  ASSERT_EQ(upright.cols, 360);
  EXPECT_EQ(fixtures::camera::brightestQuadrant(upright), 0);
}

TEST_F(PhotoOutputTest, FailuresAreReportedThroughTheDelegate) {
  {
    PhotoRig rig;  // not running
    auto delegate = rig.shoot();
    EXPECT_FALSE(delegate->photo());
    ASSERT_TRUE(delegate->error());
    EXPECT_EQ(delegate->error()->code(), AVErrorSessionNotRunning);
  }
  {
    PhotoRig rig;  // running, but no frame yet
    rig.session->startRunning();
    auto delegate = rig.shoot();
    ASSERT_TRUE(delegate->error());
    EXPECT_EQ(delegate->error()->code(), AVErrorNoDataCaptured);
  }
  {
    PhotoRig rig(false);  // no camera at all
    rig.session->startRunning();
    EXPECT_EQ(rig.output->supportedFlashModes(),
              std::vector<AVCaptureDevice::FlashMode>{AVCaptureDevice::FlashMode::off});
    auto delegate = rig.shoot();
    EXPECT_TRUE(delegate->error());
    EXPECT_EQ(delegate->calls(), 1);
  }
}

TEST_F(PhotoOutputTest, DelegateIsHeldUntilAnswered) {
  struct Signal : AVCapturePhotoCaptureDelegate {
    std::shared_ptr<std::promise<bool>> done = std::make_shared<std::promise<bool>>();
    void photoOutput(AVCapturePhotoOutput&, const std::shared_ptr<AVCapturePhoto>& photo,
                     const std::optional<foundation::NSError>&) override {
      done->set_value(photo != nullptr);
    }
  };
  PhotoRig rig;
  rig.session->startRunning();
  rig.camera->deliverNextFrame();
  auto delegate = std::make_shared<Signal>();
  auto answered = delegate->done->get_future();
  std::weak_ptr<Signal> weak = delegate;
  rig.output->capturePhoto(AVCapturePhotoSettings::make(), delegate);
  delegate.reset();  // only the output holds it now
  ASSERT_EQ(answered.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_TRUE(answered.get());
}

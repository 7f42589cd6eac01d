#include <gtest/gtest.h>

#include "fixtures/camera/CameraTestSupport.h"
#include "morvik/platform/avf.h"

using namespace avf;
using fixtures::camera::CameraTest;

using PreviewLayerTest = CameraTest;

TEST_F(PreviewLayerTest, ConnectionIsPortraitAndMirrorsFrontCamerasUntilToldOtherwise) {
  auto layer = AVCaptureVideoPreviewLayer::make(AVCaptureSession::make());
  EXPECT_EQ(layer->connection(), nullptr);  // no camera in the session

  VirtualCameraOptions o;
  o.stepMode = true;
  o.position = AVCaptureDevice::Position::front;
  auto front =
      VirtualCamera::registerGenerator([](std::int64_t) { return VirtualFrame(CVPixelBufferRef{}); }, o);
  auto session = AVCaptureSession::make();
  session->addInput(AVCaptureDeviceInput::make(front->device()));
  layer->setSession(session);
  layer->setVideoGravity(AVLayerVideoGravity::resizeAspectFill);
  EXPECT_EQ(layer->videoGravity(), AVLayerVideoGravity::resizeAspectFill);
  auto connection = layer->connection();
  ASSERT_TRUE(connection);
  EXPECT_EQ(connection, layer->connection());  // one connection per layer
  EXPECT_EQ(connection->videoOrientation(), AVCaptureVideoOrientation::portrait);
  EXPECT_TRUE(connection->isVideoMirroringSupported());
  EXPECT_TRUE(connection->automaticallyAdjustsVideoMirroring());
  EXPECT_TRUE(connection->isVideoMirrored());
  connection->setVideoMirrored(false);  // ignored while automatic
  EXPECT_TRUE(connection->isVideoMirrored());
  connection->setAutomaticallyAdjustsVideoMirroring(false);
  connection->setVideoMirrored(false);
  EXPECT_FALSE(connection->isVideoMirrored());
  connection->setVideoMirrored(true);
  EXPECT_TRUE(connection->isVideoMirrored());
  EXPECT_EQ(layer->className(), "AVCaptureVideoPreviewLayer");
}

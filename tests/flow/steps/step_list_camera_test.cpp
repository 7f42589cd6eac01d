// One step of the list run on a step-paced virtual camera: the capture
// screen's own delivery lands in the list, which chains the next capture.
#include <gtest/gtest.h>

#include "StepListTestSupport.h"
#include "fixtures/camera/CameraTestSupport.h"
#include "flow/capture/IDCaptureVCState.h"

namespace morvik {
struct IDCaptureVCTestAccess {
  static IDCaptureVC::State& state(IDCaptureVC& vc) { return *vc.state_; }
};
}  // namespace morvik

namespace steptest {
namespace {

namespace gen = fixtures::generators;

class StepListCameraTest : public StepListTest {
 protected:
  void TearDown() override {
    StepListTest::TearDown();
    if (camera) camera->unregister();
    avf::VirtualCamera::unregisterAll();
  }

  // One frame through camera, frame queue and main queue; a frame dropped
  // because the output was still busy is delivered again.
  void step(IDCaptureVC& vc) {
    auto& state = morvik::IDCaptureVCTestAccess::state(vc);
    const int before = state.framesHandled.load();
    for (int attempt = 0; attempt < 5 && state.framesHandled.load() == before; ++attempt) {
      const auto dropped = state.videoOutput->droppedFrameCount();
      ASSERT_TRUE(camera->deliverNextFrame());
      ASSERT_TRUE(dispatch::MainLoop::runUntil(
          [&] {
            return state.framesHandled.load() > before || state.videoOutput->droppedFrameCount() > dropped;
          },
          20));
    }
    dispatch::MainLoop::drain();
  }

  std::shared_ptr<avf::VirtualCamera> camera;
};

TEST_F(StepListCameraTest, TheFrontPhotoFillsItsSlotAndTheBackCaptureFollows) {
  const auto scene = gen::makeSteadyCardScene(gen::CardContent::printed, 11);
  const auto options = fixtures::camera::stepCameraOptions(avf::AVCaptureDevice::Position::back);
  camera = avf::VirtualCamera::registerGenerator(
      [&scene](std::int64_t) { return fixtures::camera::bgrFrame(scene.bgr); }, options);
  ASSERT_TRUE(camera);

  show();
  tap("Start");
  auto front = topCapture();
  ASSERT_TRUE(front);
  auto& state = morvik::IDCaptureVCTestAccess::state(*front);
  ASSERT_TRUE(dispatch::MainLoop::runUntil([&] { return state.captureSession->isRunning(); }, 10));
  settle();  // the hint plays before scanning starts

  for (int i = 0; i < 60 && topCapture() == front; ++i) {
    step(*front);
    if (state.isCapturing) dispatch::MainLoop::runUntil([&] { return topCapture() != front; }, 30);
  }
  ASSERT_NE(topCapture(), front) << "progress " << state.goodProgress;
  settle();

  const auto& image = Access::images(*list)[0];
  ASSERT_TRUE(image);
  // The photo is cropped to the card, not the whole 1080 x 1440 scene.
  EXPECT_LT(image->size().width, 1080);
  EXPECT_GT(image->size().width, 0.7 * 1080);
  EXPECT_EQ(statuses(), (std::vector<Status>{Status::completed, Status::inProgress, Status::pending}));
  EXPECT_EQ(topCapture()->step().title(), "Back of Document");
  EXPECT_EQ(stackClasses(), (std::vector<std::string>{"IDScanStepsVC", "IDCaptureVC", "IDCaptureVC"}));
  // The covered front screen stopped its camera.
  EXPECT_TRUE(dispatch::MainLoop::runUntil([&] { return !state.captureSession->isRunning(); }, 10));
}

}  // namespace
}  // namespace steptest

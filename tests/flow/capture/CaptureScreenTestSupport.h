// The capture screen shown in a key window on a step-mode virtual camera, on the manual dispatch
// clock: what every capture-screen suite sets up, steps and takes down the same way.
#pragma once

#include <gtest/gtest.h>
#include <morvik/flow/IDCaptureVC.h>
#include <morvik/platform/avf.h>
#include <morvik/platform/dispatch.h>
#include <morvik/platform/uikit.h>

#include <memory>
#include <vector>

#include "flow/capture/IDCaptureVCState.h"

namespace morvik {
struct IDCaptureVCTestAccess {
  static IDCaptureVC::State& state(IDCaptureVC& vc) { return *vc.state_; }
  // What the camera's queues and the main queue would call.
  static void processFrame(IDCaptureVC& vc, const avf::CMSampleBufferRef& frame) { vc.processFrame(frame); }
  static void processCapturedPhoto(IDCaptureVC& vc, const std::shared_ptr<avf::AVCapturePhoto>& photo) {
    vc.processCapturedPhoto(photo);
  }
  static void startPhotoCapture(IDCaptureVC& vc) { vc.startPhotoCapture(); }
  static void completeLiveness(IDCaptureVC& vc) { vc.completeLiveness(); }
  static void handleMetadataObjects(IDCaptureVC& vc,
                                    const std::vector<std::shared_ptr<avf::AVMetadataObject>>& objects) {
    vc.handleMetadataObjects(objects);
  }
};
}  // namespace morvik

namespace capturetest {

class CaptureScreenTestBase : public ::testing::Test {
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

  morvik::IDCaptureVC::State& state() { return morvik::IDCaptureVCTestAccess::state(*vc); }

  // Puts `vc` in a navigation controller in a key window and lays it out; with a camera, waits for
  // its session to run.
  void present() {
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

  std::shared_ptr<avf::VirtualCamera> camera;
  std::shared_ptr<morvik::IDCaptureVC> vc;
  std::shared_ptr<uikit::UINavigationController> nav;
  std::shared_ptr<uikit::UIWindowScene> scene;
  std::shared_ptr<uikit::UIWindow> window;
  std::vector<std::shared_ptr<uikit::UIImage>> images;
};

}  // namespace capturetest

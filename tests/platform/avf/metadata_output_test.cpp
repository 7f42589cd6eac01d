#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <opencv2/imgproc.hpp>
#include <thread>

#include "fixtures/camera/CameraTestSupport.h"
#include "fixtures/generators/Generators.h"
#include "morvik/platform/avf.h"

using namespace avf;
using fixtures::camera::bgrFrame;
using fixtures::camera::CameraTest;
using fixtures::camera::FrameCollector;

namespace {

class MetadataCollector : public AVCaptureMetadataOutputObjectsDelegate {
 public:
  void metadataOutput(AVCaptureOutput&, const std::vector<std::shared_ptr<AVMetadataObject>>& objects,
                      AVCaptureConnection&) override {
    std::lock_guard lock(m_);
    calls_.push_back(objects);
    cv_.notify_all();
  }
  bool waitForCalls(std::size_t n, double seconds = 20) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return calls_.size() >= n; });
  }
  std::vector<std::vector<std::shared_ptr<AVMetadataObject>>> calls() const {
    std::lock_guard lock(m_);
    return calls_;
  }

 private:
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::vector<std::shared_ptr<AVMetadataObject>>> calls_;
};

struct MetadataRig {
  std::shared_ptr<VirtualCamera> camera;
  std::shared_ptr<AVCaptureSession> session = AVCaptureSession::make();
  std::shared_ptr<AVCaptureMetadataOutput> metadata = AVCaptureMetadataOutput::make();
  std::shared_ptr<AVCaptureVideoDataOutput> video = AVCaptureVideoDataOutput::make();
  std::shared_ptr<MetadataCollector> found = std::make_shared<MetadataCollector>();
  std::shared_ptr<FrameCollector> frames = std::make_shared<FrameCollector>();
  dispatch::DispatchQueue metadataQueue{"test.metadata"};
  dispatch::DispatchQueue videoQueue{"test.video"};

  MetadataRig(FrameGenerator generator, std::vector<AVMetadataObjectType> types) {
    VirtualCameraOptions o;
    o.stepMode = true;
    camera = VirtualCamera::registerGenerator(std::move(generator), o);
    session->addInput(AVCaptureDeviceInput::make(camera->device()));
    session->addOutput(metadata);
    session->addOutput(video);
    metadata->setMetadataObjectsDelegate(found, metadataQueue);
    metadata->setMetadataObjectTypes(types);
    video->setSampleBufferDelegate(frames, videoQueue);
    session->startRunning();
  }
  ~MetadataRig() { session->stopRunning(); }
};

}  // namespace

using MetadataOutputTest = CameraTest;

TEST_F(MetadataOutputTest, FindsPDF417OnATiltedBlurredCardInEitherSensorOrientation) {
  int found = 0;
  for (std::uint32_t seed : {3u, 11u, 29u, 53u, 79u, 113u}) {
    fixtures::generators::CardFrameOptions card;
    card.seed = seed;
    card.content = fixtures::generators::CardContent::pdf417;
    card.maxRotationDeg = 6;
    card.maxTiltDeg = 15;
    card.maxBlurSigma = 1.0;
    card.minScale = 0.75;
    card.maxScale = 0.9;
    // One card seen by a phone held in portrait: the sensor stores the scene turned a quarter.
    const bool portrait = seed == 11u;
    if (portrait) card.frameSize = {1080, 1920};
    auto frame = fixtures::generators::makeCardFrame(card);
    cv::Mat sensor = portrait ? fixtures::generators::uprightToSensor(frame.bgr) : frame.bgr;
    ASSERT_EQ(sensor.cols, 1920);
    MetadataRig rig([sensor](std::int64_t) { return VirtualFrame(bgrFrame(sensor)); },
                    {AVMetadataObjectTypePDF417Code});
    ASSERT_TRUE(rig.camera->deliverNextFrame());
    if (!rig.found->waitForCalls(1, 20)) continue;
    auto objects = rig.found->calls()[0];
    ASSERT_FALSE(objects.empty());
    auto code = std::dynamic_pointer_cast<AVMetadataMachineReadableCodeObject>(objects[0]);
    ASSERT_TRUE(code);
    EXPECT_EQ(code->type, AVMetadataObjectTypePDF417Code);
    EXPECT_EQ(code->stringValue, frame.pdf417Text);
    EXPECT_GT(code->bounds.width(), 0.1);
    EXPECT_LE(code->bounds.maxX(), 1.0);
    ++found;
  }
  EXPECT_GE(found, 2) << "PDF417 found on too few of the cards";
  std::cout << "[ INFO ] PDF417 found on " << found << " of 3 cards\n";
}

TEST_F(MetadataOutputTest, AnalysisSkipsFramesButNeverHoldsUpVideo) {
  fixtures::generators::CardFrameOptions options;
  options.seed = 5;
  options.content = fixtures::generators::CardContent::pdf417;
  auto frame = fixtures::generators::makeCardFrame(options);
  auto nv12 = fixtures::generators::toNV12(frame.bgr);  // delivered without conversion: fast frames
  MetadataRig rig([nv12](std::int64_t) { return VirtualFrame(nv12); }, {AVMetadataObjectTypePDF417Code});
  // Step frame by frame until the analysis has had to skip one (it takes far
  // longer than a frame's delivery); video must get every frame meanwhile.
  std::size_t stepped = 0;
  while (stepped < 2000 && rig.metadata->skippedFrameCount() == 0) {
    ASSERT_TRUE(rig.camera->deliverNextFrame());
    ASSERT_TRUE(rig.frames->waitForFrames(++stepped));
    rig.videoQueue.sync([] {});
  }
  EXPECT_GT(rig.metadata->skippedFrameCount(), 0u);
  EXPECT_EQ(rig.video->droppedFrameCount(), 0u);
  EXPECT_EQ(rig.frames->frameCount(), stepped);
  for (int i = 0; i < 15000 && rig.metadata->analysedFrameCount() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_GE(rig.metadata->analysedFrameCount(), 1u);
  EXPECT_LE(rig.metadata->skippedFrameCount() + rig.metadata->analysedFrameCount(), stepped);
}

TEST_F(MetadataOutputTest, ReportsOnceEmptyWhenTheCodeDisappears) {
  fixtures::generators::CardFrameOptions options;
  options.seed = 3;
  options.content = fixtures::generators::CardContent::pdf417;
  options.maxRotationDeg = 0;
  options.maxTiltDeg = 0;
  auto card = fixtures::generators::makeCardFrame(options);
  cv::Mat blank(1080, 1920, CV_8UC3, cv::Scalar(120, 120, 120));
  std::atomic<bool> showCard{true};
  MetadataRig rig([&](std::int64_t) { return VirtualFrame(bgrFrame(showCard ? card.bgr : blank)); },
                  {AVMetadataObjectTypePDF417Code});
  ASSERT_TRUE(rig.camera->deliverNextFrame());
  ASSERT_TRUE(rig.found->waitForCalls(1));
  showCard = false;
  // Step until the worker has analysed two blank frames.
  const auto before = rig.metadata->analysedFrameCount();
  for (int i = 0; i < 200 && rig.metadata->analysedFrameCount() < before + 2; ++i) {
    rig.camera->deliverNextFrame();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  rig.metadataQueue.sync([] {});
  auto calls = rig.found->calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_FALSE(calls[0].empty());
  EXPECT_TRUE(calls[1].empty());
}

TEST_F(MetadataOutputTest, UnavailableTypesAreLeftOut) {
  auto output = AVCaptureMetadataOutput::make();
  output->setMetadataObjectTypes(
      {AVMetadataObjectTypeFace, AVMetadataObjectType{"org.gs1.EAN-13"}, AVMetadataObjectTypeFace});
  EXPECT_EQ(output->metadataObjectTypes(), std::vector<AVMetadataObjectType>{AVMetadataObjectTypeFace});
}

TEST_F(MetadataOutputTest, FindsAFaceInAPortraitSelfie) {
  cv::Mat face = fixtures::generators::loadFacePhoto();
  if (face.empty()) GTEST_SKIP() << "face photograph missing";
  auto turned = fixtures::generators::makeFaceTurn(face, {});
  ASSERT_TRUE(turned.ok);
  cv::Mat sensor = fixtures::generators::uprightToSensor(turned.bgr);
  cv::Mat small;
  cv::resize(sensor, small, {960, 540});
  MetadataRig rig([small](std::int64_t) { return VirtualFrame(bgrFrame(small)); },
                  {AVMetadataObjectTypeFace});
  ASSERT_TRUE(rig.camera->deliverNextFrame());
  ASSERT_TRUE(rig.found->waitForCalls(1, 30));
  auto objects = rig.found->calls()[0];
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0]->type, AVMetadataObjectTypeFace);
  // Sensor coordinates (origin top left): the face is near the middle.
  EXPECT_NEAR(objects[0]->bounds.midX(), 0.5, 0.2);
  EXPECT_NEAR(objects[0]->bounds.midY(), 0.5, 0.2);
  EXPECT_TRUE(std::dynamic_pointer_cast<AVMetadataFaceObject>(objects[0]));
}

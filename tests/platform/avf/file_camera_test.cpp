#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>

#include "fixtures/camera/CameraTestSupport.h"
#include "morvik/platform/avf.h"

using namespace avf;
using fixtures::camera::CameraTest;
using fixtures::camera::FrameCollector;

namespace fs = std::filesystem;

namespace {

fs::path scratchDir(const std::string& name) {
  auto dir = fs::temp_directory_path() / ("morvik-avf-" + name + "-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  return dir;
}

// Ten frames of 160x120 H.264, made with the ffmpeg command line.
std::optional<fs::path> makeClip() {
  auto path = scratchDir("clip") / "clip.mp4";
  const std::string cmd =
      "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=10 -frames:v 10 "
      "-pix_fmt yuv420p -c:v libx264 -threads 1 '" +
      path.string() + "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0 || !fs::exists(path)) return std::nullopt;
  return path;
}

struct StepRig {
  std::shared_ptr<AVCaptureSession> session = AVCaptureSession::make();
  std::shared_ptr<AVCaptureVideoDataOutput> output = AVCaptureVideoDataOutput::make();
  std::shared_ptr<FrameCollector> collector = std::make_shared<FrameCollector>();
  dispatch::DispatchQueue queue{"test.file.video"};
  explicit StepRig(const std::shared_ptr<VirtualCamera>& camera) {
    session->addInput(AVCaptureDeviceInput::make(camera->device()));
    session->addOutput(output);
    output->setSampleBufferDelegate(collector, queue);
    session->startRunning();
  }
  ~StepRig() { session->stopRunning(); }
  // Steps until the source ends or `limit` frames went through.
  std::size_t run(const std::shared_ptr<VirtualCamera>& camera, std::size_t limit) {
    std::size_t n = 0;
    while (n < limit && camera->deliverNextFrame()) {
      ++n;
      EXPECT_TRUE(collector->waitForFrames(n));
      queue.sync([] {});  // the delegate is free again before the next frame
    }
    return n;
  }
};

}  // namespace

using FileCameraTest = CameraTest;

TEST_F(FileCameraTest, VideoFilePlaysToItsEndOrLoops) {
  auto clip = makeClip();
  if (!clip) GTEST_SKIP() << "ffmpeg could not make a clip";
  VirtualCameraOptions o;
  o.stepMode = true;
  o.loop = false;
  auto once = VirtualCamera::registerVideoFile(clip->string(), o);
  ASSERT_TRUE(once);
  {
    StepRig rig(once);
    EXPECT_EQ(rig.run(once, 100), 10u);
    EXPECT_TRUE(once->hasEnded());
    auto image = rig.collector->frames().front()->imageBuffer();
    EXPECT_EQ(image->width(), 160u);
    EXPECT_EQ(image->height(), 120u);
    // testsrc has colour bars: the frame is not flat.
    cv::Mat luma = fixtures::camera::lumaOf(image);
    cv::Scalar mean, stddev;
    cv::meanStdDev(luma, mean, stddev);
    EXPECT_GT(stddev[0], 20);
  }
  once->unregister();

  o.loop = true;
  auto looping = VirtualCamera::registerVideoFile(clip->string(), o);
  StepRig rig(looping);
  EXPECT_EQ(rig.run(looping, 25), 25u);
  EXPECT_FALSE(looping->hasEnded());
  // The eleventh frame is the first one again.
  auto frames = rig.collector->frames();
  cv::Mat a = fixtures::camera::lumaOf(frames[0]->imageBuffer());
  cv::Mat b = fixtures::camera::lumaOf(frames[10]->imageBuffer());
  EXPECT_LT(cv::norm(a, b, cv::NORM_L1) / static_cast<double>(a.total()), 1.0);
}

TEST_F(FileCameraTest, UnusableSourcesRegisterNothing) {
  auto dir = scratchDir("bad");
  std::ofstream(dir / "not-a-video.mp4") << "garbage";
  EXPECT_FALSE(VirtualCamera::registerVideoFile((dir / "not-a-video.mp4").string()));
  EXPECT_FALSE(VirtualCamera::registerVideoFile((dir / "missing.mp4").string()));
  EXPECT_FALSE(VirtualCamera::registerImageFolder((dir / "missing").string()));
  EXPECT_EQ(AVCaptureDevice::default_(AVMediaType::video), nullptr);
}

TEST_F(FileCameraTest, ImageFolderPlaysInNameOrder) {
  auto dir = scratchDir("folder");
  for (int i = 0; i < 3; ++i) {
    cv::Mat image(90, 160, CV_8UC3, cv::Scalar::all(40 + 80 * i));
    cv::imwrite((dir / ("frame" + std::to_string(i) + ".png")).string(), image);
  }
  std::ofstream(dir / "notes.txt") << "ignored";
  VirtualCameraOptions o;
  o.stepMode = true;
  auto camera = VirtualCamera::registerImageFolder(dir.string(), o);
  ASSERT_TRUE(camera);
  StepRig rig(camera);
  EXPECT_EQ(rig.run(camera, 4), 4u);
  auto frames = rig.collector->frames();
  std::vector<double> means;
  for (auto& f : frames) means.push_back(cv::mean(fixtures::camera::lumaOf(f->imageBuffer()))[0]);
  EXPECT_LT(means[0], means[1]);
  EXPECT_LT(means[1], means[2]);
  EXPECT_NEAR(means[3], means[0], 1.0);  // looped back to the first image
}

// Faces on a real photograph (tests/fixtures/faces) and on head turns
// synthesised from it: detection, landmarks, yaw sign and size, quality.
#include <dlfcn.h>
#include <dlib/opencv/cv_image.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>
#include <thread>

#include "fixtures/generators/Generators.h"
#include "morvik/platform/dispatch.h"
#include "morvik/platform/vision.h"
#include "vision/FaceScan.h"

namespace {

using namespace fixtures::generators;
using quartz::CGImagePropertyOrientation;
using vision::VNDetectFaceCaptureQualityRequest;
using vision::VNDetectFaceLandmarksRequest;
using vision::VNFaceObservation;
using vision::VNImageRequestHandler;

struct Faces {
  std::vector<VNFaceObservation> landmarks, quality;
};

// As the capture screen asks: landmarks and quality together, on a sensor
// buffer that orientation .right turns upright.
Faces analyse(const cv::Mat& upright) {
  VNImageRequestHandler handler(toNV12(uprightToSensor(upright)), CGImagePropertyOrientation::right);
  VNDetectFaceLandmarksRequest landmarks;
  VNDetectFaceCaptureQualityRequest quality;
  EXPECT_TRUE(handler.perform({&landmarks, &quality}));
  return {landmarks.results(), quality.results()};
}

class FaceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    photo_ = new cv::Mat(loadFacePhoto());
    ASSERT_FALSE(photo_->empty()) << "tests/fixtures/faces/astronaut.png missing";
  }
  static void TearDownTestSuite() { delete photo_; }
  static cv::Mat turned(double yaw, double faceWidthShare = 0.45) {
    FaceTurnOptions o;
    o.yawRadians = yaw;
    o.faceWidthShare = faceWidthShare;
    const FaceFrame f = makeFaceTurn(*photo_, o);
    EXPECT_TRUE(f.ok);
    return f.bgr;
  }
  static cv::Mat mirrored(const cv::Mat& m) {
    cv::Mat r;
    cv::flip(m, r, 1);
    return r;
  }
  static inline cv::Mat* photo_ = nullptr;
};

TEST_F(FaceTest, FindsTheFaceInTheRealPhotographWithLandmarksInsideIt) {
  VNImageRequestHandler handler(toCGImage(*photo_));
  VNDetectFaceLandmarksRequest request;
  ASSERT_TRUE(handler.perform({&request}));
  ASSERT_EQ(request.results().size(), 1u);
  const VNFaceObservation& face = request.results()[0];
  // The astronaut's face lies in the upper middle of the 512 x 512 portrait (lower-left origin).
  const auto& b = face.boundingBox;
  EXPECT_NEAR(b.origin.x + b.size.width / 2, 0.44, 0.06);
  EXPECT_NEAR(b.origin.y + b.size.height / 2, 0.75, 0.06);
  EXPECT_GT(b.size.width, 0.15);
  ASSERT_TRUE(face.landmarks);
  EXPECT_EQ(face.landmarks->allPoints.pointCount(), 68u);
  EXPECT_EQ(face.landmarks->leftEye.pointCount(), 6u);
  // The eyes are above the mouth, the image-left eye left of the image-right eye.
  const auto eyeL = face.landmarks->leftEye.normalizedPoints[0],
             eyeR = face.landmarks->rightEye.normalizedPoints[3];
  const auto mouth = face.landmarks->outerLips.normalizedPoints[3];
  EXPECT_LT(eyeL.x, eyeR.x);
  EXPECT_GT(eyeL.y, mouth.y);
  for (const auto& p : face.landmarks->allPoints.normalizedPoints) {
    EXPECT_GT(p.x, -0.3);
    EXPECT_LT(p.x, 1.3);
  }
  ASSERT_TRUE(face.yaw && face.roll && face.pitch);
  EXPECT_LT(std::abs(*face.yaw), 0.25f);
  EXPECT_LT(std::abs(*face.roll), 0.2f);
  EXPECT_FALSE(face.faceCaptureQuality);  // only the quality request reports it
}

TEST_F(FaceTest, TurnedHeadsGiveYawOfTheRightSignAndSize) {
  // The photograph's own pose (the astronaut looks slightly aside) is the
  // reference the turn adds to. Each turn is measured on the image and on its
  // mirror image, whose true yaws are opposite: half their difference cancels
  // what the landmark model adds on one side of a face and not the other.
  const auto yawOf = [](const cv::Mat& m) {
    const Faces f = analyse(m);
    EXPECT_EQ(f.landmarks.size(), 1u);
    return f.landmarks.empty() ? 0.f : *f.landmarks[0].yaw;
  };
  const cv::Mat straight = turned(0);
  const double base = (yawOf(straight) - yawOf(mirrored(straight))) / 2;
  double worst = 0, worstOneSided = 0;
  for (double turn : {-0.6, -0.4, -0.2, 0.2, 0.4, 0.6}) {
    SCOPED_TRACE(turn);
    const cv::Mat frame = turned(turn);
    const double yaw = yawOf(frame), mirrorYaw = yawOf(mirrored(frame));
    EXPECT_GT(yaw * turn, 0) << "nose toward the image's right must give a positive yaw";
    EXPECT_LT(mirrorYaw * turn, 0);
    const double estimate = (yaw - mirrorYaw) / 2 - base;
    EXPECT_NEAR(estimate, turn, 0.1);
    EXPECT_NEAR(yaw - base, turn, 0.1);
    EXPECT_NEAR(-mirrorYaw - base, turn, 0.1);
    worst = std::max(worst, std::abs(estimate - turn));
    worstOneSided =
        std::max({worstOneSided, std::abs(yaw - base - turn), std::abs(-mirrorYaw - base - turn)});
  }
  std::printf(
      "[ figures  ] faces: yaw error over turns of 0.2 to 0.6 rad: at most %.3f rad (image and mirror), "
      "%.3f rad on one image alone; photograph's own yaw %.3f\n",
      worst, worstOneSided, base);
}

TEST_F(FaceTest, FacesNearAndFarAreFoundWhereTheyAre) {
  // Near faces are found on the coarse scan, far ones only on the finer one;
  // both must land on the face, not beside it.
  for (double share : {0.3, 0.38, 0.45, 0.6, 0.8}) {
    SCOPED_TRACE(share);
    const cv::Mat frame = turned(0.3, share);
    const Faces f = analyse(frame);
    ASSERT_EQ(f.landmarks.size(), 1u);
    const auto& b = f.landmarks[0].boundingBox;
    EXPECT_NEAR(b.origin.x + b.size.width / 2, 0.5, 0.06);
    EXPECT_NEAR(b.size.width, share * 0.7, share * 0.25);
    EXPECT_GT(*f.landmarks[0].yaw, 0.1f);
  }
}

TEST_F(FaceTest, EveryOrientationOfTheStoredPixelsGivesTheSameFace) {
  // The same upright image stored eight ways: each orientation must undo its
  // own storing exactly.
  using O = CGImagePropertyOrientation;
  const auto store = [](const cv::Mat& m, O o) {
    cv::Mat r, t;
    switch (o) {
      case O::up:
        return m;
      case O::upMirrored:
        cv::flip(m, r, 1);
        return r;
      case O::down:
        cv::rotate(m, r, cv::ROTATE_180);
        return r;
      case O::downMirrored:
        cv::flip(m, r, 0);
        return r;
      case O::leftMirrored:
        cv::transpose(m, r);
        return r;
      case O::right:
        return uprightToSensor(m);
      case O::rightMirrored:
        cv::transpose(m, t), cv::flip(t, r, -1);
        return r;
      case O::left:
        cv::rotate(m, r, cv::ROTATE_90_CLOCKWISE);
        return r;
    }
    return r;
  };
  const cv::Mat upright = turned(0.3, 0.6);
  VNImageRequestHandler plain(toNV12(upright), O::up);
  VNDetectFaceLandmarksRequest expected;
  ASSERT_TRUE(plain.perform({&expected}));
  ASSERT_EQ(expected.results().size(), 1u);
  const VNFaceObservation& want = expected.results()[0];
  for (O o :
       {O::upMirrored, O::down, O::downMirrored, O::leftMirrored, O::right, O::rightMirrored, O::left}) {
    SCOPED_TRACE(int(o));
    VNImageRequestHandler handler(toNV12(store(upright, o)), o);
    VNDetectFaceLandmarksRequest landmarks;
    VNDetectFaceCaptureQualityRequest quality;
    ASSERT_TRUE(handler.perform({&landmarks, &quality}));
    ASSERT_EQ(landmarks.results().size(), 1u);
    const VNFaceObservation& got = landmarks.results()[0];
    EXPECT_NEAR(got.boundingBox.origin.x, want.boundingBox.origin.x, 0.01);
    EXPECT_NEAR(got.boundingBox.origin.y, want.boundingBox.origin.y, 0.01);
    EXPECT_NEAR(got.boundingBox.size.width, want.boundingBox.size.width, 0.01);
    EXPECT_NEAR(*got.yaw, *want.yaw, 0.03);
    EXPECT_NEAR(*got.roll, *want.roll, 0.03);
    const auto eye = got.landmarks->leftEye.normalizedPoints[0],
               wantEye = want.landmarks->leftEye.normalizedPoints[0];
    EXPECT_NEAR(eye.x, wantEye.x, 0.03);
    EXPECT_NEAR(eye.y, wantEye.y, 0.03);
    ASSERT_EQ(quality.results().size(), 1u);
    EXPECT_GT(*quality.results()[0].faceCaptureQuality, 0.6f);
  }
}

TEST_F(FaceTest, TheAVX2ScanFindsWhatThePortableScanFinds) {
  // The plugin holds a second build of dlib's scan; it must neither differ
  // from the portable build nor have taken the portable templates' place.
  Dl_info self{};
  ASSERT_TRUE(dladdr(reinterpret_cast<void*>(&dispatch::isMainThread), &self) && self.dli_fname);
  const std::string path = std::string(self.dli_fname).substr(0, std::string(self.dli_fname).rfind('/') + 1) +
                           "libmorvik_vision_faces_avx2.so";
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 here";
  void* plugin = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!plugin) GTEST_SKIP() << "no AVX2 plugin built: " << dlerror();
  const auto create =
      reinterpret_cast<vision::detail::FaceScannerNew>(dlsym(plugin, "morvik_faces_scanner_new"));
  const auto destroy =
      reinterpret_cast<vision::detail::FaceScannerDelete>(dlsym(plugin, "morvik_faces_scanner_delete"));
  const auto scan =
      reinterpret_cast<vision::detail::FaceScannerScan>(dlsym(plugin, "morvik_faces_scanner_scan"));
  ASSERT_TRUE(create && destroy && scan);
  dlib::frontal_face_detector portable = dlib::get_frontal_face_detector();
  cv::Mat turnedGrey, emptyGrey;
  cv::cvtColor(turned(-0.4, 0.6), turnedGrey, cv::COLOR_BGR2GRAY);
  cv::resize(turnedGrey, turnedGrey, {}, 0.3, 0.3, cv::INTER_AREA);
  cv::cvtColor(makeBackgroundFrame(4, Background::cluttered, {180, 320}), emptyGrey, cv::COLOR_BGR2GRAY);
  void* scanner = create(0);
  ASSERT_NE(scanner, nullptr);
  for (const cv::Mat* grey : {&turnedGrey, &emptyGrey}) {
    std::vector<long> boxes(4 * 8);
    const long n = scan(scanner, grey->data, grey->cols, grey->rows, long(grey->step), boxes.data(), 8);
    const std::vector<dlib::rectangle> expected = portable(dlib::cv_image<unsigned char>(*grey));
    ASSERT_EQ(n, long(expected.size()));
    if (grey != &emptyGrey) {
      EXPECT_GE(n, 1);
    }
    for (std::size_t i = 0; i < expected.size() && i < 8; ++i)
      EXPECT_EQ(dlib::rectangle(boxes[4 * i], boxes[4 * i + 1], boxes[4 * i + 2], boxes[4 * i + 3]),
                expected[i]);
  }
  EXPECT_EQ(scan(scanner, nullptr, 10, 10, 10, nullptr, 0), -1);
  destroy(scanner);
}

TEST_F(FaceTest, AMirroredImageGivesTheOppositeYaw) {
  for (double turn : {-0.4, 0.4}) {
    const cv::Mat frame = turned(turn);
    const Faces plain = analyse(frame), flipped = analyse(mirrored(frame));
    ASSERT_EQ(plain.landmarks.size(), 1u);
    ASSERT_EQ(flipped.landmarks.size(), 1u);
    EXPECT_LT(*plain.landmarks[0].yaw * *flipped.landmarks[0].yaw, 0);
    EXPECT_NEAR(*plain.landmarks[0].yaw, -*flipped.landmarks[0].yaw, 0.12);
    EXPECT_NEAR(*plain.landmarks[0].roll, -*flipped.landmarks[0].roll, 0.08);
  }
}

TEST_F(FaceTest, CaptureQualityFallsWithBlurDarknessAndTurning) {
  const cv::Mat good = turned(0);
  const Faces sharp = analyse(good);
  ASSERT_EQ(sharp.quality.size(), 1u);
  const float q = *sharp.quality[0].faceCaptureQuality;
  EXPECT_GT(q, 0.6f);
  EXPECT_LE(q, 1.0f);
  // The quality request reports the same face as the landmark request.
  EXPECT_NEAR(sharp.quality[0].boundingBox.origin.x, sharp.landmarks[0].boundingBox.origin.x, 1e-6);

  cv::Mat blurred, dark;
  cv::GaussianBlur(good, blurred, {0, 0}, 4);
  good.convertTo(dark, -1, 0.25);
  for (const cv::Mat& worse : {blurred, dark, turned(0.6)}) {
    const Faces f = analyse(worse);
    if (f.quality.empty()) continue;  // too poor to be found at all is also fine
    EXPECT_LT(*f.quality[0].faceCaptureQuality, q - 0.05f);
  }
}

TEST_F(FaceTest, FramesWithoutAFaceGiveNoObservationsAndRegionsFilter) {
  const Faces none = analyse(makeBackgroundFrame(11, Background::cluttered, {1080, 1920}));
  EXPECT_TRUE(none.landmarks.empty());
  EXPECT_TRUE(none.quality.empty());
  // A region away from the face (its lower fifth) excludes it.
  VNImageRequestHandler handler(toNV12(turned(0)));
  VNDetectFaceLandmarksRequest request;
  request.regionOfInterest = vision::CGRect::make(0, 0, 1, 0.2);
  ASSERT_TRUE(handler.perform({&request}));
  EXPECT_TRUE(request.results().empty());
}

TEST_F(FaceTest, ConcurrentHandlersAgree) {
  const cv::Mat frame = turned(0.3);
  const Faces expected = analyse(frame);
  ASSERT_EQ(expected.landmarks.size(), 1u);
  std::vector<float> yaws(4, 0.f);
  std::vector<std::thread> threads;
  for (auto& y : yaws)
    threads.emplace_back([&frame, &y] {
      const Faces f = analyse(frame);
      if (f.landmarks.size() == 1) y = *f.landmarks[0].yaw;
    });
  for (auto& t : threads) t.join();
  for (float y : yaws) EXPECT_FLOAT_EQ(y, *expected.landmarks[0].yaw);
}

}  // namespace

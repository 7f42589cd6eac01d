// Faces: dlib's HOG frontal face detector on small grey copies of the oriented
// image, its 68-point shape predictor on a sharper crop around each face, and
// a head-pose fit of six landmarks to a generic head (cv::solvePnP).
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <dlib/serialize.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "vision/Frame.h"
#include "vision/LandmarkModel.h"

namespace vision {

namespace {

// Faces are looked for coarse to fine. First on a copy whose shorter side is
// kCoarseShortSide: the detector's 80 px window then finds faces whose box
// spans 40 % of that side or more (a face held in the guide circle) in about
// 9 ms. Only when none is there, on a finer copy (boxes from 25 % up) with the
// pyramid cut to the sizes the coarse scan could not see.
constexpr double kCoarseShortSide = 200;
constexpr double kFineShortSide = 320;
constexpr unsigned long kFineLevels =
    4;  // boxes of 80 to 138 px at the fine scale: 128 is the coarse scan's least
constexpr double kLandmarkFaceWidth = 220;  // faces are shrunk to about this width for the landmarks
// A scan places its box on an 8 px grid of the copy it scans, which on the
// coarse copy is 40 px of a 1080p frame: the landmarks, and the pose fitted to
// them, start badly from there. So a box found under kRefineBox px wide is
// found again on a crop around it where it is that wide (about 2.5 ms).
constexpr double kRefineBox = 88;
constexpr unsigned long kRefineLevels = 2;  // windows of 80 and 96 px

const char* const kPredictorPaths[] = {
    "/usr/share/dlib/shape_predictor_68_face_landmarks.dat",
    "/usr/local/share/dlib/shape_predictor_68_face_landmarks.dat",
};

struct Models {
  dlib::frontal_face_detector detector;
  dlib::frontal_face_detector fineDetector, refineDetector;  // the same filters on fewer pyramid levels
  detail::LandmarkModel landmarks;
  std::string error;  // empty when both loaded
};

// Loaded once per process on first use (about 1.3 s), shared read-only
// afterwards, and never destroyed: a worker thread may still be analysing a
// frame while exit runs the static destructors.
const Models& models() {
  static const Models& loaded = *[] {
    auto* made = new Models;
    Models& m = *made;
    m.detector = dlib::get_frontal_face_detector();
    std::vector<dlib::frontal_face_detector::feature_vector_type> filters;
    for (unsigned long i = 0; i < m.detector.num_detectors(); ++i) filters.push_back(m.detector.get_w(i));
    const auto withLevels = [&](unsigned long levels) {
      dlib::frontal_face_detector::image_scanner_type scanner;
      scanner.copy_configuration(m.detector.get_scanner());
      scanner.set_max_pyramid_levels(levels);
      return dlib::frontal_face_detector(scanner, m.detector.get_overlap_tester(), filters);
    };
    m.fineDetector = withLevels(kFineLevels);
    m.refineDetector = withLevels(kRefineLevels);
    std::string path;
    for (const char* p : kPredictorPaths) {
      std::error_code ec;
      if (std::filesystem::is_regular_file(p, ec)) {
        path = p;
        break;
      }
    }
    if (path.empty()) {
      m.error = "face landmark model shape_predictor_68_face_landmarks.dat not found (package libdlib-data)";
      return made;
    }
    try {
      std::ifstream in(path, std::ios::binary);
      m.landmarks.load(in);
    } catch (const std::exception& e) {
      m.error = "face landmark model could not be read: " + std::string(e.what());
    }
    return made;
  }();
  return loaded;
}

// The detectors keep scratch state while they scan, so each thread scans with its own copies.
struct ThreadDetectors {
  dlib::frontal_face_detector coarse, fine, refine;
  detail::LandmarkModel::Scratch landmarks;
};
ThreadDetectors& detectorsForThisThread(const Models& m) {
  thread_local std::unique_ptr<ThreadDetectors> local;
  if (!local)
    local =
        std::make_unique<ThreadDetectors>(ThreadDetectors{m.detector, m.fineDetector, m.refineDetector, {}});
  return *local;
}

// The box (oriented pixels) found again on a crop around it at kRefineBox px;
// the box itself when the crop shows no face.
cv::Rect2f refineBox(detail::Frame& frame, dlib::frontal_face_detector& detector, const cv::Rect2f& box,
                     cv::Size orientedSize) {
  const cv::Rect2f around =
      cv::Rect2f(box.x - box.width / 2, box.y - box.height / 2, box.width * 2, box.height * 2) &
      cv::Rect2f(0, 0, float(orientedSize.width), float(orientedSize.height));
  const detail::Frame::Crop crop = frame.orientedCrop(around, std::min(4.0, kRefineBox / box.width), true);
  if (crop.image.cols < 80 || crop.image.rows < 80) return box;
  const cv::Point2f centre = crop.fromOriented({box.x + box.width / 2, box.y + box.height / 2});
  double nearest = crop.image.cols;
  cv::Rect2f best = box;
  for (const dlib::rectangle& d : detector(dlib::cv_image<unsigned char>(crop.image))) {
    // Only the same face: about where and as large as the coarse box said.
    const double off =
        std::hypot((d.left() + d.right() + 1) / 2.0 - centre.x, (d.top() + d.bottom() + 1) / 2.0 - centre.y);
    const double size = d.width() / (box.width * crop.sx);
    if (off >= nearest || off > 0.3 * d.width() || size < 0.6 || size > 1.5) continue;
    nearest = off;
    best = cv::Rect2f(crop.toOriented({float(d.left()), float(d.top())}),
                      crop.toOriented({float(d.right() + 1), float(d.bottom() + 1)}));
  }
  return best;
}

// Generic head, in the camera's axes (x right, y down, z away from the
// camera), in units where the outer eye corners lie 450 apart (average adult
// proportions): nose tip, chin, outer eye corners, mouth corners.
const std::vector<cv::Point3d>& headModel() {
  // Never destroyed, like the models: exit must not pull it from a worker.
  static const auto& model = *new std::vector<cv::Point3d>{
      {0, 0, 0}, {0, 330, 65}, {-225, -170, 135}, {225, -170, 135}, {-150, 150, 125}, {150, 150, 125}};
  return model;
}
constexpr int kModelLandmarks[6] = {30, 8, 36, 45, 48, 54};

void fitPose(detail::FaceResult& face, cv::Size orientedSize) {
  std::vector<cv::Point2d> image;
  for (int i : kModelLandmarks) image.emplace_back(face.points[i].x, face.points[i].y);
  const double f = std::max(orientedSize.width, orientedSize.height);
  const cv::Matx33d k(f, 0, orientedSize.width / 2.0, 0, f, orientedSize.height / 2.0, 0, 0, 1);
  cv::Mat rvec, tvec;
  try {
    if (!cv::solvePnP(headModel(), image, k, cv::noArray(), rvec, tvec, false, cv::SOLVEPNP_SQPNP)) return;
  } catch (const cv::Exception&) {
    return;
  }
  cv::Matx33d r;
  cv::Rodrigues(rvec, r);
  // Where the face looks (model -z) and where the top of the head points (model -y), in camera axes.
  const cv::Vec3d forward(-r(0, 2), -r(1, 2), -r(2, 2)), up(-r(0, 1), -r(1, 1), -r(2, 1));
  face.yaw = float(std::atan2(forward[0], -forward[2]));
  face.pitch = float(std::atan2(-forward[1], std::hypot(forward[0], forward[2])));
  face.roll = float(std::atan2(up[0], -up[1]));
}

float clamp01(double v) { return float(std::clamp(v, 0.0, 1.0)); }

// The documented score of VNDetectFaceCaptureQualityRequest.
float captureQuality(const detail::FaceResult& face, const cv::Mat& faceGrey, double faceWidthShare) {
  cv::Mat lap;
  cv::Laplacian(faceGrey, lap, CV_32F, 3);
  cv::Scalar mean, stddev;
  cv::meanStdDev(lap, mean, stddev);
  const double v = stddev[0] * stddev[0];
  const double sharpness = v / (v + 40);
  double worst = 0;
  for (const auto& a : {face.yaw, face.pitch, face.roll})
    worst = std::max(worst, a ? std::abs(double(*a)) : 0.8);
  const double pose = 1 - worst / 0.8;
  const double size = (faceWidthShare - 0.08) / (0.30 - 0.08);
  const double m = cv::mean(faceGrey)[0];
  const double exposure = m < 70 ? (m - 15) / 55 : m > 190 ? (250 - m) / 60 : 1;
  return clamp01(0.35 * sharpness + 0.25 * clamp01(pose) + 0.20 * clamp01(size) + 0.20 * clamp01(exposure));
}

bool analyseFaces(detail::Frame& frame, VNError& error) {
  if (frame.faces) return true;
  const Models& m = models();
  if (!m.error.empty()) {
    error = {VNError::Code::modelMissing, m.error};
    return false;
  }
  const cv::Size os = frame.orientedSize();
  const cv::Rect2f whole(0, 0, float(os.width), float(os.height));
  const double shortSide = std::min(os.width, os.height);
  ThreadDetectors& detectors = detectorsForThisThread(m);
  std::vector<detail::FaceResult> faces;
  std::vector<dlib::rectangle> found;
  detail::Frame::Crop small = frame.orientedCrop(whole, std::min(1.0, kCoarseShortSide / shortSide), true);
  if (small.image.cols >= 40 && small.image.rows >= 40)
    found = detectors.coarse(dlib::cv_image<unsigned char>(small.image));
  if (found.empty() && shortSide > kCoarseShortSide) {
    small = frame.orientedCrop(whole, std::min(1.0, kFineShortSide / shortSide), true);
    if (small.image.cols >= 40 && small.image.rows >= 40)
      found = detectors.fine(dlib::cv_image<unsigned char>(small.image));
  }
  for (const dlib::rectangle& d : found) {
    detail::FaceResult face;
    const cv::Point2f a = small.toOriented({float(d.left()), float(d.top())});
    const cv::Point2f b = small.toOriented({float(d.right() + 1), float(d.bottom() + 1)});
    face.box = cv::Rect2f(a, b) & whole;
    if (face.box.width < 4 || face.box.height < 4) continue;
    if (d.width() < kRefineBox) face.box = refineBox(frame, detectors.refine, face.box, os) & whole;
    const float grow = face.box.width * 0.3f;
    const cv::Rect2f around(face.box.x - grow, face.box.y - grow, face.box.width + 2 * grow,
                            face.box.height + 2 * grow);
    const double lmScale = std::min(1.0, kLandmarkFaceWidth / face.box.width);
    const detail::Frame::Crop crop = frame.orientedCrop(around, lmScale, true);
    if (crop.image.empty()) continue;
    const cv::Point2f ca = crop.fromOriented(face.box.tl()), cb = crop.fromOriented(face.box.br());
    const dlib::rectangle inCrop(long(std::lround(ca.x)), long(std::lround(ca.y)),
                                 long(std::lround(cb.x)) - 1, long(std::lround(cb.y)) - 1);
    const auto points = m.landmarks.predict(crop.image, inCrop, detectors.landmarks);
    for (std::size_t i = 0; i < points.size(); ++i) face.points[i] = crop.toOriented(points[i]);
    fitPose(face, os);
    const cv::Rect faceInCrop = cv::Rect(cv::Point(int(ca.x), int(ca.y)), cv::Point(int(cb.x), int(cb.y))) &
                                cv::Rect(0, 0, crop.image.cols, crop.image.rows);
    if (faceInCrop.area() > 0)
      face.quality = captureQuality(face, crop.image(faceInCrop), face.box.width / double(os.width));
    faces.push_back(face);
  }
  std::sort(faces.begin(), faces.end(),
            [](const auto& x, const auto& y) { return x.box.area() > y.box.area(); });
  frame.faces = std::move(faces);
  return true;
}

VNFaceLandmarkRegion2D region(const std::vector<CGPoint>& all, int from, int to) {
  VNFaceLandmarkRegion2D r;
  r.normalizedPoints.assign(all.begin() + from, all.begin() + to + 1);
  return r;
}

VNFaceObservation observation(const detail::Frame& frame, const detail::FaceResult& face,
                              bool withLandmarks) {
  VNFaceObservation o;
  o.boundingBox = frame.normalisedRect(face.box);
  o.yaw = face.yaw;
  o.roll = face.roll;
  o.pitch = face.pitch;
  if (withLandmarks) {
    std::vector<CGPoint> all;
    for (const auto& p : face.points)
      all.push_back(
          {(p.x - face.box.x) / double(face.box.width), 1.0 - (p.y - face.box.y) / double(face.box.height)});
    VNFaceLandmarks2D l;
    l.allPoints.normalizedPoints = all;
    l.faceContour = region(all, 0, 16);
    l.leftEyebrow = region(all, 17, 21);
    l.rightEyebrow = region(all, 22, 26);
    l.noseCrest = region(all, 27, 30);
    l.nose = region(all, 31, 35);
    l.leftEye = region(all, 36, 41);
    l.rightEye = region(all, 42, 47);
    l.outerLips = region(all, 48, 59);
    l.innerLips = region(all, 60, 67);
    o.landmarks = std::move(l);
  }
  return o;
}

}  // namespace

bool VNDetectFaceLandmarksRequest::performOn(detail::Frame& frame, VNError& error) {
  if (!analyseFaces(frame, error)) return false;
  const cv::Rect2f roi = frame.roiToOriented(regionOfInterest);
  for (const auto& face : *frame.faces) {
    const cv::Point2f c(face.box.x + face.box.width / 2, face.box.y + face.box.height / 2);
    if (roi.contains(c)) results_.push_back(observation(frame, face, true));
  }
  return true;
}

bool VNDetectFaceCaptureQualityRequest::performOn(detail::Frame& frame, VNError& error) {
  if (!analyseFaces(frame, error)) return false;
  const cv::Rect2f roi = frame.roiToOriented(regionOfInterest);
  for (const auto& face : *frame.faces) {
    const cv::Point2f c(face.box.x + face.box.width / 2, face.box.y + face.box.height / 2);
    if (!roi.contains(c)) continue;
    VNFaceObservation o = observation(frame, face, false);
    o.faceCaptureQuality = face.quality;
    results_.push_back(o);
  }
  return true;
}

}  // namespace vision

// Faces: dlib's HOG frontal face detector on small grey copies of the oriented
// image, its 68-point shape model on a sharper crop around each face, and a
// head-pose fit of six landmarks to a generic head (cv::solvePnP). The
// landmark and quality requests of one perform share this analysis.
#include <dlib/geometry/rectangle.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/PluginLoader.h"
#include "vision/FaceScan.h"
#include "vision/Frame.h"
#include "vision/LandmarkModel.h"

namespace vision {

namespace {

// Faces are looked for coarse to fine. First on a copy whose shorter side is
// kCoarseShortSide: the detector's 80 px window then finds faces whose box
// spans 40 % of that side or more (a face held in the guide circle) in about
// 6.5 ms on one core (8.5 ms without AVX2). Only when none is there, on a
// finer copy (boxes from 25 % up) with the pyramid cut to the sizes the
// coarse scan could not see.
constexpr double kCoarseShortSide = 200;
constexpr double kFineShortSide = 320;
constexpr unsigned long kFineLevels =
    4;  // boxes of 80 to 138 px at the fine scale: 128 is the coarse scan's least
constexpr double kLandmarkFaceWidth = 220;  // faces are shrunk to about this width for the landmarks
// A scan places its box on an 8 px grid of the copy it scans, which on the
// coarse copy is 40 px of a 1080p frame: the landmarks, and the pose fitted to
// them, start badly from there. So a box found under kRefineBox px wide is
// found again on a crop around it where it is that wide (about 1.5 ms).
constexpr double kRefineBox = 88;
constexpr unsigned long kRefineLevels = 2;  // windows of 80 and 96 px

const char* const kPredictorPaths[] = {
    "/usr/share/dlib/shape_predictor_68_face_landmarks.dat",
    "/usr/local/share/dlib/shape_predictor_68_face_landmarks.dat",
};

// The face scan built for AVX2 (platform/plugins/faces_avx2), when the processor has it and the plugin
// is beside the library; otherwise the library's own, portable build of the same scan.
struct ScanFunctions {
  detail::FaceScannerNew create = nullptr;
  detail::FaceScannerDelete destroy = nullptr;
  detail::FaceScannerScan scan = nullptr;
};
const ScanFunctions kPortableScan{detail::portableFaceScannerNew, detail::portableFaceScannerDelete,
                                  detail::portableFaceScannerScan};
const ScanFunctions& fastScan() {
  static const ScanFunctions& found = []() -> const ScanFunctions& {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2")) return kPortableScan;
    void* plugin = foundation::detail::loadPlugin("libmorvik_vision_faces_avx2.so");
    using foundation::detail::pluginSymbol;
    ScanFunctions f;
    f.create = reinterpret_cast<detail::FaceScannerNew>(pluginSymbol(plugin, "morvik_faces_scanner_new"));
    f.destroy =
        reinterpret_cast<detail::FaceScannerDelete>(pluginSymbol(plugin, "morvik_faces_scanner_delete"));
    f.scan = reinterpret_cast<detail::FaceScannerScan>(pluginSymbol(plugin, "morvik_faces_scanner_scan"));
    if (f.create && f.destroy && f.scan) return *new ScanFunctions(f);
#endif
    return kPortableScan;
  }();
  return found;
}

struct Models {
  detail::LandmarkModel landmarks;
  std::string error;  // empty when loaded
};

// Loaded once per process on first use (about a second), shared read-only
// afterwards, and never destroyed: a worker thread may still be analysing a
// frame while exit runs the static destructors.
const Models& models() {
  static const Models& loaded = *[] {
    auto* made = new Models;
    Models& m = *made;
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

// The detector on at most `levels` pyramid levels (0: all). It keeps scratch state while it scans, so each
// thread scans with its own.
class Scanner {
 public:
  explicit Scanner(unsigned long levels) : scan_(&fastScan()) {
    handle_ = scan_->create(levels);
    if (!handle_ && scan_ != &kPortableScan) {
      scan_ = &kPortableScan;
      handle_ = scan_->create(levels);
    }
    if (!handle_) throw std::runtime_error("face scanner could not be made");
  }
  ~Scanner() { scan_->destroy(handle_); }
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  std::vector<dlib::rectangle> operator()(const cv::Mat& grey) {
    long n = scan(grey);
    if (std::size_t(n) * 4 > boxes_.size()) {  // more faces than ever before: room for all, then again
      boxes_.resize(std::size_t(n) * 4);
      n = scan(grey);
    }
    std::vector<dlib::rectangle> found;
    for (std::size_t i = 0; i < std::size_t(n) && 4 * i < boxes_.size(); ++i)
      found.emplace_back(boxes_[4 * i], boxes_[4 * i + 1], boxes_[4 * i + 2], boxes_[4 * i + 3]);
    return found;
  }

 private:
  long scan(const cv::Mat& grey) {
    const long n = scan_->scan(handle_, grey.data, grey.cols, grey.rows, long(grey.step), boxes_.data(),
                               long(boxes_.size() / 4));
    if (n < 0) throw std::runtime_error("face scan failed");
    return n;
  }

  const ScanFunctions* scan_;
  void* handle_ = nullptr;
  std::vector<long> boxes_ = std::vector<long>(4 * 16);
};

struct ThreadDetectors {
  ThreadDetectors() : coarse(0), fine(kFineLevels), refine(kRefineLevels) {}
  Scanner coarse, fine, refine;
  detail::LandmarkModel::Scratch landmarks;
};
ThreadDetectors& detectorsForThisThread() {
  thread_local std::unique_ptr<ThreadDetectors> local;
  if (!local) local = std::make_unique<ThreadDetectors>();
  return *local;
}

// The box (oriented pixels) found again on a crop around it at kRefineBox px;
// the box itself when the crop shows no face.
cv::Rect2f refineBox(detail::Frame& frame, Scanner& detector, const cv::Rect2f& box, cv::Size orientedSize) {
  const cv::Rect2f around =
      cv::Rect2f(box.x - box.width / 2, box.y - box.height / 2, box.width * 2, box.height * 2) &
      cv::Rect2f(0, 0, float(orientedSize.width), float(orientedSize.height));
  const detail::Frame::Crop crop = frame.orientedCrop(around, std::min(4.0, kRefineBox / box.width), true);
  if (crop.image.cols < 80 || crop.image.rows < 80) return box;
  const cv::Point2f centre = crop.fromOriented({box.x + box.width / 2, box.y + box.height / 2});
  double nearest = crop.image.cols;
  cv::Rect2f best = box;
  for (const dlib::rectangle& d : detector(crop.image)) {
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

// What frame.orientedCrop(rect, scale, true) gives for a scale in (0.5, 1): an
// area resize of the raw pixels, turned upright. An area resize by such a
// fraction costs over a millisecond for a face, and the landmark model reads
// only a few thousand of its pixels, so each is computed when it is read.
class AreaCrop final : public detail::LandmarkModel::Pixels {
 public:
  AreaCrop(detail::Frame& frame, const cv::Rect2f& rect, double scale)
      : grey_(frame.rawGrey()), orientation_(frame.orientation()) {
    // The same raw rectangle and size as orientedCrop.
    const cv::Size os = frame.orientedSize(), raw = frame.rawSize();
    const cv::Rect2f r = rect & cv::Rect2f(0, 0, float(os.width), float(os.height));
    if (r.width <= 0 || r.height <= 0) return;
    const cv::Point2f a = frame.orientedToRaw(r.tl()), b = frame.orientedToRaw(r.br());
    const int x0 = std::max(0, int(std::floor(std::min(a.x, b.x))));
    const int y0 = std::max(0, int(std::floor(std::min(a.y, b.y))));
    const int x1 = std::min(raw.width, int(std::ceil(std::max(a.x, b.x))));
    const int y1 = std::min(raw.height, int(std::ceil(std::max(a.y, b.y))));
    if (x1 <= x0 || y1 <= y0) return;
    const int rw = std::max(1, int(std::lround((x1 - x0) * scale)));
    const int rh = std::max(1, int(std::lround((y1 - y0) * scale)));
    columns_ = footprints(x0, x1, rw);
    rows_ = footprints(y0, y1, rh);
    const cv::Mat probe = detail::orient(cv::Mat(rh, rw, CV_8UC1), orientation_);
    size_ = probe.size();
    const cv::Point2f c = frame.rawToOriented({float(x0), float(y0)}),
                      d = frame.rawToOriented({float(x1), float(y1)});
    crop_.rect = cv::Rect2f(std::min(c.x, d.x), std::min(c.y, d.y), std::abs(d.x - c.x), std::abs(d.y - c.y));
    crop_.sx = size_.width / double(crop_.rect.width);
    crop_.sy = size_.height / double(crop_.rect.height);
    // Upright pixel (x, y) comes from resized pixel (i, j) = origin + x * alongX + y * alongY: orientations
    // only swap and flip axes. Found through the centres of three pixels.
    const auto resized = [&](int x, int y) {
      const cv::Point2f p = frame.orientedToRaw(crop_.toOriented({float(x) + 0.5f, float(y) + 0.5f}));
      return cv::Point(std::clamp(int(std::floor((p.x - x0) * rw / double(x1 - x0))), 0, rw - 1),
                       std::clamp(int(std::floor((p.y - y0) * rh / double(y1 - y0))), 0, rh - 1));
    };
    origin_ = resized(0, 0);
    alongX_ = size_.width > 1 ? resized(1, 0) - origin_ : cv::Point(rw == 1 ? 0 : 1, 0);
    alongY_ = size_.height > 1 ? resized(0, 1) - origin_ : cv::Point(0, rh == 1 ? 0 : 1);
  }
  bool empty() const { return size_.area() == 0; }
  // Its placement (the image itself stays empty).
  const detail::Frame::Crop& crop() const { return crop_; }
  cv::Size size() const override { return size_; }

  float at(int x, int y) const override {
    const cv::Point ij = origin_ + x * alongX_ + y * alongY_;
    const Footprint &fx = columns_[std::size_t(ij.x)], &fy = rows_[std::size_t(ij.y)];
    float sum = 0;
    for (int r = 0; r < fy.count; ++r) {
      const std::uint8_t* row = grey_.ptr<std::uint8_t>(fy.first + r) + fx.first;
      float line = 0;
      for (int c = 0; c < fx.count; ++c) line += fx.weight[c] * row[c];
      sum += fy.weight[r] * line;
    }
    return std::nearbyint(sum);
  }

  // Rows and columns `part` (pixels of this crop) as an 8-bit image: a view into one a pixel larger on
  // every side where the crop has one, so that filters see the neighbours they would see in the crop.
  // The same values as at(), made a whole row at a time: first along raw rows, then across them.
  cv::Mat render(const cv::Rect& part) const {
    const cv::Rect grown =
        cv::Rect(part.x - 1, part.y - 1, part.width + 2, part.height + 2) & cv::Rect(cv::Point(0, 0), size_);
    cv::Mat out(grown.size(), CV_8UC1);
    if (grown.area() == 0) return out;
    const cv::Point c0 = origin_ + grown.x * alongX_ + grown.y * alongY_,
                    c1 = origin_ + (grown.br().x - 1) * alongX_ + (grown.br().y - 1) * alongY_;
    const int i0 = std::min(c0.x, c1.x), i1 = std::max(c0.x, c1.x), j0 = std::min(c0.y, c1.y),
              j1 = std::max(c0.y, c1.y);
    const int r0 = rows_[std::size_t(j0)].first,
              r1 = rows_[std::size_t(j1)].first + rows_[std::size_t(j1)].count;
    cv::Mat along(r1 - r0, i1 - i0 + 1, CV_32F);
    for (int r = r0; r < r1; ++r) {
      const std::uint8_t* row = grey_.ptr<std::uint8_t>(r);
      float* line = along.ptr<float>(r - r0);
      for (int i = i0; i <= i1; ++i) {
        const Footprint& fx = columns_[std::size_t(i)];
        float v = 0;
        for (int c = 0; c < fx.count; ++c) v += fx.weight[c] * row[fx.first + c];
        line[i - i0] = v;
      }
    }
    cv::Mat resized(j1 - j0 + 1, i1 - i0 + 1, CV_8UC1);
    for (int j = j0; j <= j1; ++j) {
      const Footprint& fy = rows_[std::size_t(j)];
      std::uint8_t* dst = resized.ptr<std::uint8_t>(j - j0);
      for (int i = 0; i <= i1 - i0; ++i) {
        float sum = 0;
        for (int r = 0; r < fy.count; ++r) sum += fy.weight[r] * along.ptr<float>(fy.first + r - r0)[i];
        dst[i] = std::uint8_t(std::nearbyint(sum));
      }
    }
    for (int y = 0; y < grown.height; ++y) {
      std::uint8_t* row = out.ptr<std::uint8_t>(y);
      for (int x = 0; x < grown.width; ++x) {
        const cv::Point ij = c0 + x * alongX_ + y * alongY_;
        row[x] = resized.ptr<std::uint8_t>(ij.y - j0)[ij.x - i0];
      }
    }
    return out(cv::Rect(part.x - grown.x, part.y - grown.y, part.width, part.height));
  }

 private:
  // The raw pixels one resized pixel averages along one axis, each weighted by the share of it covered.
  struct Footprint {
    int first = 0, count = 0;
    std::array<float, 4> weight{};  // a step under 3 raw pixels touches at most 4
  };
  static std::vector<Footprint> footprints(int from, int to, int n) {
    std::vector<Footprint> out(static_cast<std::size_t>(n));
    const double step = double(to - from) / n;
    for (int i = 0; i < n; ++i) {
      const double a = from + i * step, b = std::min(double(to), a + step);
      Footprint& f = out[std::size_t(i)];
      f.first = int(a);
      for (int p = f.first; p < b && f.count < 4; ++p)
        f.weight[std::size_t(f.count++)] = float((std::min(p + 1.0, b) - std::max(double(p), a)) / step);
    }
    return out;
  }

  const cv::Mat& grey_;
  quartz::CGImagePropertyOrientation orientation_;
  std::vector<Footprint> columns_, rows_;
  cv::Size size_;
  cv::Point origin_, alongX_, alongY_;
  detail::Frame::Crop crop_;
};

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
  ThreadDetectors& detectors = detectorsForThisThread();
  std::vector<detail::FaceResult> faces;
  std::vector<dlib::rectangle> found;
  detail::Frame::Crop small = frame.orientedCrop(whole, std::min(1.0, kCoarseShortSide / shortSide), true);
  if (small.image.cols >= 40 && small.image.rows >= 40) found = detectors.coarse(small.image);
  if (found.empty() && shortSide > kCoarseShortSide) {
    small = frame.orientedCrop(whole, std::min(1.0, kFineShortSide / shortSide), true);
    if (small.image.cols >= 40 && small.image.rows >= 40) found = detectors.fine(small.image);
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
    // Below half size the crop is made by halving, which is cheap; above it, on demand.
    std::optional<AreaCrop> onDemand;
    detail::Frame::Crop crop;
    if (lmScale > 0.5 && lmScale < 1) {
      onDemand.emplace(frame, around, lmScale);
      if (onDemand->empty()) continue;
      crop = onDemand->crop();
    } else {
      crop = frame.orientedCrop(around, lmScale, true);
      if (crop.image.empty()) continue;
    }
    const cv::Size cropSize = onDemand ? onDemand->size() : crop.image.size();
    const cv::Point2f ca = crop.fromOriented(face.box.tl()), cb = crop.fromOriented(face.box.br());
    const dlib::rectangle inCrop(long(std::lround(ca.x)), long(std::lround(ca.y)),
                                 long(std::lround(cb.x)) - 1, long(std::lround(cb.y)) - 1);
    const auto points = onDemand ? m.landmarks.predict(*onDemand, inCrop, detectors.landmarks)
                                 : m.landmarks.predict(crop.image, inCrop, detectors.landmarks);
    for (std::size_t i = 0; i < points.size(); ++i) face.points[i] = crop.toOriented(points[i]);
    fitPose(face, os);
    const cv::Rect faceInCrop = cv::Rect(cv::Point(int(ca.x), int(ca.y)), cv::Point(int(cb.x), int(cb.y))) &
                                cv::Rect(cv::Point(0, 0), cropSize);
    if (faceInCrop.area() > 0)
      face.quality = captureQuality(face, onDemand ? onDemand->render(faceInCrop) : crop.image(faceInCrop),
                                    face.box.width / double(os.width));
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

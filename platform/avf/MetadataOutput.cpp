// Metadata output: machine-readable codes (ZXing) and faces (Vision), found
// on the output's own worker so that frame delivery never waits for them.
#define ZX_USE_UTF8 1  // text() as UTF-8 std::string
#include <ZXing/BarcodeFormat.h>
#include <ZXing/DecodeHints.h>
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <climits>
#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <optional>

#include "Internal.h"
#include "morvik/platform/avf/AVCaptureOutputs.h"
#include "morvik/platform/vision/Vision.h"

namespace avf {

namespace detail {

struct MetadataState {
  std::mutex m;
  std::vector<AVMetadataObjectType> types;
  quartz::CGRect roi = quartz::CGRect::make(0, 0, 1, 1);
  std::weak_ptr<AVCaptureMetadataOutputObjectsDelegate> delegate;
  std::optional<dispatch::DispatchQueue> queue;
  bool reportedObjects = false;  // the last report held objects
  std::atomic<bool> busy{false};
  std::atomic<std::uint64_t> analysed{0}, skipped{0};
  std::int64_t nextFaceID = 1;
  dispatch::DispatchQueue worker{"avf.metadata.worker", {false, dispatch::DispatchQoS::utility}};
  DeliveryGate gate;
};

namespace {

using Objects = std::vector<std::shared_ptr<AVMetadataObject>>;

struct Region {
  cv::Mat grey;                               // view of the luma plane inside the region of interest
  int x0 = 0, y0 = 0, width = 1, height = 1;  // full frame size
};

quartz::CGRect boundsOf(const std::vector<cv::Point2f>& pts, const Region& r) {
  float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
  for (const auto& p : pts) {
    minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
  }
  const double w = r.width, h = r.height;
  return quartz::CGRect::make(std::clamp(minX / w, 0.0, 1.0), std::clamp(minY / h, 0.0, 1.0),
                              std::clamp((maxX - minX) / w, 0.0, 1.0),
                              std::clamp((maxY - minY) / h, 0.0, 1.0));
}

std::vector<cv::Point2f> cornersOf(const ZXing::Result& result) {
  std::vector<cv::Point2f> pts;
  for (const auto& p : result.position()) pts.emplace_back(static_cast<float>(p.x), static_cast<float>(p.y));
  return pts;
}

ZXing::Results decode(const cv::Mat& grey, ZXing::BarcodeFormats formats, bool tryHarder) {
  if (!grey.isContinuous() && grey.step[0] == 0) return {};
  ZXing::ImageView view(grey.data, grey.cols, grey.rows, ZXing::ImageFormat::Lum,
                        static_cast<int>(grey.step[0]));
  ZXing::DecodeHints hints;
  hints.setFormats(formats);
  hints.setTryRotate(true);  // the sensor is landscape; codes are often turned 90 degrees
  hints.setTryHarder(tryHarder);
  return ZXing::ReadBarcodes(view, hints);
}

// The largest convex quadrilateral in the image (a card), in image pixels.
std::optional<std::array<cv::Point2f, 4>> findCard(const cv::Mat& grey) {
  const double scale = 640.0 / std::max(grey.cols, 1);
  cv::Mat small, edges;
  cv::resize(grey, small, cv::Size(), scale, scale, cv::INTER_AREA);
  cv::GaussianBlur(small, small, cv::Size(5, 5), 0);
  cv::Canny(small, edges, 40, 120);
  cv::dilate(edges, edges, cv::Mat());
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(edges, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
  double best = 0.05 * small.cols * small.rows;
  std::optional<std::array<cv::Point2f, 4>> found;
  for (const auto& c : contours) {
    std::vector<cv::Point> poly;
    cv::approxPolyDP(c, poly, 0.03 * cv::arcLength(c, true), true);
    if (poly.size() != 4 || !cv::isContourConvex(poly)) continue;
    const double area = std::fabs(cv::contourArea(poly));
    if (area <= best) continue;
    best = area;
    std::array<cv::Point2f, 4> q;
    for (int i = 0; i < 4; ++i) q[i] = cv::Point2f(poly[i].x / scale, poly[i].y / scale);
    found = q;
  }
  return found;
}

// Orders corners top-left, top-right, bottom-right, bottom-left.
std::array<cv::Point2f, 4> ordered(std::array<cv::Point2f, 4> q) {
  std::array<cv::Point2f, 4> out;
  auto sum = [](const cv::Point2f& p) { return p.x + p.y; };
  auto diff = [](const cv::Point2f& p) { return p.y - p.x; };
  out[0] = *std::min_element(q.begin(), q.end(), [&](auto& a, auto& b) { return sum(a) < sum(b); });
  out[2] = *std::max_element(q.begin(), q.end(), [&](auto& a, auto& b) { return sum(a) < sum(b); });
  out[1] = *std::min_element(q.begin(), q.end(), [&](auto& a, auto& b) { return diff(a) < diff(b); });
  out[3] = *std::max_element(q.begin(), q.end(), [&](auto& a, auto& b) { return diff(a) < diff(b); });
  return out;
}

// A patch of strong edges that mostly run one way (a code's bars), in image
// pixels: its centre, its axes and its extent along them.
struct BarRegion {
  cv::Point2f centre;
  cv::Point2f across, along;     // unit vectors: across the bars (a PDF417's rows), along them
  float length = 0, height = 0;  // extent across and along the bars
  double score = 0;              // area times how consistently the edges run one way
};

// Bar-code regions in a grey image, the most code-like first. The structure
// tensor of the gradients, pooled into cells, marks where edges are strong and
// mostly parallel; the tensor summed over a whole region gives its angle far
// more precisely than the region's outline would.
std::vector<BarRegion> findBarRegions(const cv::Mat& grey) {
  if (grey.cols < 64 || grey.rows < 32) return {};
  // Gradients at half of 1080p still see modules of 2 px; cells of 4 (8 px of
  // the frame) are finer than the shortest code worth reading.
  const double half = std::min(1.0, 960.0 / std::max(grey.cols, grey.rows));
  cv::Mat small;
  if (half < 1.0)
    cv::resize(grey, small, cv::Size(), half, half, cv::INTER_AREA);
  else
    small = grey;
  cv::Mat gx, gy;
  cv::Sobel(small, gx, CV_32F, 1, 0, 3);
  cv::Sobel(small, gy, CV_32F, 0, 1, 3);
  constexpr int kCell = 4;
  const cv::Size cells(std::max(1, small.cols / kCell), std::max(1, small.rows / kCell));
  cv::Mat jxx, jyy, jxy;
  cv::resize(gx.mul(gx), jxx, cells, 0, 0, cv::INTER_AREA);
  cv::resize(gy.mul(gy), jyy, cells, 0, 0, cv::INTER_AREA);
  cv::resize(gx.mul(gy), jxy, cells, 0, 0, cv::INTER_AREA);
  for (cv::Mat* m : {&jxx, &jyy, &jxy}) cv::blur(*m, *m, cv::Size(3, 3));
  cv::Mat mask(cells, CV_8UC1, cv::Scalar(0));
  for (int y = 0; y < cells.height; ++y) {
    const float *a = jxx.ptr<float>(y), *b = jyy.ptr<float>(y), *c = jxy.ptr<float>(y);
    auto* m = mask.ptr<std::uint8_t>(y);
    for (int x = 0; x < cells.width; ++x) {
      const float energy = a[x] + b[x], d = a[x] - b[x];
      // Edges of a printed code's contrast, more of them one way than across:
      // a PDF417's row boundaries add edges across its bars, so only a third
      // of the energy need lean one way. Busy scenes rarely have both.
      if (energy > 15000.f && std::sqrt(d * d + 4 * c[x] * c[x]) > 0.3f * energy) m[x] = 255;
    }
  }
  // Close the code's gaps, then cut the thin bridges (a card's edge, traces,
  // lines of text) that join it to other busy places.
  cv::morphologyEx(mask, mask, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
  cv::morphologyEx(mask, mask, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(5, 5)));
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
  const float toImage = static_cast<float>(kCell / half);
  std::vector<BarRegion> regions;
  for (const auto& contour : contours) {
    const double area = cv::contourArea(contour);
    if (area < 60) continue;  // under about 60 x 60 px of the frame
    const cv::Rect box = cv::boundingRect(contour);
    cv::Mat inside(box.size(), CV_8UC1, cv::Scalar(0));
    cv::drawContours(inside, std::vector<std::vector<cv::Point>>{contour}, 0, 255, cv::FILLED, cv::LINE_8,
                     cv::noArray(), INT_MAX, -box.tl());
    double a = 0, b = 0, c = 0;
    for (int y = 0; y < box.height; ++y) {
      const auto* in = inside.ptr<std::uint8_t>(y);
      const float* pa = jxx.ptr<float>(box.y + y) + box.x;
      const float* pb = jyy.ptr<float>(box.y + y) + box.x;
      const float* pc = jxy.ptr<float>(box.y + y) + box.x;
      for (int x = 0; x < box.width; ++x)
        if (in[x]) a += pa[x], b += pb[x], c += pc[x];
    }
    const double theta = 0.5 * std::atan2(2 * c, a - b);  // the gradients' main direction
    const double coherence = std::sqrt((a - b) * (a - b) + 4 * c * c) / std::max(a + b, 1e-9);
    BarRegion r;
    r.across = cv::Point2f(static_cast<float>(std::cos(theta)), static_cast<float>(std::sin(theta)));
    r.along = cv::Point2f(-r.across.y, r.across.x);
    float minU = FLT_MAX, maxU = -FLT_MAX, minV = FLT_MAX, maxV = -FLT_MAX;
    for (const auto& p : contour) {
      const cv::Point2f q((static_cast<float>(p.x) + 0.5f) * toImage,
                          (static_cast<float>(p.y) + 0.5f) * toImage);
      const float u = q.dot(r.across), v = q.dot(r.along);
      minU = std::min(minU, u), maxU = std::max(maxU, u);
      minV = std::min(minV, v), maxV = std::max(maxV, v);
    }
    r.length = maxU - minU;
    r.height = maxV - minV;
    r.score = area * toImage * toImage * coherence;
    // Smaller than a readable code (about 2 px a module), or a scatter of
    // edges going every way.
    if (r.length < 120.f || r.height < 40.f || r.score < 6000) continue;
    r.centre = r.across * ((minU + maxU) / 2) + r.along * ((minV + maxV) / 2);
    regions.push_back(r);
  }
  std::sort(regions.begin(), regions.end(),
            [](const BarRegion& x, const BarRegion& y) { return x.score > y.score; });
  return regions;
}

// The outline of the printed block in an upright view of a code: the bars,
// joined into one solid shape, fitted with four corners. A code seen at an
// angle is a trapezium there; its own corners straighten it.
std::optional<std::array<cv::Point2f, 4>> blockCorners(const cv::Mat& upright) {
  cv::Mat ink;
  cv::threshold(upright, ink, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
  const int join = std::max(5, upright.cols / 40);
  cv::morphologyEx(ink, ink, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(join, 3)));
  // Lines of text are thinner than a code of several rows.
  const int cut = std::max(5, upright.rows / 10);
  cv::morphologyEx(ink, ink, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(cut, cut)));
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(ink, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
  const std::vector<cv::Point>* largest = nullptr;
  double largestArea = 0.1 * upright.cols * upright.rows;
  for (const auto& c : contours) {
    const double area = cv::contourArea(c);
    if (area > largestArea) largestArea = area, largest = &c;
  }
  if (!largest) return std::nullopt;
  std::vector<cv::Point> hull, poly;
  cv::convexHull(*largest, hull);
  const double perimeter = cv::arcLength(hull, true);
  for (double eps = 0.01; eps <= 0.08 && poly.size() != 4; eps += 0.01)
    cv::approxPolyDP(hull, poly, eps * perimeter, true);
  // Four corners that cover the shape: a block, not a blob.
  if (poly.size() != 4 || largestArea < 0.85 * cv::contourArea(poly)) return std::nullopt;
  std::array<cv::Point2f, 4> q;
  for (int i = 0; i < 4; ++i)
    q[i] = cv::Point2f(static_cast<float>(poly[i].x), static_cast<float>(poly[i].y));
  return ordered(q);
}

void findCodes(const Region& r, const std::vector<AVMetadataObjectType>& types, CMTime time, Objects& out) {
  ZXing::BarcodeFormats formats;
  if (std::count(types.begin(), types.end(), AVMetadataObjectTypePDF417Code))
    formats |= ZXing::BarcodeFormat::PDF417;
  if (std::count(types.begin(), types.end(), AVMetadataObjectTypeQRCode))
    formats |= ZXing::BarcodeFormat::QRCode;
  if (formats.empty()) return;
  auto add = [&](const ZXing::Result& result, std::vector<cv::Point2f> pts) {
    for (auto& p : pts) p += cv::Point2f(static_cast<float>(r.x0), static_cast<float>(r.y0));
    const auto type = result.format() == ZXing::BarcodeFormat::PDF417 ? AVMetadataObjectTypePDF417Code
                                                                      : AVMetadataObjectTypeQRCode;
    std::vector<quartz::CGPoint> corners;
    for (const auto& p : pts)
      corners.push_back({p.x / static_cast<double>(r.width), p.y / static_cast<double>(r.height)});
    out.push_back(std::make_shared<AVMetadataMachineReadableCodeObject>(type, boundsOf(pts, r), time,
                                                                        result.text(), std::move(corners)));
  };
  // Decodes a warped view; the codes' corners are mapped back through `back` (3x3, view to frame).
  auto decodeWarped = [&](const cv::Mat& view, const cv::Mat& back) {
    bool any = false;
    for (const auto& result : decode(view, formats, true)) {
      if (!result.isValid()) continue;
      std::vector<cv::Point2f> pts = cornersOf(result), mapped;
      cv::perspectiveTransform(pts, mapped, back);
      add(result, mapped);
      any = true;
    }
    return any;
  };
  // A card in view is straightened first: decoding a flat card of
  // 800 px is far cheaper than the whole frame and survives tilt and
  // rotation.
  if (auto card = findCard(r.grey)) {
    const auto q = ordered(*card);
    const double top = cv::norm(q[1] - q[0]), side = cv::norm(q[3] - q[0]);
    if (top >= 1 && side >= 1) {
      const bool wide = top >= side;
      // 800 px: a licence's code still has modules of 2 px or more, and ZXing
      // decodes it in a third of the time it takes on a 1000 px card.
      constexpr int kFlat = 800;
      const int outW = wide ? kFlat : static_cast<int>(kFlat * top / side);
      const int outH = wide ? static_cast<int>(kFlat * side / top) : kFlat;
      const std::array<cv::Point2f, 4> dst = {cv::Point2f(0, 0), cv::Point2f(static_cast<float>(outW), 0),
                                              cv::Point2f(static_cast<float>(outW), static_cast<float>(outH)),
                                              cv::Point2f(0, static_cast<float>(outH))};
      const cv::Mat h = cv::getPerspectiveTransform(q.data(), dst.data());
      cv::Mat flat;
      cv::warpPerspective(r.grey, flat, h, cv::Size(outW, outH), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
      if (decodeWarped(flat, h.inv())) return;
    }
  }
  // No card, or not the card: a code is found by its bars and turned upright
  // (ZXing's PDF417 reader gives up beyond a couple of degrees of rotation).
  if (formats.testFlag(ZXing::BarcodeFormat::PDF417)) {
    const auto regions = findBarRegions(r.grey);
    // Two at most: a busy frame without a code must stay cheap.
    for (std::size_t i = 0; i < regions.size() && i < 2; ++i) {
      const auto& g = regions[i];
      // A margin for the quiet zone, and for start and stop patterns the region cut.
      const float w = g.length * 1.15f + 24, h = g.height * 1.25f + 24;
      const int outW = static_cast<int>(std::lround(w)), outH = static_cast<int>(std::lround(h));
      if (outW > 2 * std::max(r.grey.cols, r.grey.rows) || outH > 2 * std::max(r.grey.cols, r.grey.rows))
        continue;
      // View (u, v) to frame: centre + across * (u - w / 2) + along * (v - h / 2).
      cv::Mat back = (cv::Mat_<double>(3, 3) << g.across.x, g.along.x,
                      g.centre.x - g.across.x * outW / 2.0 - g.along.x * outH / 2.0, g.across.y, g.along.y,
                      g.centre.y - g.across.y * outW / 2.0 - g.along.y * outH / 2.0, 0, 0, 1);
      cv::Mat upright;
      cv::warpAffine(r.grey, upright, back.rowRange(0, 2), cv::Size(outW, outH),
                     cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
      if (decodeWarped(upright, back)) return;
      // Modules of 2 px under a soft focus, seen at an angle: the block's own
      // corners flatten it, and enlarged and sharpened its bars part again.
      constexpr double kEnlarge = 1.5;
      cv::Mat toView = back.inv();
      cv::Size size(static_cast<int>(outW * kEnlarge), static_cast<int>(outH * kEnlarge));
      if (auto q = blockCorners(upright)) {
        const double wq = std::max(cv::norm((*q)[1] - (*q)[0]), cv::norm((*q)[2] - (*q)[3]));
        const double hq = std::max(cv::norm((*q)[3] - (*q)[0]), cv::norm((*q)[2] - (*q)[1]));
        const auto m = static_cast<float>(0.04 * wq + 8);  // the quiet zone
        const auto W = static_cast<float>(wq), H = static_cast<float>(hq);
        const std::array<cv::Point2f, 4> dst = {cv::Point2f(m, m), cv::Point2f(m + W, m),
                                                cv::Point2f(m + W, m + H), cv::Point2f(m, m + H)};
        toView = cv::getPerspectiveTransform(q->data(), dst.data()) * toView;
        size = cv::Size(static_cast<int>((W + 2 * m) * kEnlarge), static_cast<int>((H + 2 * m) * kEnlarge));
      }
      toView = (cv::Mat_<double>(3, 3) << kEnlarge, 0, 0, 0, kEnlarge, 0, 0, 0, 1) * toView;
      cv::Mat soft;
      cv::warpPerspective(r.grey, upright, toView, size, cv::INTER_CUBIC, cv::BORDER_REPLICATE);
      cv::GaussianBlur(upright, soft, cv::Size(0, 0), 1.5 * kEnlarge);
      cv::addWeighted(upright, 2.0, soft, -1.0, 0, upright);
      back = toView.inv();
      if (decodeWarped(upright, back)) return;
    }
  }
  for (const auto& result : decode(r.grey, formats, false)) {
    if (result.isValid()) add(result, cornersOf(result));
  }
}

void findFaces(const CVPixelBufferRef& buffer, const Region& r, CMTime time, MetadataState& state,
               Objects& out) {
  using O = quartz::CGImagePropertyOrientation;
  // The sensor region of interest (top-left origin), as a box.
  const double rx = static_cast<double>(r.x0) / r.width, ry = static_cast<double>(r.y0) / r.height;
  const double rw = static_cast<double>(r.grey.cols) / r.width,
               rh = static_cast<double>(r.grey.rows) / r.height;
  // Faces are found upright only, and a phone is mostly held in portrait:
  // look in the portrait view of the sensor first, then in the landscape one.
  for (const O orientation : {O::right, O::up}) {
    vision::VNImageRequestHandler handler(buffer, orientation);
    vision::VNDetectFaceLandmarksRequest faces;
    // Vision's coordinates: normalised to the oriented image, origin lower left.
    faces.regionOfInterest = orientation == O::up
                                 ? quartz::CGRect::make(rx, 1.0 - ry - rh, rw, rh)
                                 : quartz::CGRect::make(1.0 - ry - rh, 1.0 - rx - rw, rh, rw);
    if (!handler.perform({&faces}) || faces.results().empty()) continue;
    for (const auto& face : faces.results()) {
      const auto& b = face.boundingBox;
      const quartz::CGRect bounds =
          orientation == O::up
              ? quartz::CGRect::make(b.origin.x, 1.0 - b.origin.y - b.size.height, b.size.width,
                                     b.size.height)
              : quartz::CGRect::make(1.0 - b.origin.y - b.size.height, 1.0 - b.origin.x - b.size.width,
                                     b.size.height, b.size.width);
      std::int64_t id = 0;
      {
        std::lock_guard lock(state.m);
        id = state.nextFaceID++;
      }
      auto object = std::make_shared<AVMetadataFaceObject>(bounds, time, id);
      if (face.roll) object->rollAngle = *face.roll * 180.0 / M_PI;
      if (face.yaw) object->yawAngle = *face.yaw * 180.0 / M_PI;
      out.push_back(std::move(object));
    }
    return;
  }
}

}  // namespace

}  // namespace detail

AVCaptureMetadataOutput::AVCaptureMetadataOutput() : state_(std::make_shared<detail::MetadataState>()) {}
AVCaptureMetadataOutput::~AVCaptureMetadataOutput() = default;

std::shared_ptr<AVCaptureMetadataOutput> AVCaptureMetadataOutput::make() {
  return std::shared_ptr<AVCaptureMetadataOutput>(new AVCaptureMetadataOutput());
}

std::vector<AVMetadataObjectType> AVCaptureMetadataOutput::availableMetadataObjectTypes() const {
  return {AVMetadataObjectTypePDF417Code, AVMetadataObjectTypeQRCode, AVMetadataObjectTypeFace};
}

std::vector<AVMetadataObjectType> AVCaptureMetadataOutput::metadataObjectTypes() const {
  std::lock_guard lock(state_->m);
  return state_->types;
}

void AVCaptureMetadataOutput::setMetadataObjectTypes(const std::vector<AVMetadataObjectType>& types) {
  const auto available = availableMetadataObjectTypes();
  std::vector<AVMetadataObjectType> kept;
  for (const auto& t : types) {
    if (std::find(available.begin(), available.end(), t) != available.end() &&
        std::find(kept.begin(), kept.end(), t) == kept.end()) {
      kept.push_back(t);
    }
  }
  std::lock_guard lock(state_->m);
  state_->types = std::move(kept);
}

quartz::CGRect AVCaptureMetadataOutput::rectOfInterest() const {
  std::lock_guard lock(state_->m);
  return state_->roi;
}

void AVCaptureMetadataOutput::setRectOfInterest(const quartz::CGRect& rect) {
  std::lock_guard lock(state_->m);
  state_->roi = rect.intersection(quartz::CGRect::make(0, 0, 1, 1));
}

void AVCaptureMetadataOutput::setMetadataObjectsDelegate(
    const std::shared_ptr<AVCaptureMetadataOutputObjectsDelegate>& delegate,
    const dispatch::DispatchQueue& queue) {
  std::lock_guard lock(state_->m);
  state_->delegate = delegate;
  state_->queue = delegate ? std::optional<dispatch::DispatchQueue>(queue) : std::nullopt;
}

void AVCaptureMetadataOutput::setMetadataObjectsDelegate(std::nullptr_t) {
  std::lock_guard lock(state_->m);
  state_->delegate.reset();
  state_->queue.reset();
}

std::uint64_t AVCaptureMetadataOutput::analysedFrameCount() const { return state_->analysed.load(); }
std::uint64_t AVCaptureMetadataOutput::skippedFrameCount() const { return state_->skipped.load(); }

void AVCaptureMetadataOutput::sessionStarted() {
  state_->gate.open();
  std::lock_guard lock(state_->m);
  state_->reportedObjects = false;
}

void AVCaptureMetadataOutput::sessionStopping() { state_->gate.close(); }

void AVCaptureMetadataOutput::handleFrame(const CMSampleBufferRef& frame,
                                          const std::shared_ptr<AVCaptureConnection>& connection) {
  auto state = state_;
  std::vector<AVMetadataObjectType> types;
  quartz::CGRect roi;
  {
    std::lock_guard lock(state->m);
    if (state->types.empty() || !state->queue || state->delegate.expired()) return;
    types = state->types;
    roi = state->roi;
  }
  const auto& image = frame->imageBuffer();
  if (!image || image->planeCount() != 2 || roi.isEmpty()) return;
  if (state->busy.exchange(true)) {
    state->skipped.fetch_add(1);  // the worker is still on an earlier frame
    return;
  }
  std::weak_ptr<AVCaptureMetadataOutput> weakSelf =
      std::static_pointer_cast<AVCaptureMetadataOutput>(shared_from_this());
  const std::uint64_t run = state->gate.run();
  state->worker.async([state, weakSelf, frame, connection, types, roi, run] {
    const auto& image = frame->imageBuffer();
    const auto& y = image->plane(0);
    detail::Region region;
    region.width = static_cast<int>(y.width);
    region.height = static_cast<int>(y.height);
    cv::Mat full(region.height, region.width, CV_8UC1, const_cast<std::uint8_t*>(y.base), y.bytesPerRow);
    const cv::Rect r(static_cast<int>(roi.minX() * region.width),
                     static_cast<int>(roi.minY() * region.height),
                     std::max(1, static_cast<int>(roi.width() * region.width)),
                     std::max(1, static_cast<int>(roi.height() * region.height)));
    const cv::Rect clipped = r & cv::Rect(0, 0, region.width, region.height);
    region.grey = full(clipped);
    region.x0 = clipped.x;
    region.y0 = clipped.y;
    detail::Objects objects;
    if (!region.grey.empty()) {
      detail::findCodes(region, types, frame->presentationTimeStamp(), objects);
      if (std::count(types.begin(), types.end(), AVMetadataObjectTypeFace)) {
        detail::findFaces(image, region, frame->presentationTimeStamp(), *state, objects);
      }
    }
    state->analysed.fetch_add(1);
    std::optional<dispatch::DispatchQueue> queue;
    std::weak_ptr<AVCaptureMetadataOutputObjectsDelegate> delegate;
    {
      std::lock_guard lock(state->m);
      const bool report = !objects.empty() || state->reportedObjects;
      state->reportedObjects = !objects.empty();
      if (report) {
        queue = state->queue;
        delegate = state->delegate;
      }
    }
    state->busy.store(false);
    if (!queue) return;
    queue->async([state, weakSelf, delegate, connection, objects = std::move(objects), run] {
      if (!state->gate.enter(run)) return;
      auto d = delegate.lock();
      auto o = weakSelf.lock();
      if (d && o) d->metadataOutput(*o, objects, *connection);
      state->gate.exit();
    });
  });
}

}  // namespace avf

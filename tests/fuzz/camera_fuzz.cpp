// libFuzzer target: camera pixels into the rectangle request. The input
// chooses a frame (size, NV12 video or full range or BGRA, one of the eight
// orientations) and fills it either with a scene (a surface with a filled
// quadrilateral whose corners may lie past the frame's edge, stripes and
// noise) or with the input's own bytes as raw pixels; then the request's
// limits (the capture screen's or arbitrary ones). Every observation must keep
// the promises of Vision.h: corners from 0 to 1, a bounding box that holds
// them and lies in the image, a confidence from 0 to 1. Built and run by
// scripts/fuzz.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "morvik/platform/corevideo.h"
#include "morvik/platform/vision.h"

namespace {

using corevideo::CVPixelBuffer;
using corevideo::CVPixelBufferRef;
using quartz::CGImagePropertyOrientation;

// Reads the input front to back; zeros once it runs out.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  int in(int low, int high) {  // [low, high]
    const unsigned v = unsigned(byte()) << 8 | byte();
    return low + int(v % unsigned(high - low + 1));
  }
  double unit() { return byte() / 255.0; }
  const std::uint8_t* rest() const { return data_ + at_; }
  std::size_t restSize() const { return size_ - std::min(at_, size_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

void fail(const char* what, double value) {
  std::fprintf(stderr, "observation breaks its promise: %s (%.17g)\n", what, value);
  std::abort();
}

// A luma value and a chroma pair (Cb, Cr) for a BGR colour (BT.601, full range).
struct YCbCr {
  std::uint8_t y, cb, cr;
};
YCbCr toYCbCr(double b, double g, double r) {
  const auto clamp8 = [](double v) { return std::uint8_t(std::lround(std::clamp(v, 0.0, 255.0))); };
  const double y = 0.299 * r + 0.587 * g + 0.114 * b;
  return {clamp8(y), clamp8(128 + 0.564 * (b - y)), clamp8(128 + 0.713 * (r - y))};
}

// Draws a scene into the buffer's planes: surface, quadrilateral, stripes, noise.
void drawScene(const CVPixelBufferRef& buffer, Bytes& in) {
  const int w = int(buffer->width()), h = int(buffer->height());
  const bool bgra = buffer->pixelFormatType() == corevideo::kCVPixelFormatType_32BGRA;
  const cv::Scalar surfaceBGR(in.byte(), in.byte(), in.byte()), cardBGR(in.byte(), in.byte(), in.byte());
  // Corners from a fifth of the frame before its edge to a fifth past the other.
  std::vector<cv::Point> quad;
  for (int i = 0; i < 4; ++i) {
    quad.emplace_back(int(std::lround((in.unit() * 1.4 - 0.2) * w)),
                      int(std::lround((in.unit() * 1.4 - 0.2) * h)));
  }
  const int stripes = in.byte() % 6;
  const int noise = in.byte() % 24;
  auto paint = [&](cv::Mat plane, int scale, auto colourOf) {
    plane.setTo(colourOf(surfaceBGR));
    std::vector<cv::Point> scaled;
    for (const auto& p : quad) scaled.emplace_back(p.x / scale, p.y / scale);
    cv::fillPoly(plane, std::vector<std::vector<cv::Point>>{scaled}, colourOf(cardBGR), cv::LINE_AA);
    for (int i = 0; i < stripes; ++i) {
      const int y = (h * (i + 1) / (stripes + 1)) / scale;
      cv::line(plane, {0, y}, {plane.cols, y + plane.rows / 8}, colourOf(cardBGR * 0.5), 1 + 2 / scale);
    }
  };
  if (bgra) {
    cv::Mat image(h, w, CV_8UC4, buffer->mutablePlaneBase(0), buffer->bytesPerRowOfPlane(0));
    paint(image, 1, [](const cv::Scalar& c) { return cv::Scalar(c[0], c[1], c[2], 255); });
  } else {
    cv::Mat luma(h, w, CV_8UC1, buffer->mutablePlaneBase(0), buffer->bytesPerRowOfPlane(0));
    cv::Mat chroma(int(buffer->heightOfPlane(1)), int(buffer->widthOfPlane(1)), CV_8UC2,
                   buffer->mutablePlaneBase(1), buffer->bytesPerRowOfPlane(1));
    paint(luma, 1, [](const cv::Scalar& c) { return cv::Scalar(toYCbCr(c[0], c[1], c[2]).y); });
    paint(chroma, 2, [](const cv::Scalar& c) {
      const auto v = toYCbCr(c[0], c[1], c[2]);
      return cv::Scalar(v.cb, v.cr);
    });
  }
  if (noise > 0) {
    cv::RNG rng(in.byte());
    for (std::size_t p = 0; p < buffer->planeCount(); ++p) {
      std::uint8_t* base = buffer->mutablePlaneBase(p);
      const std::size_t rowBytes = buffer->widthOfPlane(p) * (bgra ? 4 : p == 0 ? 1 : 2);
      for (std::size_t y = 0; y < buffer->heightOfPlane(p); ++y)
        for (std::size_t x = 0; x < rowBytes; ++x) {
          auto& v = base[y * buffer->bytesPerRowOfPlane(p) + x];
          v = std::uint8_t(std::clamp(int(v) + int(rng.uniform(-noise, noise + 1)), 0, 255));
        }
    }
  }
}

// Fills every plane, padding included, with the input's remaining bytes over and over.
void fillRaw(const CVPixelBufferRef& buffer, const Bytes& in) {
  const std::uint8_t* src = in.rest();
  const std::size_t n = in.restSize();
  std::size_t k = 0;
  for (std::size_t p = 0; p < buffer->planeCount(); ++p) {
    std::uint8_t* base = buffer->mutablePlaneBase(p);
    const std::size_t bytes = buffer->bytesPerRowOfPlane(p) * buffer->heightOfPlane(p);
    for (std::size_t i = 0; i < bytes; ++i, ++k) base[i] = n == 0 ? std::uint8_t(k * 37) : src[k % n];
  }
}

void setLimits(vision::VNDetectRectanglesRequest& r, bool captureScreen, Bytes& in) {
  if (captureScreen) {
    r.maximumObservations = 1;
    r.minimumSize = 0.1f;
    r.minimumConfidence = 0.6f;
    r.minimumAspectRatio = 0.2f;
    r.quadratureTolerance = 30;
    r.regionOfInterest = vision::CGRect::make(0.075, 0.075, 0.85, 0.85);
    return;
  }
  r.maximumObservations = in.byte() % 5;
  r.minimumSize = float(in.unit());
  r.minimumConfidence = float(in.unit());
  r.minimumAspectRatio = float(in.unit());
  r.maximumAspectRatio = std::max(r.minimumAspectRatio, float(in.unit()));
  r.quadratureTolerance = float(in.unit() * 45);
  // Any region, also one past the image or of negative size.
  r.regionOfInterest = vision::CGRect::make(in.unit() * 1.2 - 0.1, in.unit() * 1.2 - 0.1,
                                            in.unit() * 1.2 - 0.1, in.unit() * 1.2 - 0.1);
}

void check(const vision::VNRectangleObservation& o) {
  constexpr double kSlack = 1e-9;  // the box's far side is a sum
  const vision::CGPoint corners[] = {o.topLeft, o.topRight, o.bottomRight, o.bottomLeft};
  const auto& box = o.boundingBox;
  if (!(box.origin.x >= 0)) fail("box x below 0", box.origin.x);
  if (!(box.origin.y >= 0)) fail("box y below 0", box.origin.y);
  if (!(box.size.width >= 0) || !(box.origin.x + box.size.width <= 1 + kSlack))
    fail("box past x 1", box.size.width);
  if (!(box.size.height >= 0) || !(box.origin.y + box.size.height <= 1 + kSlack))
    fail("box past y 1", box.size.height);
  for (const auto& c : corners) {
    if (!(c.x >= 0 && c.x <= 1)) fail("corner x outside 0..1", c.x);
    if (!(c.y >= 0 && c.y <= 1)) fail("corner y outside 0..1", c.y);
    if (!(c.x >= box.origin.x - kSlack && c.x <= box.origin.x + box.size.width + kSlack))
      fail("corner x outside the box", c.x);
    if (!(c.y >= box.origin.y - kSlack && c.y <= box.origin.y + box.size.height + kSlack))
      fail("corner y outside the box", c.y);
  }
  if (!(o.confidence >= 0 && o.confidence <= 1)) fail("confidence outside 0..1", o.confidence);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes in(data, size);
  const std::uint8_t flags = in.byte();
  static constexpr corevideo::OSType kFormats[] = {corevideo::kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange,
                                                   corevideo::kCVPixelFormatType_420YpCbCr8BiPlanarFullRange,
                                                   corevideo::kCVPixelFormatType_32BGRA};
  const corevideo::OSType format = kFormats[(flags & 3) % 3];
  const bool raw = (flags & 4) != 0;
  const bool captureScreen = (flags & 8) != 0;
  const auto orientation = static_cast<CGImagePropertyOrientation>(1 + (flags >> 4) % 8);
  // Small frames keep each run quick; the shapes, not the pixel count, find the faults.
  const int width = in.in(1, 480), height = in.in(1, 480);
  const CVPixelBufferRef buffer = CVPixelBuffer::create(std::size_t(width), std::size_t(height), format);
  vision::VNDetectRectanglesRequest request;
  setLimits(request, captureScreen, in);
  if (raw) {
    fillRaw(buffer, in);
  } else {
    drawScene(buffer, in);
  }
  vision::VNImageRequestHandler handler(buffer, orientation);
  vision::VNError error;
  if (!handler.perform({&request}, &error)) return 0;  // a clean refusal is a correct outcome
  if (request.maximumObservations > 0 && request.results().size() > request.maximumObservations) {
    fail("more observations than asked", double(request.results().size()));
  }
  for (const auto& o : request.results()) check(o);
  return 0;
}

#include "vision/Frame.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <opencv2/imgproc.hpp>
#include <type_traits>

namespace vision::detail {

using quartz::CGImagePropertyOrientation;

namespace {

bool swapsAxes(CGImagePropertyOrientation o) {
  auto v = static_cast<std::uint32_t>(o);
  return v >= 5 && v <= 8;
}

VNError invalid(std::string text) { return VNError{VNError::Code::invalidImage, std::move(text)}; }

}  // namespace

cv::Mat orient(const cv::Mat& src, CGImagePropertyOrientation o) {
  cv::Mat dst;
  switch (o) {
    case CGImagePropertyOrientation::up:
      return src;
    case CGImagePropertyOrientation::upMirrored:
      cv::flip(src, dst, 1);
      break;
    case CGImagePropertyOrientation::down:
      cv::rotate(src, dst, cv::ROTATE_180);
      break;
    case CGImagePropertyOrientation::downMirrored:
      cv::flip(src, dst, 0);
      break;
    case CGImagePropertyOrientation::leftMirrored:
      cv::transpose(src, dst);
      break;
    case CGImagePropertyOrientation::right:
      cv::rotate(src, dst, cv::ROTATE_90_CLOCKWISE);
      break;
    case CGImagePropertyOrientation::rightMirrored: {
      cv::Mat t;
      cv::transpose(src, t);
      cv::flip(t, dst, -1);
      break;
    }
    case CGImagePropertyOrientation::left:
      cv::rotate(src, dst, cv::ROTATE_90_COUNTERCLOCKWISE);
      break;
  }
  return dst;
}

Frame::Frame(corevideo::CVPixelBufferRef buffer, CGImagePropertyOrientation orientation) {
  setOrientation(orientation);
  if (!problem_ && !buffer) problem_ = invalid("no pixel buffer");
  if (problem_) return;
  const auto fmt = buffer->pixelFormatType();
  const int w = static_cast<int>(buffer->width()), h = static_cast<int>(buffer->height());
  if (w <= 0 || h <= 0 || buffer->planeCount() < 1) {
    problem_ = invalid("empty pixel buffer");
    return;
  }
  const auto& p0 = buffer->plane(0);
  if (fmt == corevideo::kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange ||
      fmt == corevideo::kCVPixelFormatType_420YpCbCr8BiPlanarFullRange) {
    if (!p0.base || p0.width < std::size_t(w) || p0.height < std::size_t(h) ||
        p0.bytesPerRow < std::size_t(w)) {
      problem_ = invalid("NV12 pixel buffer without a usable luma plane");
      return;
    }
    rawView_ = cv::Mat(h, w, CV_8UC1, const_cast<std::uint8_t*>(p0.base), p0.bytesPerRow);
    if (buffer->planeCount() >= 2) {
      const auto& p1 = buffer->plane(1);
      const int cw = w / 2, ch = h / 2;
      if (p1.base && cw > 0 && ch > 0 && p1.width >= std::size_t(cw) && p1.height >= std::size_t(ch) &&
          p1.bytesPerRow >= std::size_t(cw) * 2)
        chromaView_ = cv::Mat(ch, cw, CV_8UC2, const_cast<std::uint8_t*>(p1.base), p1.bytesPerRow);
    }
  } else if (fmt == corevideo::kCVPixelFormatType_32BGRA) {
    if (!p0.base || p0.bytesPerRow < std::size_t(w) * 4 || p0.height < std::size_t(h)) {
      problem_ = invalid("BGRA pixel buffer without usable pixels");
      return;
    }
    rawView_ = cv::Mat(h, w, CV_8UC4, const_cast<std::uint8_t*>(p0.base), p0.bytesPerRow);
    rawCode_ = cv::COLOR_BGRA2GRAY;
  } else {
    problem_ = invalid("unsupported pixel format");
    return;
  }
  keepAlive_ = buffer;
  rawSize_ = {w, h};
  orientedSize_ = swapsAxes(orientation_) ? cv::Size(h, w) : cv::Size(w, h);
}

Frame::Frame(quartz::CGImageRef image, CGImagePropertyOrientation orientation) {
  setOrientation(orientation);
  if (!problem_ && !image) problem_ = invalid("no image");
  if (problem_) return;
  const int w = static_cast<int>(image->width()), h = static_cast<int>(image->height());
  if (w <= 0 || h <= 0 || !image->data()) {
    problem_ = invalid("empty image");
    return;
  }
  auto* data = const_cast<std::uint8_t*>(image->data());
  switch (image->pixelFormat()) {
    case quartz::CGImagePixelFormat::gray8:
      if (image->bytesPerRow() < std::size_t(w)) break;
      rawView_ = cv::Mat(h, w, CV_8UC1, data, image->bytesPerRow());
      break;
    case quartz::CGImagePixelFormat::bgra8:
    case quartz::CGImagePixelFormat::rgba8:
      if (image->bytesPerRow() < std::size_t(w) * 4) break;
      rawView_ = cv::Mat(h, w, CV_8UC4, data, image->bytesPerRow());
      rawCode_ = image->pixelFormat() == quartz::CGImagePixelFormat::bgra8 ? cv::COLOR_BGRA2GRAY
                                                                           : cv::COLOR_RGBA2GRAY;
      break;
  }
  if (rawView_.empty()) {
    problem_ = invalid("image rows shorter than its width");
    return;
  }
  keepAlive_ = image;
  rawSize_ = {w, h};
  orientedSize_ = swapsAxes(orientation_) ? cv::Size(h, w) : cv::Size(w, h);
}

void Frame::setOrientation(CGImagePropertyOrientation o) {
  auto v = static_cast<std::uint32_t>(o);
  if (v < 1 || v > 8) {
    problem_ = VNError{VNError::Code::invalidArgument, "invalid image orientation " + std::to_string(v)};
    return;
  }
  orientation_ = o;
}

const cv::Mat& Frame::rawGrey() {
  if (rawGrey_.empty()) {
    if (rawCode_ < 0)
      rawGrey_ = rawView_;
    else
      cv::cvtColor(rawView_, rawGrey_, rawCode_);
  }
  return rawGrey_;
}

const cv::Mat& Frame::rawChroma() {
  if (!chromaDone_) {
    chromaDone_ = true;
    if (!chromaView_.empty()) {
      rawChroma_ = chromaView_;
    } else if (rawCode_ >= 0 && rawSize_.width >= 2 && rawSize_.height >= 2) {
      cv::Mat half, bgr, ycc;
      cv::resize(rawView_, half, {rawSize_.width / 2, rawSize_.height / 2}, 0, 0, cv::INTER_AREA);
      cv::cvtColor(half, bgr, rawCode_ == cv::COLOR_RGBA2GRAY ? cv::COLOR_RGBA2BGR : cv::COLOR_BGRA2BGR);
      cv::cvtColor(bgr, ycc, cv::COLOR_BGR2YCrCb);
      // Same order as an NV12 chroma plane: Cb, then Cr.
      rawChroma_.create(ycc.size(), CV_8UC2);
      const int from[] = {2, 0, 1, 1};
      cv::mixChannels(&ycc, 1, &rawChroma_, 1, from, 2);
    }
  }
  return rawChroma_;
}

bool Frame::hasChroma() { return !rawChroma().empty(); }

const Frame::Sampler& Frame::sampler() {
  if (!sampler_) {
    Sampler s;
    using O = CGImagePropertyOrientation;
    const O o = orientation_;
    // Oriented -> raw as orientedToRaw maps it: the axes maybe swapped, then each maybe flipped.
    s.swap_ = swapsAxes(o);
    s.flipX_ = o == O::upMirrored || o == O::down || o == O::rightMirrored || o == O::left;
    s.flipY_ = o == O::down || o == O::downMirrored || o == O::right || o == O::rightMirrored;
    s.w_ = float(rawSize_.width), s.h_ = float(rawSize_.height);
    const cv::Mat& g = rawGrey();
    s.grey_ = g.ptr<std::uint8_t>(), s.greyStep_ = g.step[0], s.greyCols_ = g.cols, s.greyRows_ = g.rows;
    const cv::Mat& c = rawChroma();
    if (!c.empty())
      s.chroma_ = c.ptr<std::uint8_t>(), s.chromaStep_ = c.step[0], s.chromaCols_ = c.cols,
      s.chromaRows_ = c.rows;
    sampler_ = s;
  }
  return *sampler_;
}

VISION_AVX2_CLONES void Frame::Sampler::profile(cv::Point2f p, cv::Point2f n, int count, int half,
                                                bool colour, cv::Vec3f* out) const {
  // The same operations as grey() and colour(), lane by lane; only the loads are one at a time.
  using F4 = float __attribute__((vector_size(16)));
  using I4 = int __attribute__((vector_size(16)));
  struct Plane {
    const std::uint8_t* data;
    std::size_t step;
    int cols, rows;
  };
  // Bilinear values of the `Channels` channels of a plane at raw positions (x, y) scaled to it.
  const auto bilinear = [](const Plane& pl, F4 x, F4 y, auto channels, F4* values) {
    constexpr int kChannels = decltype(channels)::value;
    const F4 zero = {0, 0, 0, 0}, maxX = zero + float(pl.cols - 1), maxY = zero + float(pl.rows - 1);
    x -= 0.5f, y -= 0.5f;
    x = x < zero ? zero : (maxX < x ? maxX : x);
    y = y < zero ? zero : (maxY < y ? maxY : y);
    const I4 none = {0, 0, 0, 0}, lastX0 = none + std::max(0, pl.cols - 2),
             lastY0 = none + std::max(0, pl.rows - 2);
    I4 x0 = __builtin_convertvector(x, I4), y0 = __builtin_convertvector(y, I4);
    x0 = lastX0 < x0 ? lastX0 : x0, y0 = lastY0 < y0 ? lastY0 : y0;
    const I4 lastX = none + (pl.cols - 1), lastY = none + (pl.rows - 1);
    const I4 x1 = lastX < x0 + 1 ? lastX : x0 + 1, y1 = lastY < y0 + 1 ? lastY : y0 + 1;
    const F4 fx = x - __builtin_convertvector(x0, F4), fy = y - __builtin_convertvector(y0, F4);
    float a[kChannels][4], b[kChannels][4], c[kChannels][4], d[kChannels][4];
    for (int j = 0; j < 4; ++j) {
      const std::uint8_t* r0 = pl.data + std::size_t(y0[j]) * pl.step;
      const std::uint8_t* r1 = pl.data + std::size_t(y1[j]) * pl.step;
      const int l = x0[j] * kChannels, r = x1[j] * kChannels;
      for (int k = 0; k < kChannels; ++k)
        a[k][j] = r0[l + k], b[k][j] = r0[r + k], c[k][j] = r1[l + k], d[k][j] = r1[r + k];
    }
    const auto vec = [](const float(&v)[4]) { return F4{v[0], v[1], v[2], v[3]}; };
    for (int k = 0; k < kChannels; ++k)
      values[k] =
          (vec(a[k]) * (1 - fx) + vec(b[k]) * fx) * (1 - fy) + (vec(c[k]) * (1 - fx) + vec(d[k]) * fx) * fy;
  };
  const Plane greyPlane{grey_, greyStep_, greyCols_, greyRows_};
  const Plane chromaPlane{chroma_, chromaStep_, chromaCols_, chromaRows_};
  const bool withChroma = colour && chroma_;
  GreyProfile* memo = nullptr;
  bool known = false;
  if (count <= int(std::size(GreyProfile{}.values))) {
    std::array<std::uint32_t, 6> key;
    std::memcpy(&key[0], &p, sizeof p), std::memcpy(&key[2], &n, sizeof n);
    key[4] = std::uint32_t(count), key[5] = std::uint32_t(half);
    std::uint32_t hash = 0;
    for (const std::uint32_t k : key) hash = (hash ^ k) * 0x9E3779B1u;
    if (greyProfiles_.empty()) greyProfiles_.resize(128);
    memo = &greyProfiles_[hash >> 25];
    known = withChroma && memo->used && memo->key == key;
    if (!colour) memo->key = key, memo->used = true;
  }
  int i = 0;
  for (; i + 4 <= count; i += 4) {
    const F4 k = {float(i - half), float(i + 1 - half), float(i + 2 - half), float(i + 3 - half)};
    const F4 qx = p.x + n.x * k, qy = p.y + n.y * k;
    const F4 u = swap_ ? qy : qx, v = swap_ ? qx : qy;
    const F4 rx = flipX_ ? w_ - u : u, ry = flipY_ ? h_ - v : v;
    F4 g[1], c[2] = {{128, 128, 128, 128}, {128, 128, 128, 128}};
    if (known)
      g[0] = F4{memo->values[i], memo->values[i + 1], memo->values[i + 2], memo->values[i + 3]};
    else
      bilinear(greyPlane, rx, ry, std::integral_constant<int, 1>(), g);
    if (withChroma) bilinear(chromaPlane, rx * 0.5f, ry * 0.5f, std::integral_constant<int, 2>(), c);
    for (int j = 0; j < 4; ++j) out[i + j] = cv::Vec3f(g[0][j], c[0][j], c[1][j]);
  }
  for (; i < count; ++i) {
    const cv::Point2f q = p + n * float(i - half);
    out[i] = colour ? this->colour(q) : cv::Vec3f(grey(q), 128.f, 128.f);
  }
  if (memo && !colour)
    for (int j = 0; j < count; ++j) memo->values[j] = out[j][0];
}

cv::Point2f Frame::rawToOriented(cv::Point2f p) const {
  const float W = float(rawSize_.width), H = float(rawSize_.height);
  switch (orientation_) {
    case CGImagePropertyOrientation::up:
      return p;
    case CGImagePropertyOrientation::upMirrored:
      return {W - p.x, p.y};
    case CGImagePropertyOrientation::down:
      return {W - p.x, H - p.y};
    case CGImagePropertyOrientation::downMirrored:
      return {p.x, H - p.y};
    case CGImagePropertyOrientation::leftMirrored:
      return {p.y, p.x};
    case CGImagePropertyOrientation::right:
      return {H - p.y, p.x};
    case CGImagePropertyOrientation::rightMirrored:
      return {H - p.y, W - p.x};
    case CGImagePropertyOrientation::left:
      return {p.y, W - p.x};
  }
  return p;
}

cv::Point2f Frame::orientedToRaw(cv::Point2f p) const {
  const float W = float(rawSize_.width), H = float(rawSize_.height);
  switch (orientation_) {
    case CGImagePropertyOrientation::up:
      return p;
    case CGImagePropertyOrientation::upMirrored:
      return {W - p.x, p.y};
    case CGImagePropertyOrientation::down:
      return {W - p.x, H - p.y};
    case CGImagePropertyOrientation::downMirrored:
      return {p.x, H - p.y};
    case CGImagePropertyOrientation::leftMirrored:
      return {p.y, p.x};
    case CGImagePropertyOrientation::right:
      return {p.y, H - p.x};
    case CGImagePropertyOrientation::rightMirrored:
      return {W - p.y, H - p.x};
    case CGImagePropertyOrientation::left:
      return {W - p.y, p.x};
  }
  return p;
}

Frame::Crop Frame::orientedCrop(const cv::Rect2f& rect, double scale, bool quickShrink, bool withChroma) {
  Crop crop;
  const cv::Rect2f bounds(0, 0, float(orientedSize_.width), float(orientedSize_.height));
  const cv::Rect2f r = rect & bounds;
  if (r.width <= 0 || r.height <= 0) return crop;
  const cv::Point2f a = orientedToRaw(r.tl()), b = orientedToRaw(r.br());
  int x0 = std::max(0, int(std::floor(std::min(a.x, b.x)))),
      y0 = std::max(0, int(std::floor(std::min(a.y, b.y))));
  int x1 = std::min(rawSize_.width, int(std::ceil(std::max(a.x, b.x))));
  int y1 = std::min(rawSize_.height, int(std::ceil(std::max(a.y, b.y))));
  if (x1 <= x0 || y1 <= y0) return crop;
  // Halvings first: OpenCV averages 2 x 2 blocks in about 0.1 ms a frame, whereas a fractional area
  // resize of a full frame costs several milliseconds. The last raw rows and columns that do not
  // fill a block are left out (the covered rectangle below says so).
  int k = 1;
  while (quickShrink && scale > 0 && k * 2 * scale <= 1) k *= 2;
  if (k >= 2 && (x1 - x0) >= 2 * k && (y1 - y0) >= 2 * k) {
    x1 = x0 + (x1 - x0) / k * k;
    y1 = y0 + (y1 - y0) / k * k;
  }
  cv::Mat part = rawGrey()(cv::Rect(x0, y0, x1 - x0, y1 - y0));
  cv::Mat resized;
  const int rw = std::max(1, int(std::lround((x1 - x0) * scale))),
            rh = std::max(1, int(std::lround((y1 - y0) * scale)));
  if (rw == part.cols && rh == part.rows) {
    resized = part;
  } else if (k >= 2 && part.cols >= 2 * k && part.rows >= 2 * k) {
    cv::Mat blocks = part;
    for (int f = 1; f < k; f *= 2) {
      cv::Mat half;  // never written over `part`, a view of the caller's pixels
      cv::resize(blocks, half, {blocks.cols / 2, blocks.rows / 2}, 0, 0, cv::INTER_AREA);
      blocks = half;
    }
    if (blocks.cols == rw && blocks.rows == rh)
      resized = blocks;
    else
      cv::resize(blocks, resized, {rw, rh}, 0, 0, cv::INTER_LINEAR);
  } else {
    cv::resize(part, resized, {rw, rh}, 0, 0, scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
  }
  crop.image = orient(resized, orientation_);
  if (withChroma && !rawChroma().empty()) {
    // The same raw rectangle at half resolution, resized to the grey crop's raw size.
    const cv::Mat& c = rawChroma();
    const cv::Rect half = cv::Rect(x0 / 2, y0 / 2, std::max(1, (x1 - x0) / 2), std::max(1, (y1 - y0) / 2)) &
                          cv::Rect(0, 0, c.cols, c.rows);
    if (half.area() > 0) {
      cv::Mat small;
      // Chroma is smooth already: a linear resize is enough, and far cheaper than an area one.
      cv::resize(c(half), small, resized.size(), 0, 0, cv::INTER_LINEAR);
      crop.chroma = orient(small, orientation_);
    }
  }
  const cv::Point2f c = rawToOriented({float(x0), float(y0)}), d = rawToOriented({float(x1), float(y1)});
  crop.rect = cv::Rect2f(std::min(c.x, d.x), std::min(c.y, d.y), std::abs(d.x - c.x), std::abs(d.y - c.y));
  crop.sx = crop.image.cols / double(crop.rect.width);
  crop.sy = crop.image.rows / double(crop.rect.height);
  return crop;
}

cv::Rect2f Frame::roiToOriented(const CGRect& roi) const {
  // Standardise (negative sizes) and clip to the unit square by hand: only plain fields are read.
  double x0 = roi.origin.x, x1 = roi.origin.x + roi.size.width;
  double y0 = roi.origin.y, y1 = roi.origin.y + roi.size.height;
  if (x1 < x0) std::swap(x0, x1);
  if (y1 < y0) std::swap(y0, y1);
  x0 = std::max(0.0, x0), y0 = std::max(0.0, y0), x1 = std::min(1.0, x1), y1 = std::min(1.0, y1);
  if (!(x1 > x0) || !(y1 > y0)) return {};
  const double W = orientedSize_.width, H = orientedSize_.height;
  return cv::Rect2f(float(x0 * W), float((1 - y1) * H), float((x1 - x0) * W), float((y1 - y0) * H));
}

CGPoint Frame::normalised(cv::Point2f p) const {
  return {double(p.x) / orientedSize_.width, 1.0 - double(p.y) / orientedSize_.height};
}

CGRect Frame::normalisedRect(const cv::Rect2f& r) const {
  const double W = orientedSize_.width, H = orientedSize_.height;
  return CGRect::make(r.x / W, 1.0 - (double(r.y) + r.height) / H, r.width / W, r.height / H);
}

void keepInImage(VNRectangleObservation& o) {
  CGPoint* corners[] = {&o.topLeft, &o.topRight, &o.bottomRight, &o.bottomLeft};
  double minX = 1, minY = 1, maxX = 0, maxY = 0;
  for (CGPoint* c : corners) {
    c->x = std::isfinite(c->x) ? std::clamp(c->x, 0.0, 1.0) : 0.0;
    c->y = std::isfinite(c->y) ? std::clamp(c->y, 0.0, 1.0) : 0.0;
    minX = std::min(minX, c->x), maxX = std::max(maxX, c->x);
    minY = std::min(minY, c->y), maxY = std::max(maxY, c->y);
  }
  o.boundingBox = CGRect::make(minX, minY, maxX - minX, maxY - minY);
  o.confidence = std::isfinite(o.confidence) ? std::clamp(o.confidence, 0.0f, 1.0f) : 0.0f;
}

}  // namespace vision::detail

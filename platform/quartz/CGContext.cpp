#include <morvik/platform/quartz/CGContext.h>

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "quartz/CGImageOpenCV.h"
#include "quartz/PathFlattening.h"

namespace quartz {

namespace {

std::uint8_t to8(double v) {
  return static_cast<std::uint8_t>(
      std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

// Snaps coefficients that differ from an integer only by rounding noise
// (cos(pi/2) and friends), so quarter turns and flips sample pixels exactly.
double snap(double v) {
  const double r = std::round(v);
  return std::abs(v - r) < 1e-9 ? r : v;
}

} // namespace

CGContext::CGContext(std::size_t pixelWidth, std::size_t pixelHeight,
                     CGFloat scale, bool opaque)
    : width_(pixelWidth), height_(pixelHeight), scale_(scale > 0 ? scale : 1),
      opaque_(opaque) {
  pixels_.assign(width_ * height_ * 4, 0);
  if (opaque_)
    for (std::size_t i = 3; i < pixels_.size(); i += 4)
      pixels_[i] = 255;
  state_.ctm = CGAffineTransform::makeScale(scale_, scale_);
}

CGContext::~CGContext() = default;

void CGContext::translateBy(CGFloat x, CGFloat y) {
  state_.ctm =
      CGAffineTransform::makeTranslation(x, y).concatenating(state_.ctm);
}
void CGContext::scaleBy(CGFloat x, CGFloat y) {
  state_.ctm = CGAffineTransform::makeScale(x, y).concatenating(state_.ctm);
}
void CGContext::rotate(CGFloat by) {
  state_.ctm = CGAffineTransform::makeRotation(by).concatenating(state_.ctm);
}
void CGContext::concatenate(const CGAffineTransform &transform) {
  state_.ctm = transform.concatenating(state_.ctm);
}
void CGContext::saveGState() { stack_.push_back(state_); }
void CGContext::restoreGState() {
  if (stack_.empty())
    return;
  state_ = stack_.back();
  stack_.pop_back();
}

void CGContext::setFillColor(const CGColor &color) { state_.fill = color; }
void CGContext::setAlpha(CGFloat alpha) {
  state_.alpha = std::isnan(alpha) ? 0 : std::clamp<CGFloat>(alpha, 0, 1);
}

void CGContext::fill(const CGRect &rect) {
  if (rect.isNull())
    return;
  fillPath(CGPath::makeRect(rect));
}

void CGContext::fillPath(const CGPath &path, CGPathFillRule rule) {
  if (width_ == 0 || height_ == 0 || path.isEmpty())
    return;
  const auto polys = flattenPath(path, state_.ctm, 24);
  const double a = std::clamp(state_.fill.alpha * state_.alpha, 0.0, 1.0);
  if (a <= 0)
    return;
  // Premultiplied source colour.
  const double sb = state_.fill.blue * a, sg = state_.fill.green * a,
               sr = state_.fill.red * a;
  // Scanline fill sampling pixel centres: crossings of each row's centre line.
  struct Cross {
    double x;
    int dir;
  };
  std::vector<Cross> xs;
  for (std::size_t row = 0; row < height_; ++row) {
    const double y = static_cast<double>(row) + 0.5;
    xs.clear();
    for (const auto &poly : polys) {
      const std::size_t n = poly.size();
      if (n < 2)
        continue;
      for (std::size_t i = 0; i < n; ++i) {
        const CGPoint p = poly[i], q = poly[(i + 1) % n];
        if ((p.y <= y) == (q.y <= y))
          continue;
        xs.push_back(
            {p.x + (y - p.y) * (q.x - p.x) / (q.y - p.y), q.y > p.y ? 1 : -1});
      }
    }
    if (xs.empty())
      continue;
    std::sort(xs.begin(), xs.end(),
              [](const Cross &l, const Cross &r) { return l.x < r.x; });
    int winding = 0;
    std::uint8_t *line = pixels_.data() + row * bytesPerRow();
    for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
      winding += rule == CGPathFillRule::evenOdd ? 1 : xs[i].dir;
      const bool inside =
          rule == CGPathFillRule::evenOdd ? (winding % 2) != 0 : winding != 0;
      if (!inside)
        continue;
      // Pixels whose centre lies in [x_i, x_{i+1}).
      const double from = std::max(0.0, std::ceil(xs[i].x - 0.5));
      const double to =
          std::min(static_cast<double>(width_), std::ceil(xs[i + 1].x - 0.5));
      for (auto col = static_cast<std::size_t>(from);
           static_cast<double>(col) < to; ++col) {
        std::uint8_t *px = line + col * 4;
        const double keep = 1 - a;
        px[0] = to8(sb + px[0] / 255.0 * keep);
        px[1] = to8(sg + px[1] / 255.0 * keep);
        px[2] = to8(sr + px[2] / 255.0 * keep);
        px[3] = opaque_ ? 255 : to8(a + px[3] / 255.0 * keep);
      }
    }
  }
}

void CGContext::draw(const CGImage &image, const CGRect &in) {
  if (width_ == 0 || height_ == 0 || image.width() == 0 ||
      image.height() == 0 || in.isEmpty())
    return;
  const CGRect r = in.standardized();
  // Image pixel space -> user space -> device pixels.
  const CGAffineTransform toUser =
      CGAffineTransform::makeScale(r.width() / double(image.width()),
                                   r.height() / double(image.height()))
          .concatenating(
              CGAffineTransform::makeTranslation(r.minX(), r.minY()));
  CGAffineTransform m = toUser.concatenating(state_.ctm);
  m = {snap(m.a), snap(m.b), snap(m.c), snap(m.d), snap(m.tx), snap(m.ty)};

  // Destination area touched, clipped to the bitmap.
  const CGRect deviceRect =
      CGRect::make(0, 0, double(image.width()), double(image.height()))
          .applying(m)
          .intersection(CGRect::make(0, 0, double(width_), double(height_)));
  if (deviceRect.isEmpty())
    return;
  const int x0 = static_cast<int>(std::floor(deviceRect.minX() + 1e-9));
  const int y0 = static_cast<int>(std::floor(deviceRect.minY() + 1e-9));
  const int x1 = static_cast<int>(std::ceil(deviceRect.maxX() - 1e-9));
  const int y1 = static_cast<int>(std::ceil(deviceRect.maxY() - 1e-9));
  if (x1 <= x0 || y1 <= y0)
    return;

  // Inverse map from a destination pixel (OpenCV puts pixel centres on
  // integers; ours sit at +0.5) to a source pixel.
  const CGAffineTransform inv = m.inverted();
  const CGAffineTransform dstToSrc =
      CGAffineTransform::makeTranslation(x0 + 0.5, y0 + 0.5)
          .concatenating(inv)
          .concatenating(CGAffineTransform::makeTranslation(-0.5, -0.5));
  const cv::Matx23d M(dstToSrc.a, dstToSrc.c, dstToSrc.tx, dstToSrc.b,
                      dstToSrc.d, dstToSrc.ty);
  // Quarter turns, flips and whole-pixel moves land on pixel centres: no
  // filtering.
  const bool exact = std::abs(m.a) + std::abs(m.b) == 1 &&
                     std::abs(m.c) + std::abs(m.d) == 1 &&
                     (m.a == 0 || m.b == 0) && m.tx == std::round(m.tx) &&
                     m.ty == std::round(m.ty);

  // Colours sample with the edges extended (a scaled image keeps solid
  // edges); coverage is decided separately: a destination pixel is drawn when
  // its centre falls inside the image's area.
  // Premultiplied BGRA already is what we blend: view it instead of copying.
  const cv::Mat src = image.pixelFormat() == CGImagePixelFormat::bgra8
                          ? cvbridge::matView(image)
                          : cvbridge::toPremultipliedBGRA(image);
  const cv::Size area(x1 - x0, y1 - y0);
  cv::Mat warped, covered;
  cv::warpAffine(src, warped, M, area,
                 (exact ? cv::INTER_NEAREST : cv::INTER_LINEAR) |
                     cv::WARP_INVERSE_MAP,
                 cv::BORDER_REPLICATE);
  // An exact mapping has whole-pixel corners, so every pixel of the area is
  // covered.
  if (!exact)
    cv::warpAffine(cv::Mat(src.size(), CV_8UC1, cv::Scalar(255)), covered, M,
                   area, cv::INTER_NEAREST | cv::WARP_INVERSE_MAP,
                   cv::BORDER_CONSTANT, cv::Scalar(0));

  const double ga = state_.alpha;
  for (int y = 0; y < warped.rows; ++y) {
    const std::uint8_t *s = warped.ptr<std::uint8_t>(y);
    const std::uint8_t *cover = exact ? nullptr : covered.ptr<std::uint8_t>(y);
    std::uint8_t *d = pixels_.data() +
                      static_cast<std::size_t>(y0 + y) * bytesPerRow() +
                      static_cast<std::size_t>(x0) * 4;
    for (int x = 0; x < warped.cols; ++x, s += 4, d += 4) {
      if (cover && !cover[x])
        continue;
      if (ga == 1 && s[3] == 255) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 255;
        continue;
      }
      const double sa = s[3] / 255.0 * ga;
      if (sa <= 0)
        continue;
      const double keep = 1 - sa;
      for (int c = 0; c < 3; ++c)
        d[c] = to8(s[c] / 255.0 * ga + d[c] / 255.0 * keep);
      d[3] = opaque_ ? 255 : to8(sa + d[3] / 255.0 * keep);
    }
  }
}

CGImageRef CGContext::makeImage() const {
  if (width_ == 0 || height_ == 0)
    return nullptr;
  auto image = CGImage::make(width_, height_, CGImagePixelFormat::bgra8);
  std::copy(pixels_.begin(), pixels_.end(), image->mutableData());
  return image;
}

const std::uint8_t *CGContext::data() const { return pixels_.data(); }

} // namespace quartz

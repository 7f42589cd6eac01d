#include <morvik/platform/uikit/UIGraphics.h>
#include <morvik/platform/uikit/UIImage.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <iterator>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "quartz/CGImageOpenCV.h"
#include "quartz/ImageCodec.h"

namespace uikit {

namespace codec = quartz::codec;
using quartz::CGAffineTransform;
using quartz::CGFloat;
using quartz::CGImage;
using quartz::CGImagePixelFormat;
using quartz::CGImagePropertyOrientation;
using quartz::CGImageRef;
using quartz::CGRect;
using quartz::CGSize;
namespace cvb = quartz::cvbridge;

quartz::CGImagePropertyOrientation cgOrientation(UIImage::Orientation o) {
  switch (o) {
    case UIImage::Orientation::up:
      return CGImagePropertyOrientation::up;
    case UIImage::Orientation::down:
      return CGImagePropertyOrientation::down;
    case UIImage::Orientation::left:
      return CGImagePropertyOrientation::left;
    case UIImage::Orientation::right:
      return CGImagePropertyOrientation::right;
    case UIImage::Orientation::upMirrored:
      return CGImagePropertyOrientation::upMirrored;
    case UIImage::Orientation::downMirrored:
      return CGImagePropertyOrientation::downMirrored;
    case UIImage::Orientation::leftMirrored:
      return CGImagePropertyOrientation::leftMirrored;
    case UIImage::Orientation::rightMirrored:
      return CGImagePropertyOrientation::rightMirrored;
  }
  return CGImagePropertyOrientation::up;
}

UIImage::Orientation uiOrientation(quartz::CGImagePropertyOrientation o) {
  switch (o) {
    case CGImagePropertyOrientation::up:
      return UIImage::Orientation::up;
    case CGImagePropertyOrientation::upMirrored:
      return UIImage::Orientation::upMirrored;
    case CGImagePropertyOrientation::down:
      return UIImage::Orientation::down;
    case CGImagePropertyOrientation::downMirrored:
      return UIImage::Orientation::downMirrored;
    case CGImagePropertyOrientation::leftMirrored:
      return UIImage::Orientation::leftMirrored;
    case CGImagePropertyOrientation::right:
      return UIImage::Orientation::right;
    case CGImagePropertyOrientation::rightMirrored:
      return UIImage::Orientation::rightMirrored;
    case CGImagePropertyOrientation::left:
      return UIImage::Orientation::left;
  }
  return UIImage::Orientation::up;
}

namespace {

bool swapsAxes(UIImage::Orientation o) {
  using O = UIImage::Orientation;
  return o == O::left || o == O::right || o == O::leftMirrored || o == O::rightMirrored;
}

// Stored pixel (u, v) to displayed pixel for an image w x h pixels.
CGAffineTransform orientationTransform(UIImage::Orientation o, double w, double h) {
  using O = UIImage::Orientation;
  switch (o) {
    case O::up:
      return {};
    case O::down:
      return {-1, 0, 0, -1, w, h};
    case O::left:
      return {0, -1, 1, 0, 0, w};
    case O::right:
      return {0, 1, -1, 0, h, 0};
    case O::upMirrored:
      return {-1, 0, 0, 1, w, 0};
    case O::downMirrored:
      return {1, 0, 0, -1, 0, h};
    case O::leftMirrored:
      return {0, 1, 1, 0, 0, 0};
    case O::rightMirrored:
      return {0, -1, -1, 0, h, w};
  }
  return {};
}

// A Mat decoded by OpenCV (any depth, 1, 3 or 4 channels) as a CGImage:
// gray stays gray, colour becomes premultiplied BGRA.
CGImageRef imageFromDecoded(cv::Mat m) {
  if (m.empty()) return nullptr;
  if (m.depth() == CV_16U) m.convertTo(m, CV_8U, 1.0 / 257.0);
  if (m.depth() != CV_8U) return nullptr;
  cv::Mat out;
  switch (m.channels()) {
    case 1:
      return cvb::imageFromMat(m.isContinuous() ? m : m.clone(), CGImagePixelFormat::gray8);
    case 3:
      cv::cvtColor(m, out, cv::COLOR_BGR2BGRA);
      break;
    case 4:
      cv::cvtColor(m, out, cv::COLOR_RGBA2mRGBA);  // premultiply; channel order unchanged
      break;
    default:
      return nullptr;
  }
  return cvb::imageFromMat(out, CGImagePixelFormat::bgra8);
}

std::optional<std::vector<std::uint8_t>> readFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

bool safeImageName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Pixels as stored, as a BGR (or gray) Mat written over black.
cv::Mat opaqueMat(const CGImage& image) {
  const cv::Mat view = cvb::matView(image);
  cv::Mat out;
  switch (image.pixelFormat()) {
    case CGImagePixelFormat::gray8:
      out = view;
      break;
    case CGImagePixelFormat::bgra8:  // premultiplied: dropping alpha composites over black
      cv::cvtColor(view, out, cv::COLOR_BGRA2BGR);
      break;
    case CGImagePixelFormat::rgba8: {
      cv::Mat premultiplied;
      cv::cvtColor(view, premultiplied, cv::COLOR_RGBA2mRGBA);
      cv::cvtColor(premultiplied, out, cv::COLOR_RGBA2BGR);
      break;
    }
  }
  return out;
}

// ---- system symbols --------------------------------------------------------

using Glyph = void (*)(cv::Mat& mask, double side, int thickness);

cv::Point P(double side, double fx, double fy) {
  return {static_cast<int>(std::lround(fx * side)), static_cast<int>(std::lround(fy * side))};
}

void chevronRight(cv::Mat& m, double s, int t) {
  std::vector<cv::Point> pts{P(s, 0.38, 0.18), P(s, 0.66, 0.5), P(s, 0.38, 0.82)};
  cv::polylines(m, pts, false, 255, t, cv::LINE_AA);
}
void chevronLeft(cv::Mat& m, double s, int t) {
  std::vector<cv::Point> pts{P(s, 0.62, 0.18), P(s, 0.34, 0.5), P(s, 0.62, 0.82)};
  cv::polylines(m, pts, false, 255, t, cv::LINE_AA);
}
void checkmarkCircleFill(cv::Mat& m, double s, int t) {
  cv::circle(m, P(s, 0.5, 0.5), static_cast<int>(0.46 * s), 255, cv::FILLED, cv::LINE_AA);
  std::vector<cv::Point> pts{P(s, 0.28, 0.52), P(s, 0.44, 0.67), P(s, 0.72, 0.36)};
  cv::polylines(m, pts, false, 0, t, cv::LINE_AA);
}
void personCropCircle(cv::Mat& m, double s, int t) {
  cv::Mat figure = cv::Mat::zeros(m.size(), CV_8UC1);
  cv::circle(figure, P(s, 0.5, 0.38), static_cast<int>(0.16 * s), 255, cv::FILLED, cv::LINE_AA);
  cv::ellipse(figure, P(s, 0.5, 0.86), cv::Size(static_cast<int>(0.3 * s), static_cast<int>(0.22 * s)), 0, 0,
              360, 255, cv::FILLED, cv::LINE_AA);
  cv::Mat disk = cv::Mat::zeros(m.size(), CV_8UC1);
  cv::circle(disk, P(s, 0.5, 0.5), static_cast<int>(0.45 * s), 255, cv::FILLED, cv::LINE_AA);
  cv::min(figure, disk, figure);
  cv::max(m, figure, m);
  cv::circle(m, P(s, 0.5, 0.5), static_cast<int>(0.45 * s), 255, std::max(1, t * 2 / 3), cv::LINE_AA);
}
void cameraFill(cv::Mat& m, double s, int) {
  cv::rectangle(m, P(s, 0.08, 0.3), P(s, 0.92, 0.82), 255, cv::FILLED, cv::LINE_AA);
  cv::rectangle(m, P(s, 0.34, 0.2), P(s, 0.62, 0.32), 255, cv::FILLED, cv::LINE_AA);
  cv::circle(m, P(s, 0.5, 0.56), static_cast<int>(0.17 * s), 0, cv::FILLED, cv::LINE_AA);
  cv::circle(m, P(s, 0.5, 0.56), static_cast<int>(0.11 * s), 255, cv::FILLED, cv::LINE_AA);
}
void boltFill(cv::Mat& m, double s, int) {
  std::vector<cv::Point> pts{P(s, 0.60, 0.04), P(s, 0.22, 0.56), P(s, 0.47, 0.56),
                             P(s, 0.40, 0.96), P(s, 0.78, 0.42), P(s, 0.53, 0.42)};
  cv::fillPoly(m, std::vector<std::vector<cv::Point>>{pts}, 255, cv::LINE_AA);
}

Glyph glyphFor(const std::string& name) {
  static const std::array<std::pair<const char*, Glyph>, 6> table{{
      {"chevron.right", chevronRight},
      {"chevron.left", chevronLeft},
      {"checkmark.circle.fill", checkmarkCircleFill},
      {"person.crop.circle", personCropCircle},
      {"camera.fill", cameraFill},
      {"bolt.fill", boltFill},
  }};
  for (const auto& [n, g] : table)
    if (name == n) return g;
  return nullptr;
}

}  // namespace

// ---- construction ----------------------------------------------------------

UIImage::UIImage(CGImageRef cgImage, CGFloat scale, Orientation orientation)
    : cgImage_(std::move(cgImage)),
      scale_(scale > 0 && std::isfinite(scale) ? scale : 1),
      orientation_(orientation) {}

std::shared_ptr<UIImage> UIImage::make(CGImageRef cgImage, CGFloat scale, Orientation orientation) {
  if (!cgImage || !(scale > 0) || !std::isfinite(scale)) return nullptr;
  return std::make_shared<UIImage>(std::move(cgImage), scale, orientation);
}

std::shared_ptr<UIImage> UIImage::fromData(const foundation::Data& data, CGFloat scale) {
  if (data.isEmpty()) return nullptr;
  CGImageRef pixels;
  try {
    // Keeps alpha and leaves the pixels as stored (no EXIF rotation).
    pixels = imageFromDecoded(codec::decodeImage(data.bytes(), data.count()));
  } catch (const cv::Exception&) {
    return nullptr;
  }
  if (!pixels) return nullptr;
  Orientation orientation = Orientation::up;
  if (auto exif = codec::jpegExifOrientation(data.bytes(), data.count()))
    orientation = uiOrientation(static_cast<CGImagePropertyOrientation>(*exif));
  return make(std::move(pixels), scale, orientation);
}

std::shared_ptr<UIImage> UIImage::contentsOfFile(const std::filesystem::path& path) {
  auto bytes = readFile(path);
  if (!bytes) return nullptr;
  const std::string stem = path.stem().string();
  const CGFloat scale = endsWith(stem, "@3x") ? 3 : endsWith(stem, "@2x") ? 2 : 1;
  return fromData(foundation::Data(std::move(*bytes)), scale);
}

std::shared_ptr<UIImage> UIImage::named(const std::string& name, const std::filesystem::path& bundleDirectory,
                                        const UITraitCollection*) {
  if (!safeImageName(name)) return nullptr;
  if (endsWith(name, ".png")) return contentsOfFile(bundleDirectory / name);
  for (const char* suffix : {".png", "@2x.png", "@3x.png"})
    if (auto image = contentsOfFile(bundleDirectory / (name + suffix))) return image;
  return nullptr;
}

std::shared_ptr<UIImage> UIImage::named(const std::string& name,
                                        const std::shared_ptr<foundation::Bundle>& in,
                                        const UITraitCollection* traits) {
  auto bundle = in ? in : foundation::Bundle::main();
  if (!bundle) return nullptr;
  auto dir = bundle->resourcePath();
  if (!dir) return nullptr;
  return named(name, std::filesystem::path(*dir), traits);
}

std::shared_ptr<UIImage> UIImage::named(const std::string& name) { return named(name, nullptr, nullptr); }

std::shared_ptr<UIImage> UIImage::systemName(const std::string& name) { return systemName(name, {}); }

std::shared_ptr<UIImage> UIImage::systemName(const std::string& name, const SymbolConfiguration& config) {
  const Glyph glyph = glyphFor(name);
  if (!glyph) return nullptr;
  constexpr double kScale = 3;
  const double points = std::isfinite(config.pointSize) && config.pointSize > 0 ? config.pointSize : 17;
  const int side = std::max(3, static_cast<int>(std::lround(points * 1.2 * kScale)));
  // Stroke weight grows with the font weight.
  const double weightStep = static_cast<double>(static_cast<int>(config.weight)) - 3;  // regular = 0
  const int thickness = std::max(1, static_cast<int>(std::lround(side * (0.1 + 0.012 * weightStep))));
  cv::Mat mask = cv::Mat::zeros(side, side, CV_8UC1);
  glyph(mask, side, thickness);
  cv::Mat bgra(side, side, CV_8UC4, cv::Scalar(0, 0, 0, 0));
  const int fromTo[] = {0, 3};
  cv::mixChannels(&mask, 1, &bgra, 1, fromTo, 1);  // black ink: premultiplied colour stays 0
  auto image =
      std::make_shared<UIImage>(cvb::imageFromMat(bgra, CGImagePixelFormat::bgra8), kScale, Orientation::up);
  image->renderingMode_ = RenderingMode::alwaysTemplate;
  image->symbolName_ = name;
  return image;
}

// ---- properties and variants -------------------------------------------------

CGSize UIImage::size() const {
  if (!cgImage_) return {};
  const double w = static_cast<double>(cgImage_->width()) / scale_;
  const double h = static_cast<double>(cgImage_->height()) / scale_;
  return swapsAxes(orientation_) ? CGSize{h, w} : CGSize{w, h};
}

std::shared_ptr<UIImage> UIImage::withRenderingMode(RenderingMode mode) const {
  auto copy = std::make_shared<UIImage>(cgImage_, scale_, orientation_);
  copy->renderingMode_ = mode;
  copy->symbolName_ = symbolName_;
  return copy;
}

std::shared_ptr<UIImage> UIImage::withTintColor(const UIColor& color) const {
  if (!cgImage_) return nullptr;
  const cv::Mat src = cvb::toPremultipliedBGRA(*cgImage_);
  cv::Mat alpha;
  cv::extractChannel(src, alpha, 3);
  const quartz::CGColor c = color.cgColor();
  cv::Mat a;
  alpha.convertTo(a, CV_32F, c.alpha / 255.0);  // 0..1
  std::vector<cv::Mat> planes(4);
  a.convertTo(planes[0], CV_8U, c.blue * 255.0);
  a.convertTo(planes[1], CV_8U, c.green * 255.0);
  a.convertTo(planes[2], CV_8U, c.red * 255.0);
  a.convertTo(planes[3], CV_8U, 255.0);
  cv::Mat out;
  cv::merge(planes, out);
  auto tinted =
      std::make_shared<UIImage>(cvb::imageFromMat(out, CGImagePixelFormat::bgra8), scale_, orientation_);
  tinted->renderingMode_ = RenderingMode::alwaysOriginal;
  tinted->symbolName_ = symbolName_;
  return tinted;
}

// ---- encoding ----------------------------------------------------------------

std::optional<foundation::Data> UIImage::jpegData(CGFloat compressionQuality) const {
  if (!cgImage_ || cgImage_->width() == 0 || cgImage_->height() == 0) return std::nullopt;
  const double q = std::isnan(compressionQuality) ? 0 : std::clamp<CGFloat>(compressionQuality, 0, 1);
  std::vector<std::uint8_t> bytes;
  try {
    bytes = codec::encodeJPEG(opaqueMat(*cgImage_), static_cast<int>(std::lround(q * 100)));
    if (bytes.empty()) return std::nullopt;
  } catch (const cv::Exception&) {
    return std::nullopt;
  }
  if (orientation_ != Orientation::up)
    codec::insertExifOrientation(bytes, static_cast<int>(cgOrientation(orientation_)));
  return foundation::Data(std::move(bytes));
}

std::optional<foundation::Data> UIImage::pngData() const {
  if (!cgImage_ || cgImage_->width() == 0 || cgImage_->height() == 0) return std::nullopt;
  const auto upright = uprightImage();
  const CGImage& img = *upright->cgImage();
  std::vector<std::uint8_t> bytes;
  try {
    cv::Mat out;
    if (img.pixelFormat() == CGImagePixelFormat::gray8) {
      out = cvb::matView(img);
    } else {
      cv::cvtColor(cvb::toPremultipliedBGRA(img), out, cv::COLOR_mRGBA2RGBA);  // PNG stores straight alpha
    }
    bytes = codec::encodePNG(out);
    if (bytes.empty()) return std::nullopt;
  } catch (const cv::Exception&) {
    return std::nullopt;
  }
  return foundation::Data(std::move(bytes));
}

// ---- drawing -------------------------------------------------------------------

std::shared_ptr<UIImage> UIImage::uprightImage() const {
  if (orientation_ == Orientation::up || !cgImage_) {
    if (auto self = weak_from_this().lock()) return std::const_pointer_cast<UIImage>(self);
    auto copy = withRenderingMode(renderingMode_);
    return copy;
  }
  // Quarter turns and flips move whole pixels: OpenCV's rotate/flip give the
  // same pixels a context redraw would, at a fraction of the cost.
  const cv::Mat src = cvb::matView(*cgImage_);
  cv::Mat out;
  using O = Orientation;
  switch (orientation_) {
    case O::up:
      out = src.clone();
      break;
    case O::down:
      cv::rotate(src, out, cv::ROTATE_180);
      break;
    case O::left:
      cv::rotate(src, out, cv::ROTATE_90_COUNTERCLOCKWISE);
      break;
    case O::right:
      cv::rotate(src, out, cv::ROTATE_90_CLOCKWISE);
      break;
    case O::upMirrored:
      cv::flip(src, out, 1);
      break;
    case O::downMirrored:
      cv::flip(src, out, 0);
      break;
    case O::leftMirrored:
      cv::transpose(src, out);
      break;
    case O::rightMirrored:
      cv::transpose(src, out);
      cv::flip(out, out, -1);
      break;
  }
  auto image = std::make_shared<UIImage>(cvb::imageFromMat(out, cgImage_->pixelFormat()), scale_, O::up);
  image->renderingMode_ = renderingMode_;
  image->symbolName_ = symbolName_;
  return image;
}

void UIImage::draw(const CGRect& in) const {
  quartz::CGContext* context = UIGraphicsGetCurrentContext();
  if (!context || !cgImage_ || in.isEmpty()) return;
  const double w = static_cast<double>(cgImage_->width()), h = static_cast<double>(cgImage_->height());
  const double shownW = swapsAxes(orientation_) ? h : w, shownH = swapsAxes(orientation_) ? w : h;
  const CGRect r = in.standardized();
  const CGAffineTransform t =
      orientationTransform(orientation_, w, h)
          .concatenating(CGAffineTransform::makeScale(r.width() / shownW, r.height() / shownH))
          .concatenating(CGAffineTransform::makeTranslation(r.minX(), r.minY()));
  context->saveGState();
  context->concatenate(t);
  context->draw(*cgImage_, CGRect::make(0, 0, w, h));
  context->restoreGState();
}

void UIImage::draw(const quartz::CGPoint& at) const { draw(CGRect{at, size()}); }

}  // namespace uikit

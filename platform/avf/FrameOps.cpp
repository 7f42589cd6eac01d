// OpenCV adapters for camera frames: views over CVPixelBuffer planes, never
// copies unless a conversion is asked for.
#include <algorithm>
#include <array>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "Internal.h"
#include "quartz/ImageCodec.h"

namespace avf::detail {

namespace {

bool isNV12(OSType f) {
  return f == kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange ||
         f == kCVPixelFormatType_420YpCbCr8BiPlanarFullRange;
}

cv::Mat planeView(const CVPixelBuffer& b, std::size_t plane, int type) {
  const CVPlane& p = b.plane(plane);
  return cv::Mat(static_cast<int>(p.height), static_cast<int>(p.width), type,
                 const_cast<std::uint8_t*>(p.base), p.bytesPerRow);
}

cv::Mat mutablePlaneView(const CVPixelBuffer& b, std::size_t plane, int type) {
  const CVPlane& p = b.plane(plane);
  return cv::Mat(static_cast<int>(p.height), static_cast<int>(p.width), type, b.mutablePlaneBase(plane),
                 p.bytesPerRow);
}

// Applies rotation (clockwise degrees) and then a horizontal flip.
void orient(const cv::Mat& src, cv::Mat& dst, int rotationCW, bool mirror) {
  cv::Mat tmp;
  const cv::Mat* from = &src;
  if (rotationCW != 0) {
    const int code = rotationCW == 90    ? cv::ROTATE_90_CLOCKWISE
                     : rotationCW == 180 ? cv::ROTATE_180
                                         : cv::ROTATE_90_COUNTERCLOCKWISE;
    if (mirror) {
      cv::rotate(src, tmp, code);
      from = &tmp;
    } else {
      cv::rotate(src, dst, code);
      return;
    }
  }
  if (mirror) {
    cv::flip(*from, dst, 1);
  } else {
    from->copyTo(dst);
  }
}

cv::Mat nv12ToBGR(const CVPixelBuffer& b) {
  cv::Mat bgr;
  cv::Mat y = planeView(b, 0, CV_8UC1);
  cv::Mat uv = planeView(b, 1, CV_8UC2);
  if (b.pixelFormatType() == kCVPixelFormatType_420YpCbCr8BiPlanarFullRange) {
    // OpenCV's NV12 conversion expects video range: narrow first.
    static const std::array<cv::Mat, 2> luts = [] {
      cv::Mat ly(1, 256, CV_8UC1), lc(1, 256, CV_8UC1);
      for (int i = 0; i < 256; ++i) {
        ly.at<std::uint8_t>(i) = cv::saturate_cast<std::uint8_t>(16 + i * 219.0 / 255.0);
        lc.at<std::uint8_t>(i) = cv::saturate_cast<std::uint8_t>(128 + (i - 128) * 224.0 / 255.0);
      }
      return std::array<cv::Mat, 2>{ly, lc};
    }();
    cv::Mat y2, uv2;
    cv::LUT(y, luts[0], y2);
    cv::LUT(uv, luts[1], uv2);
    cv::cvtColorTwoPlane(y2, uv2, bgr, cv::COLOR_YUV2BGR_NV12);
  } else {
    cv::cvtColorTwoPlane(y, uv, bgr, cv::COLOR_YUV2BGR_NV12);
  }
  return bgr;
}

}  // namespace

CVPixelBufferRef bgrToNV12(const BGRFrame& frame) {
  const int w = static_cast<int>(frame.width) & ~1, h = static_cast<int>(frame.height) & ~1;
  if (frame.data == nullptr || w <= 0 || h <= 0) return nullptr;
  cv::Mat bgr(h, w, CV_8UC3, const_cast<std::uint8_t*>(frame.data), frame.bytesPerRow);
  cv::Mat i420;
  cv::cvtColor(bgr, i420, cv::COLOR_BGR2YUV_I420);  // BT.601 video range
  auto out = CVPixelBuffer::create(w, h, kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange);
  cv::Mat y = mutablePlaneView(*out, 0, CV_8UC1);
  i420.rowRange(0, h).copyTo(y);
  const int cw = w / 2, ch = h / 2;
  cv::Mat u(ch, cw, CV_8UC1, i420.ptr(h), cw);
  cv::Mat v(ch, cw, CV_8UC1, i420.ptr(h) + static_cast<std::size_t>(cw) * ch, cw);
  cv::Mat uv = mutablePlaneView(*out, 1, CV_8UC2);
  cv::merge(std::vector<cv::Mat>{u, v}, uv);
  return out;
}

CVPixelBufferRef transformFrame(const CVPixelBufferRef& src, int rotationCW, bool mirror, OSType format) {
  if (!src || !isNV12(src->pixelFormatType())) return src;
  rotationCW = ((rotationCW % 360) + 360) % 360;
  if (rotationCW == 0 && !mirror && format == src->pixelFormatType()) return src;  // zero copy
  const bool swap = rotationCW == 90 || rotationCW == 270;
  const std::size_t w = swap ? src->height() : src->width();
  const std::size_t h = swap ? src->width() : src->height();
  if (format == kCVPixelFormatType_32BGRA) {
    cv::Mat bgr = nv12ToBGR(*src);
    cv::Mat oriented;
    orient(bgr, oriented, rotationCW, mirror);
    auto out = CVPixelBuffer::create(w, h, kCVPixelFormatType_32BGRA);
    cv::Mat dst = mutablePlaneView(*out, 0, CV_8UC4);
    cv::cvtColor(oriented, dst, cv::COLOR_BGR2BGRA);
    return out;
  }
  if (!isNV12(format)) return nullptr;
  auto out = CVPixelBuffer::create(w, h, format);
  for (std::size_t plane = 0; plane < 2; ++plane) {
    const int type = plane == 0 ? CV_8UC1 : CV_8UC2;
    cv::Mat s = planeView(*src, plane, type);
    cv::Mat d = mutablePlaneView(*out, plane, type);
    if (s.rows == 0 || s.cols == 0) continue;
    cv::Mat oriented;
    orient(s, oriented, rotationCW, mirror);
    if (oriented.size() != d.size()) cv::resize(oriented, oriented, d.size(), 0, 0, cv::INTER_NEAREST);
    if (format != src->pixelFormatType()) {
      // Range change between video (16-235 / 16-240) and full (0-255).
      const bool toFull = format == kCVPixelFormatType_420YpCbCr8BiPlanarFullRange;
      const double scale =
          plane == 0 ? (toFull ? 255.0 / 219.0 : 219.0 / 255.0) : (toFull ? 255.0 / 224.0 : 224.0 / 255.0);
      const double offset = plane == 0 ? (toFull ? -16.0 * scale : 16.0) : 128.0 - 128.0 * scale;
      oriented.convertTo(d, type, scale, offset);
    } else {
      oriented.copyTo(d);
    }
  }
  return out;
}

double meanFullRangeLuma(const CVPixelBufferRef& b) {
  if (!b || b->width() == 0 || b->height() == 0) return 0;
  if (!isNV12(b->pixelFormatType())) {
    cv::Mat bgra = planeView(*b, 0, CV_8UC4);
    cv::Mat grey;
    cv::cvtColor(bgra, grey, cv::COLOR_BGRA2GRAY);
    return cv::mean(grey)[0];
  }
  // Every fourth row and column is plenty for a mean and keeps this cheap.
  const CVPlane& p = b->plane(0);
  std::uint64_t sum = 0, n = 0;
  for (std::size_t y = 0; y < p.height; y += 4) {
    const std::uint8_t* row = p.base + y * p.bytesPerRow;
    for (std::size_t x = 0; x < p.width; x += 4) sum += row[x];
    n += (p.width + 3) / 4;
  }
  const double mean = static_cast<double>(sum) / static_cast<double>(std::max<std::uint64_t>(n, 1));
  if (b->pixelFormatType() == kCVPixelFormatType_420YpCbCr8BiPlanarFullRange) return mean;
  return std::clamp((mean - 16.0) * 255.0 / 219.0, 0.0, 255.0);
}

std::vector<std::uint8_t> encodeJPEG(const CVPixelBufferRef& buffer, int exifOrientation, bool mirrorUpright,
                                     double quality) {
  if (!buffer || buffer->width() == 0 || buffer->height() == 0) return {};
  cv::Mat bgr;
  if (isNV12(buffer->pixelFormatType())) {
    bgr = nv12ToBGR(*buffer);
  } else if (buffer->pixelFormatType() == kCVPixelFormatType_32BGRA) {
    cv::cvtColor(planeView(*buffer, 0, CV_8UC4), bgr, cv::COLOR_BGRA2BGR);
  } else {
    return {};
  }
  if (mirrorUpright) {
    // A mirror of the upright image: across the stored columns when the
    // orientation keeps the axes, across the rows when it swaps them.
    const bool swapsAxes = exifOrientation >= 5;
    cv::flip(bgr, bgr, swapsAxes ? 0 : 1);
  }
  const int q = std::clamp(static_cast<int>(quality * 100.0 + 0.5), 1, 100);
  std::vector<std::uint8_t> jpeg = quartz::codec::encodeJPEG(bgr, q);
  quartz::codec::insertExifOrientation(jpeg, exifOrientation);
  return jpeg;
}

}  // namespace avf::detail

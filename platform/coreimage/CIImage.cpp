#include "morvik/platform/coreimage/CIImage.h"

#include <cmath>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace coreimage {

namespace {

bool isNV12(corevideo::OSType f) {
  return f == corevideo::kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange ||
         f == corevideo::kCVPixelFormatType_420YpCbCr8BiPlanarFullRange;
}

int cvTypeOf(quartz::CGImagePixelFormat f) {
  return f == quartz::CGImagePixelFormat::gray8 ? CV_8UC1 : CV_8UC4;
}

}  // namespace

CIImage::CIImage(quartz::CGImageRef cgImage) : cgImage_(std::move(cgImage)) {
  if (cgImage_) extent_ = quartz::CGRect::make(0, 0, cgImage_->width(), cgImage_->height());
}

CIImage::CIImage(corevideo::CVPixelBufferRef cvPixelBuffer) : pixelBuffer_(std::move(cvPixelBuffer)) {
  if (pixelBuffer_) extent_ = quartz::CGRect::make(0, 0, pixelBuffer_->width(), pixelBuffer_->height());
}

quartz::CGSize CIImage::sourceSize() const {
  if (cgImage_) return {static_cast<double>(cgImage_->width()), static_cast<double>(cgImage_->height())};
  if (pixelBuffer_)
    return {static_cast<double>(pixelBuffer_->width()), static_cast<double>(pixelBuffer_->height())};
  return {};
}

CIImage CIImage::cropped(const quartz::CGRect& to) const {
  CIImage out = *this;
  out.extent_ = extent_.isNull() ? extent_ : extent_.intersection(to);
  return out;
}

quartz::CGImageRef CIContext::createCGImage(const CIImage& image, const quartz::CGRect& from) const {
  if (image.isEmpty()) return nullptr;
  const quartz::CGRect area = image.extent().intersection(from);
  if (area.isNull() || area.isEmpty()) return nullptr;
  const quartz::CGSize source = image.sourceSize();
  // Outward to whole pixels, then from the lower-left origin to rows from the top.
  const double minX = std::floor(area.minX()), maxX = std::ceil(area.maxX());
  const double minY = std::floor(area.minY()), maxY = std::ceil(area.maxY());
  const int x = static_cast<int>(minX), w = static_cast<int>(maxX - minX);
  const int h = static_cast<int>(maxY - minY);
  const int top = static_cast<int>(source.height - maxY);
  if (w <= 0 || h <= 0 || x < 0 || top < 0) return nullptr;
  const cv::Rect roi(x, top, w, h);

  if (const auto& cg = image.cgImage()) {
    if (cg->data() == nullptr) return nullptr;
    const int type = cvTypeOf(cg->pixelFormat());
    cv::Mat src(static_cast<int>(cg->height()), static_cast<int>(cg->width()), type,
                const_cast<std::uint8_t*>(cg->data()), cg->bytesPerRow());
    auto out = quartz::CGImage::make(w, h, cg->pixelFormat());
    cv::Mat dst(h, w, type, out->mutableData(), out->bytesPerRow());
    src(roi).copyTo(dst);
    return out;
  }

  const auto& pb = image.pixelBuffer();
  if (!pb) return nullptr;
  auto out = quartz::CGImage::make(w, h, quartz::CGImagePixelFormat::bgra8);
  cv::Mat dst(h, w, CV_8UC4, out->mutableData(), out->bytesPerRow());
  if (pb->pixelFormatType() == corevideo::kCVPixelFormatType_32BGRA) {
    const auto& p = pb->plane(0);
    cv::Mat src(static_cast<int>(p.height), static_cast<int>(p.width), CV_8UC4,
                const_cast<std::uint8_t*>(p.base), p.bytesPerRow);
    src(roi).copyTo(dst);
    return out;
  }
  if (!isNV12(pb->pixelFormatType()) || pb->planeCount() != 2) return nullptr;
  // Chroma is shared by 2x2 blocks: convert an even-aligned area, then cut.
  const int ex = roi.x & ~1, ey = roi.y & ~1;
  const int ew = std::min(((roi.x + roi.width + 1) & ~1), static_cast<int>(pb->width()) & ~1) - ex;
  const int eh = std::min(((roi.y + roi.height + 1) & ~1), static_cast<int>(pb->height()) & ~1) - ey;
  if (ew <= 0 || eh <= 0) return nullptr;
  const auto& yp = pb->plane(0);
  const auto& cp = pb->plane(1);
  cv::Mat y(static_cast<int>(yp.height), static_cast<int>(yp.width), CV_8UC1,
            const_cast<std::uint8_t*>(yp.base), yp.bytesPerRow);
  cv::Mat uv(static_cast<int>(cp.height), static_cast<int>(cp.width), CV_8UC2,
             const_cast<std::uint8_t*>(cp.base), cp.bytesPerRow);
  cv::Mat yRoi = y(cv::Rect(ex, ey, ew, eh)).clone();
  cv::Mat uvRoi = uv(cv::Rect(ex / 2, ey / 2, ew / 2, eh / 2)).clone();
  if (pb->pixelFormatType() == corevideo::kCVPixelFormatType_420YpCbCr8BiPlanarFullRange) {
    // OpenCV's conversion expects video range.
    yRoi.convertTo(yRoi, CV_8UC1, 219.0 / 255.0, 16.0);
    uvRoi.convertTo(uvRoi, CV_8UC2, 224.0 / 255.0, 128.0 - 128.0 * 224.0 / 255.0);
  }
  cv::Mat bgra;
  cv::cvtColorTwoPlane(yRoi, uvRoi, bgra, cv::COLOR_YUV2BGRA_NV12);
  const cv::Rect cut(roi.x - ex, roi.y - ey, std::min(w, bgra.cols - (roi.x - ex)),
                     std::min(h, bgra.rows - (roi.y - ey)));
  if (cut.width != w || cut.height != h) return nullptr;
  bgra(cut).copyTo(dst);
  return out;
}

}  // namespace coreimage

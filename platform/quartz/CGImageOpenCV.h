// Internal adapter between quartz::CGImage and OpenCV: non-owning views and
// images that keep a cv::Mat alive. Only .cpp files of the platform include it.
#pragma once

#include <morvik/platform/quartz/CGImage.h>

#include <opencv2/core.hpp>

namespace quartz::cvbridge {

// A view of the pixels (CV_8UC1 for gray8, CV_8UC4 otherwise); no copy. The
// view must not outlive the image and must not be written.
inline cv::Mat matView(const CGImage& image) {
  const int type = image.pixelFormat() == CGImagePixelFormat::gray8 ? CV_8UC1 : CV_8UC4;
  return cv::Mat(static_cast<int>(image.height()), static_cast<int>(image.width()), type,
                 const_cast<std::uint8_t*>(image.data()), image.bytesPerRow());
}

// An image over the Mat's pixels; the Mat's buffer is kept alive by the image.
inline CGImageRef imageFromMat(const cv::Mat& mat, CGImagePixelFormat format) {
  if (mat.empty()) return nullptr;
  auto owner = std::make_shared<cv::Mat>(mat);
  return std::make_shared<CGImage>(static_cast<std::size_t>(mat.cols), static_cast<std::size_t>(mat.rows),
                                   mat.step[0], format, owner->data, owner);
}

// Premultiplied BGRA copy of any format (gray gets alpha 255; rgba8 is taken
// as straight alpha and premultiplied).
cv::Mat toPremultipliedBGRA(const CGImage& image);

}  // namespace quartz::cvbridge

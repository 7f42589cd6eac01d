#include "quartz/CGImageOpenCV.h"

#include <opencv2/imgproc.hpp>

namespace quartz::cvbridge {

cv::Mat toPremultipliedBGRA(const CGImage& image) {
  const cv::Mat src = matView(image);
  cv::Mat out;
  switch (image.pixelFormat()) {
    case CGImagePixelFormat::gray8:
      cv::cvtColor(src, out, cv::COLOR_GRAY2BGRA);
      break;
    case CGImagePixelFormat::bgra8:
      out = src.clone();
      break;
    case CGImagePixelFormat::rgba8:
      // Straight alpha in, premultiplied out; the channel order does not
      // matter to premultiplication.
      cv::cvtColor(src, out, cv::COLOR_RGBA2mRGBA);
      cv::cvtColor(out, out, cv::COLOR_RGBA2BGRA);
      break;
  }
  return out;
}

}  // namespace quartz::cvbridge

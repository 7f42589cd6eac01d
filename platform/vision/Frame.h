// Internal: the image a handler works on, as OpenCV views, with the mapping
// between the stored (raw) pixels and the oriented image the requests see.
// Coordinates here are continuous pixel coordinates (pixel i covers [i, i+1)),
// origin top left, so scaling and orientation map them exactly.
#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <optional>
#include <vector>

#include "morvik/platform/vision/Vision.h"

namespace vision::detail {

// Face analysis shared by the landmark and quality requests of one perform.
struct FaceResult {
  cv::Rect2f box;                      // oriented full-resolution pixels
  std::array<cv::Point2f, 68> points;  // oriented full-resolution pixels
  std::optional<float> yaw, roll, pitch;
  float quality = 0;
};

class Frame {
 public:
  Frame(avf::CVPixelBufferRef buffer, quartz::CGImagePropertyOrientation orientation);
  Frame(quartz::CGImageRef image, quartz::CGImagePropertyOrientation orientation);

  // Empty when the image is usable; otherwise why not.
  const std::optional<VNError>& problem() const { return problem_; }

  // The stored pixels as grey (a view of the luma plane or grey image; BGRA is converted once).
  const cv::Mat& rawGrey();
  // Chroma (Cb, Cr) of the stored pixels at half resolution (CV_8UC2): a view of an NV12 frame's chroma
  // plane, or converted once from 4-channel pixels. Empty for grey images. Colour tells a document
  // from a surface of the same grey.
  const cv::Mat& rawChroma();
  cv::Size rawSize() const { return rawSize_; }
  cv::Size orientedSize() const { return orientedSize_; }
  quartz::CGImagePropertyOrientation orientation() const { return orientation_; }

  cv::Point2f rawToOriented(cv::Point2f p) const;
  cv::Point2f orientedToRaw(cv::Point2f p) const;

  // The part `rect` (oriented pixels, clipped to the image) of the oriented
  // image, resized by `scale`, as a new upright grey image, with the rectangle
  // really covered (after clipping and rounding to raw pixels) and the exact
  // scales used on x and y. Empty when nothing is left after clipping.
  struct Crop {
    cv::Mat image;
    cv::Mat chroma;   // CV_8UC2 of image's size when asked for and the image has colour
    cv::Rect2f rect;  // oriented pixels covered by the image
    double sx = 1, sy = 1;
    cv::Point2f toOriented(cv::Point2f p) const {
      return {rect.x + p.x / float(sx), rect.y + p.y / float(sy)};
    }
    cv::Point2f fromOriented(cv::Point2f p) const {
      return {(p.x - rect.x) * float(sx), (p.y - rect.y) * float(sy)};
    }
  };
  // `quickShrink`: for strong reductions, average 2 x 2 blocks (repeatedly) first and interpolate the
  // rest (close to an area resize, many times cheaper at full resolution).
  // `withChroma`: also fill `chroma`.
  Crop orientedCrop(const cv::Rect2f& rect, double scale, bool quickShrink = false, bool withChroma = false);

  // A normalised region of interest (origin lower left) in oriented pixels, clipped; empty when nothing is
  // left.
  cv::Rect2f roiToOriented(const CGRect& roi) const;
  // Oriented pixels -> normalised, origin lower left.
  CGPoint normalised(cv::Point2f p) const;
  CGRect normalisedRect(const cv::Rect2f& r) const;

  // Bilinear grey value at a continuous oriented position (clamped at the border).
  float sampleOriented(cv::Point2f p);
  // Grey, Cb and Cr there (chroma 128 without colour).
  cv::Vec3f sampleOrientedColour(cv::Point2f p);
  bool hasChroma();

  std::optional<std::vector<FaceResult>> faces;  // filled by the first face request of a perform

 private:
  void setOrientation(quartz::CGImagePropertyOrientation o);

  std::optional<VNError> problem_;
  quartz::CGImagePropertyOrientation orientation_ = quartz::CGImagePropertyOrientation::up;
  cv::Size rawSize_, orientedSize_;
  cv::Mat rawView_;   // grey view or 4-channel view
  int rawCode_ = -1;  // cvtColor code for 4-channel views, -1 for grey
  cv::Mat rawGrey_;
  cv::Mat chromaView_;  // NV12: view of the chroma plane
  cv::Mat rawChroma_;
  bool chromaDone_ = false;
  std::shared_ptr<const void> keepAlive_;
};

// Rotates / flips `src` (raw orientation) into the oriented image.
cv::Mat orient(const cv::Mat& src, quartz::CGImagePropertyOrientation o);

}  // namespace vision::detail

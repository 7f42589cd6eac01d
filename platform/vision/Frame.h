// Internal: the image a handler works on, as OpenCV views, with the mapping
// between the stored (raw) pixels and the oriented image the requests see.
// Coordinates here are continuous pixel coordinates (pixel i covers [i, i+1)),
// origin top left, so scaling and orientation map them exactly.
#pragma once

#include <opencv2/core.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "morvik/platform/vision/Vision.h"

// Hot loops compiled twice, for AVX2 and the baseline, the first picked when the processor has it.
// Wider vectors only: no fused multiply-add, so the results are the same to the bit. Not under the
// sanitizers, whose runtime is not up yet when the loader picks the version.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) && \
    !defined(__SANITIZE_ADDRESS__)
#define VISION_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VISION_AVX2_CLONES
#endif

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
  Frame(corevideo::CVPixelBufferRef buffer, quartz::CGImagePropertyOrientation orientation);
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

  // Reads the oriented image straight from the stored planes, the orientation resolved once: cheap
  // enough for loops that sample many points. Valid while the frame lives.
  class Sampler {
   public:
    cv::Point2f toRaw(cv::Point2f p) const {
      const float u = swap_ ? p.y : p.x, v = swap_ ? p.x : p.y;
      return {flipX_ ? w_ - u : u, flipY_ ? h_ - v : v};
    }
    // Bilinear grey value at a continuous oriented position (clamped at the border).
    float grey(cv::Point2f p) const { return greyAtRaw(toRaw(p)); }
    // Grey, Cb and Cr there (chroma 128 without colour).
    cv::Vec3f colour(cv::Point2f p) const {
      const cv::Point2f r = toRaw(p);
      const float grey = greyAtRaw(r);
      if (!chroma_) return {grey, 128.f, 128.f};
      const cv::Point2f q = r * 0.5f;
      return {grey, bilinear(chroma_, chromaStep_, chromaCols_, chromaRows_, 2, 0, q),
              bilinear(chroma_, chromaStep_, chromaCols_, chromaRows_, 2, 1, q)};
    }
    bool hasChroma() const { return chroma_ != nullptr; }
    // The values at p + n * (i - half) for i in [0, count), as grey() (and, with `colour`, colour())
    // give them, four at a time.
    void profile(cv::Point2f p, cv::Point2f n, int count, int half, bool colour, cv::Vec3f* out) const;

   private:
    friend class Frame;
    float greyAtRaw(cv::Point2f q) const { return bilinear(grey_, greyStep_, greyCols_, greyRows_, 1, 0, q); }
    // Bilinear value at q (clamped at the border) of the plane whose samples lie `stride` bytes apart
    // from byte `offset` on.
    static float bilinear(const std::uint8_t* plane, std::size_t step, int cols, int rows, int stride,
                          int offset, cv::Point2f q) {
      const float x = std::clamp(q.x - 0.5f, 0.0f, float(cols - 1)),
                  y = std::clamp(q.y - 0.5f, 0.0f, float(rows - 1));
      const int x0 = std::min(int(x), std::max(0, cols - 2)), y0 = std::min(int(y), std::max(0, rows - 2));
      const int x1 = std::min(x0 + 1, cols - 1), y1 = std::min(y0 + 1, rows - 1);
      const float fx = x - x0, fy = y - y0;
      const auto at = [&](int yy, int xx) {
        return float(plane[std::size_t(yy) * step + std::size_t(stride * xx + offset)]);
      };
      return (at(y0, x0) * (1 - fx) + at(y0, x1) * fx) * (1 - fy) +
             (at(y1, x0) * (1 - fx) + at(y1, x1) * fx) * fy;
    }
    bool swap_ = false, flipX_ = false, flipY_ = false;
    float w_ = 0, h_ = 0;  // raw size
    const std::uint8_t* grey_ = nullptr;
    std::size_t greyStep_ = 0;
    int greyCols_ = 0, greyRows_ = 0;
    const std::uint8_t* chroma_ = nullptr;  // Cb, Cr interleaved at half resolution; null without colour
    std::size_t chromaStep_ = 0;
    int chromaCols_ = 0, chromaRows_ = 0;
    // Recent grey profiles by exact arguments: a colour profile mostly follows a grey one of the same
    // points (grey first, colour only where grey is weak), and takes its grey values from there.
    struct GreyProfile {
      std::array<std::uint32_t, 6> key{};  // bits of p, n; count; half
      bool used = false;
      float values[64];
    };
    mutable std::vector<GreyProfile> greyProfiles_;
  };
  const Sampler& sampler();

  // Bilinear grey value at a continuous oriented position (clamped at the border).
  float sampleOriented(cv::Point2f p) { return sampler().grey(p); }
  // Grey, Cb and Cr there (chroma 128 without colour).
  cv::Vec3f sampleOrientedColour(cv::Point2f p) { return sampler().colour(p); }
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
  std::optional<Sampler> sampler_;
  std::shared_ptr<const void> keepAlive_;
};

// Rotates / flips `src` (raw orientation) into the oriented image.
cv::Mat orient(const cv::Mat& src, quartz::CGImagePropertyOrientation o);

// The rectangle request's outward search: the steps across a side met going outward from `base` along
// `n` (unit; the side runs along `d`), one per pixel for `count` pixels: a rising (bit 0) or falling
// (bit 1) step across the side, stronger than 40 and more across it than along it; bits 2 and 3 the same
// for steps stronger than 60. Points outside the image have none. `gxy` holds each pixel's x and y
// gradients side by side (CV_16SC2).
void stepRowPortable(const cv::Mat& gxy, cv::Point2f base, cv::Point2f n, cv::Point2f d, int count,
                     std::uint8_t* out);
#if defined(__x86_64__) && defined(__GNUC__)
#define VISION_STEP_ROW_AVX2 1
// The same for processors with AVX2, eight pixels at a time; it may write up to kStepRowBlock - 1
// bytes past `count`.
constexpr int kStepRowBlock = 8;
__attribute__((target("avx2"))) void stepRowAVX2(const cv::Mat& gxy, cv::Point2f base, cv::Point2f n,
                                                 cv::Point2f d, int count, std::uint8_t* out);
#else
constexpr int kStepRowBlock = 1;
#endif

// Keeps a rectangle observation within the image, as results promise: a
// corner found past the edge (an outline extended over a card the frame cuts
// off) is put on the edge, the box is the corners' own, and the confidence
// lies in 0..1.
void keepInImage(VNRectangleObservation& observation);

}  // namespace vision::detail

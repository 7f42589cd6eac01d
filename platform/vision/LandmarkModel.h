// Internal: dlib's 68-point face shape model (a cascade of regression
// forests) held flat in memory. It gives the same shapes as
// dlib::shape_predictor, with the same arithmetic in the same order, but
// each cascade level first walks all of its trees and then sums the chosen
// leaves with the next ones already on their way from memory. dlib keeps each
// 544-byte leaf in its own allocation and fetches them one after another,
// which makes its predictor wait on memory for most of its time.
#pragma once

#include <dlib/image_processing/shape_predictor.h>

#include <array>
#include <cstdint>
#include <istream>
#include <opencv2/core.hpp>
#include <vector>

namespace vision::detail {

class LandmarkModel {
 public:
  static constexpr std::size_t kPoints = 68;

  // Reads a model in dlib's shape_predictor format. Throws dlib::serialization_error when the stream is
  // not one, or when it is not a 68-point model of complete trees.
  void load(std::istream& in);
  bool loaded() const { return !levels_.empty(); }

  // Scratch a thread reuses from call to call (predict allocates nothing once it has grown).
  struct Scratch {
    std::vector<float> features;
    std::vector<const float*> chosen;
  };
  // The upright grey image the model reads: only the few hundred pixels each cascade level looks at are
  // asked for, so a source may compute them on demand.
  class Pixels {
   public:
    virtual ~Pixels() = default;
    virtual cv::Size size() const = 0;
    virtual float at(int x, int y) const = 0;  // 0 <= x < width, 0 <= y < height
  };
  // The 68 points of the face in `box` (pixels of the image), as continuous coordinates of the image
  // (pixel i covers [i, i + 1)).
  std::array<cv::Point2f, kPoints> predict(const Pixels& image, const dlib::rectangle& box,
                                           Scratch& scratch) const;
  // The same on an 8-bit grey image.
  std::array<cv::Point2f, kPoints> predict(const cv::Mat& grey, const dlib::rectangle& box,
                                           Scratch& scratch) const;

 private:
  struct Split {
    std::uint32_t idx1, idx2;
    float thresh;
  };
  struct Level {
    std::vector<unsigned long> anchors;
    std::vector<dlib::vector<float, 2>> deltas;
    std::size_t firstTree = 0, trees = 0;
  };
  dlib::matrix<float, 0, 1> initial_;
  std::vector<Level> levels_;
  std::size_t splitsPerTree_ = 0;  // leaves per tree: one more
  std::vector<Split> splits_;      // tree (levels one after another), split
  std::vector<float> leaves_;      // tree, leaf: kDims floats each
  static constexpr std::size_t kDims = 2 * kPoints;
};

}  // namespace vision::detail

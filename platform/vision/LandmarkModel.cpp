#include "vision/LandmarkModel.h"

#include <dlib/serialize.h>

#include <algorithm>
#include <string>

namespace vision::detail {

namespace {

// Leaves requested ahead of the one being added: enough to keep several
// memory reads in flight, few enough that they are still cached when used.
constexpr std::size_t kAhead = 6;

void prefetchLeaf(const float* leaf, std::size_t floats) {
  const char* from = reinterpret_cast<const char*>(leaf);
  const char* last = reinterpret_cast<const char*>(leaf + floats) - 1;
  for (const char* p = from; p <= last; p += 64) __builtin_prefetch(p);
  __builtin_prefetch(last);
}

}  // namespace

void LandmarkModel::load(std::istream& in) {
  int version = 0;
  dlib::deserialize(version, in);
  if (version != 1) throw dlib::serialization_error("unexpected shape predictor version");
  dlib::matrix<float, 0, 1> initial;
  std::vector<std::vector<dlib::impl::regression_tree>> forests;
  std::vector<std::vector<unsigned long>> anchors;
  std::vector<std::vector<dlib::vector<float, 2>>> deltas;
  dlib::deserialize(initial, in);
  dlib::deserialize(forests, in);
  dlib::deserialize(anchors, in);
  dlib::deserialize(deltas, in);

  const auto bad = [](const char* what) {
    throw dlib::serialization_error(std::string("shape model: ") + what);
  };
  if (std::size_t(initial.size()) != kDims) bad("not a 68-point model");
  if (forests.empty() || anchors.size() != forests.size() || deltas.size() != forests.size())
    bad("levels do not match");
  std::size_t trees = 0;
  for (const auto& f : forests) trees += f.size();
  if (trees == 0 || forests[0].empty()) bad("no trees");
  const std::size_t splitsPerTree = forests[0][0].splits.size();
  // Complete trees only: a walk of depth d from the root ends on one of 2^d leaves.
  if (splitsPerTree == 0 || ((splitsPerTree + 1) & splitsPerTree) != 0) bad("trees are not complete");

  std::vector<Level> levels(forests.size());
  std::vector<Split> splits;
  std::vector<float> leaves;
  splits.reserve(trees * splitsPerTree);
  leaves.reserve(trees * (splitsPerTree + 1) * kDims);
  std::size_t tree = 0;
  for (std::size_t l = 0; l < forests.size(); ++l) {
    Level& level = levels[l];
    if (anchors[l].size() != deltas[l].size()) bad("feature pixels do not match");
    for (unsigned long a : anchors[l])
      if (a >= kPoints) bad("feature pixel anchored to no landmark");
    level.anchors = std::move(anchors[l]);
    level.deltas = std::move(deltas[l]);
    level.firstTree = tree;
    level.trees = forests[l].size();
    for (auto& t : forests[l]) {
      if (t.splits.size() != splitsPerTree || t.leaf_values.size() != splitsPerTree + 1)
        bad("trees differ in depth");
      for (const auto& s : t.splits) {
        if (s.idx1 >= level.deltas.size() || s.idx2 >= level.deltas.size()) bad("split on a missing feature");
        splits.push_back({std::uint32_t(s.idx1), std::uint32_t(s.idx2), s.thresh});
      }
      for (const auto& leaf : t.leaf_values) {
        if (std::size_t(leaf.size()) != kDims) bad("leaf of the wrong size");
        leaves.insert(leaves.end(), leaf.begin(), leaf.end());
      }
      // Free the tree as it is copied: the model is large.
      t = dlib::impl::regression_tree();
      ++tree;
    }
    forests[l].clear();
    forests[l].shrink_to_fit();
  }
  initial_ = initial;
  levels_ = std::move(levels);
  splitsPerTree_ = splitsPerTree;
  splits_ = std::move(splits);
  leaves_ = std::move(leaves);
}

std::array<cv::Point2f, LandmarkModel::kPoints> LandmarkModel::predict(const cv::Mat& grey,
                                                                       const dlib::rectangle& box,
                                                                       Scratch& scratch) const {
  class MatPixels final : public Pixels {
   public:
    explicit MatPixels(const cv::Mat& m) : m_(m) {}
    cv::Size size() const override { return m_.size(); }
    float at(int x, int y) const override { return m_.ptr<std::uint8_t>(y)[x]; }

   private:
    const cv::Mat& m_;
  };
  return predict(MatPixels(grey), box, scratch);
}

std::array<cv::Point2f, LandmarkModel::kPoints> LandmarkModel::predict(const Pixels& image,
                                                                       const dlib::rectangle& box,
                                                                       Scratch& scratch) const {
  const cv::Size size = image.size();
  const dlib::rectangle area(0, 0, long(size.width) - 1, long(size.height) - 1);
  const dlib::point_transform_affine toImage = dlib::impl::unnormalizing_tform(box);
  dlib::matrix<float, 0, 1> shape = initial_;
  const std::size_t leafFloats = (splitsPerTree_ + 1) * kDims;
  for (const Level& level : levels_) {
    // dlib's feature pixels: each is placed relative to its landmark of the current shape.
    const dlib::matrix<float, 2, 2> tform =
        dlib::matrix_cast<float>(dlib::impl::find_tform_between_shapes(initial_, shape).get_m());
    scratch.features.resize(level.deltas.size());
    for (std::size_t i = 0; i < level.deltas.size(); ++i) {
      const dlib::point p = toImage(tform * level.deltas[i] + dlib::impl::location(shape, level.anchors[i]));
      scratch.features[i] = area.contains(p) ? image.at(int(p.x()), int(p.y())) : 0.f;
    }
    const float* features = scratch.features.data();
    // Which leaf each tree chooses depends on the features alone, not on the sum so far.
    scratch.chosen.resize(level.trees);
    const Split* split = splits_.data() + level.firstTree * splitsPerTree_;
    const float* leaves = leaves_.data() + level.firstTree * leafFloats;
    for (std::size_t t = 0; t < level.trees; ++t, split += splitsPerTree_, leaves += leafFloats) {
      std::size_t i = 0;
      while (i < splitsPerTree_) {
        const Split& s = split[i];
        i = features[s.idx1] - features[s.idx2] > s.thresh ? 2 * i + 1 : 2 * i + 2;
      }
      scratch.chosen[t] = leaves + (i - splitsPerTree_) * kDims;
    }
    for (std::size_t t = 0; t < std::min(kAhead, level.trees); ++t) prefetchLeaf(scratch.chosen[t], kDims);
    float* sum = &shape(0);
    for (std::size_t t = 0; t < level.trees; ++t) {
      if (t + kAhead < level.trees) prefetchLeaf(scratch.chosen[t + kAhead], kDims);
      const float* leaf = scratch.chosen[t];
      for (std::size_t d = 0; d < kDims; ++d) sum[d] += leaf[d];
    }
  }
  // Normalised shape -> pixels of the box, as dlib maps it; dlib's pixel centres lie on integers.
  std::array<cv::Point2f, kPoints> out;
  for (std::size_t i = 0; i < kPoints; ++i) {
    const dlib::point p = toImage(dlib::impl::location(shape, i));
    out[i] = {float(p.x()) + 0.5f, float(p.y()) + 0.5f};
  }
  return out;
}

}  // namespace vision::detail

// Internal: the learned document localiser. A small network, run with
// OpenCV's dnn module from a plugin loaded on first use (platform/plugins/docmodel),
// gives the probability that each cell of a coarse grid over the searched part
// of the image lies on a document. The rectangle request fits outlines to it
// and refines them at full resolution (Rectangles.cpp).
#pragma once

#include <opencv2/core.hpp>

#include "vision/Frame.h"

namespace vision::detail {

// The network's fixed input (a square of this many pixels: the searched part of the image, stretched)
// and output (a square grid of document probabilities over the same part).
inline constexpr int kDocumentModelInput = 128;
inline constexpr int kDocumentModelOutput = 64;

struct DocumentModelInput {
  cv::Mat planes;  // CV_8UC3, kDocumentModelInput square: luma, Cb, Cr (128, 128 without colour)
  // The part of the oriented image the input covers (oriented pixels) and how it was stretched.
  cv::Rect2f rect;
};

// The network's input for the part `rect` (oriented pixels) of the frame. The training data is made
// with this function too, so that the network sees what it will see here.
DocumentModelInput documentModelInput(Frame& frame, const cv::Rect2f& rect);

// The document probabilities (CV_32F, kDocumentModelOutput square) for an input; empty when the model
// cannot be loaded (the plugin or OpenCV's dnn module missing). Thread-safe; loads the model on its
// first call.
cv::Mat documentProbabilities(const cv::Mat& planes);

}  // namespace vision::detail

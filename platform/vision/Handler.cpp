#include <algorithm>

#include "vision/Frame.h"

namespace vision {

VNRequest::VNRequest(CompletionHandler handler) : completionHandler(std::move(handler)) {}
VNRequest::~VNRequest() = default;

VNRecognizedTextObservation::VNRecognizedTextObservation(CGRect box, std::vector<VNRecognizedText> candidates)
    : boundingBox(box), candidates_(std::move(candidates)) {}

float VNRecognizedTextObservation::confidence() const {
  return candidates_.empty() ? 0.f : candidates_.front().confidence;
}

std::vector<VNRecognizedText> VNRecognizedTextObservation::topCandidates(
    std::size_t maxCandidateCount) const {
  const std::size_t n = std::min(maxCandidateCount, candidates_.size());
  return {candidates_.begin(), candidates_.begin() + static_cast<std::ptrdiff_t>(n)};
}

std::vector<CGPoint> VNFaceLandmarkRegion2D::pointsInImage(CGSize imageSize, CGRect box) const {
  std::vector<CGPoint> out;
  out.reserve(normalizedPoints.size());
  for (const auto& p : normalizedPoints)
    out.push_back({(box.origin.x + p.x * box.size.width) * imageSize.width,
                   (box.origin.y + p.y * box.size.height) * imageSize.height});
  return out;
}

VNImageRequestHandler::VNImageRequestHandler(corevideo::CVPixelBufferRef pixelBuffer,
                                             quartz::CGImagePropertyOrientation orientation)
    : frame_(std::make_unique<detail::Frame>(std::move(pixelBuffer), orientation)) {}

VNImageRequestHandler::VNImageRequestHandler(quartz::CGImageRef image,
                                             quartz::CGImagePropertyOrientation orientation)
    : frame_(std::make_unique<detail::Frame>(std::move(image), orientation)) {}

VNImageRequestHandler::~VNImageRequestHandler() = default;

bool VNImageRequestHandler::perform(const std::vector<VNRequest*>& requests, VNError* error) {
  lastError_.reset();
  // Face analysis is shared by the face requests of one call only.
  frame_->faces.reset();
  for (VNRequest* request : requests) {
    if (!request) continue;
    std::optional<VNError> failure;
    request->clearResults();
    if (frame_->problem()) {
      failure = frame_->problem();
    } else {
      VNError e;
      bool ok = false;
      try {
        ok = request->performOn(*frame_, e);
      } catch (const std::exception& ex) {
        e = {VNError::Code::internalError, ex.what()};
      }
      if (!ok) failure = e;
    }
    if (request->completionHandler) request->completionHandler(*request, failure);
    if (failure) {
      lastError_ = failure;
      if (error) *error = *failure;
      return false;
    }
  }
  return true;
}

}  // namespace vision

// Vision: image analysis requests performed by an image request handler.
//
// A caller owns its request objects and its handler. A handler wraps one image
// (a pixel buffer or a CGImage, shared, never copied) and an orientation; the
// requests see the *oriented* image: CGImagePropertyOrientation::right means
// the stored pixels must be turned 90 degrees clockwise to be upright (a phone's
// landscape sensor held in portrait), and every result is expressed in that
// upright image.
//
// Coordinates in results and regions of interest are normalised to the
// oriented image (0 to 1), origin at the lower left, y growing upward. Results
// are always relative to the whole image, also when a region of interest
// restricted the search.
//
// Threads: a handler and the requests given to one perform() call belong to
// the calling thread for the duration of the call; different handlers may be
// performed concurrently from any threads. Models (face detector, landmark
// model, text engines) are loaded lazily, once per process, the first time a
// request needs them.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "morvik/platform/corevideo/CoreVideo.h"
#include "morvik/platform/quartz/CGGeometry.h"
#include "morvik/platform/quartz/CGImage.h"

namespace vision {

using quartz::CGFloat;
using quartz::CGPoint;
using quartz::CGRect;
using quartz::CGSize;

struct VNError {
  enum class Code { invalidImage, invalidArgument, modelMissing, internalError };
  Code code = Code::internalError;
  std::string localizedDescription;
};

namespace detail {
class Frame;
}

class VNRequest {
 public:
  // Called synchronously at the end of perform() for this request, on the
  // performing thread, with the error when the request failed.
  using CompletionHandler = std::function<void(VNRequest& request, const std::optional<VNError>& error)>;

  explicit VNRequest(CompletionHandler completionHandler = {});
  virtual ~VNRequest();
  VNRequest(const VNRequest&) = delete;
  VNRequest& operator=(const VNRequest&) = delete;

  // Part of the oriented image searched (normalised, origin lower left).
  // Clipped to the unit square; an empty region finds nothing.
  CGRect regionOfInterest = CGRect::make(0, 0, 1, 1);
  CompletionHandler completionHandler;

 protected:
  friend class VNImageRequestHandler;
  // Analyses the frame (results of an earlier perform already cleared); false with `error` set on failure.
  virtual bool performOn(detail::Frame& frame, VNError& error) = 0;
  virtual void clearResults() = 0;
};

// ----- Rectangles -----------------------------------------------------------------

struct VNRectangleObservation {
  CGRect boundingBox;  // smallest upright rectangle holding the four corners
  CGPoint topLeft, topRight, bottomLeft, bottomRight;
  // 0 to 1: the mean share of each side along which the image has a strong
  // step, averaged with the weakest side's share (one missing side halves it).
  float confidence = 0;
};

class VNDetectRectanglesRequest : public VNRequest {
 public:
  using VNRequest::VNRequest;

  // Most rectangles returned (by decreasing confidence); 0 means no limit.
  std::size_t maximumObservations = 1;
  // Smallest accepted rectangle: its longer side as a share of the image's shorter side.
  float minimumSize = 0.2f;
  float minimumConfidence = 0.0f;
  // Aspect ratio = shorter side / longer side (0 to 1).
  float minimumAspectRatio = 0.5f;
  float maximumAspectRatio = 1.0f;
  // Largest accepted deviation of any corner angle from 90 degrees, in degrees.
  float quadratureTolerance = 30.0f;

  const std::vector<VNRectangleObservation>& results() const { return results_; }

 protected:
  bool performOn(detail::Frame& frame, VNError& error) override;
  void clearResults() override { results_.clear(); }

 private:
  std::vector<VNRectangleObservation> results_;
};

// ----- Text --------------------------------------------------------------------------

enum class VNRequestTextRecognitionLevel { accurate, fast };

struct VNRecognizedText {
  std::string string;
  float confidence = 0;  // 0 to 1
};

class VNRecognizedTextObservation {
 public:
  VNRecognizedTextObservation(CGRect boundingBox, std::vector<VNRecognizedText> candidates);
  CGRect boundingBox;  // the text line
  float confidence() const;
  // The best `maxCandidateCount` readings, best first (at most as many as were made).
  std::vector<VNRecognizedText> topCandidates(std::size_t maxCandidateCount) const;

 private:
  std::vector<VNRecognizedText> candidates_;
};

class VNRecognizeTextRequest : public VNRequest {
 public:
  using VNRequest::VNRequest;

  // fast: a glyph classifier trained, on the process's first fast request
  // (one to three seconds, on the calling thread), from the machine's fonts:
  // OCR-B (fonts-ocr-b) and DejaVu or Liberation; without them the request
  // fails with modelMissing. It reads print, not handwriting, and offers a
  // line shaped like a machine-readable zone first as a zone line (A-Z, 0-9,
  // '<'). accurate: Tesseract's LSTM model, line by line.
  VNRequestTextRecognitionLevel recognitionLevel = VNRequestTextRecognitionLevel::accurate;
  // Dictionaries (accurate level only; the fast level reads glyph by glyph).
  bool usesLanguageCorrection = true;
  // BCP 47 tags; only English ("en", "en-US", ...) is installed. Another language fails the request.
  std::vector<std::string> recognitionLanguages = {"en-US"};
  // Lines whose text is lower than this share of the image height are ignored (0: none).
  float minimumTextHeight = 0;

  const std::vector<VNRecognizedTextObservation>& results() const { return results_; }

 protected:
  bool performOn(detail::Frame& frame, VNError& error) override;
  void clearResults() override { results_.clear(); }

 private:
  std::vector<VNRecognizedTextObservation> results_;
};

// ----- Faces ----------------------------------------------------------------------------

// A landmark region: points normalised to the face's bounding box (origin lower left).
struct VNFaceLandmarkRegion2D {
  std::vector<CGPoint> normalizedPoints;
  std::size_t pointCount() const { return normalizedPoints.size(); }
  // Points in the oriented image of the given size, origin lower left.
  std::vector<CGPoint> pointsInImage(CGSize imageSize, CGRect faceBoundingBox) const;
};

// The 68-point layout (jaw 0-16, brows 17-26, nose 27-35, eyes 36-47, lips 48-67).
// "left" and "right" are the image's left and right.
struct VNFaceLandmarks2D {
  VNFaceLandmarkRegion2D allPoints;
  VNFaceLandmarkRegion2D faceContour, leftEyebrow, rightEyebrow, noseCrest, nose, leftEye, rightEye,
      outerLips, innerLips;
};

struct VNFaceObservation {
  CGRect boundingBox;
  float confidence = 1;
  // Head pose in radians, from a fit of the landmarks to a generic head.
  // yaw > 0: the nose points toward the image's right (in an unmirrored front
  //   camera image, the person has turned to their own left); a mirrored image
  //   gives the opposite sign.
  // roll > 0: the top of the head leans toward the image's right (clockwise).
  // pitch > 0: the face turns upward.
  std::optional<float> yaw, roll, pitch;
  // 0 to 1, set by VNDetectFaceCaptureQualityRequest only; see there.
  std::optional<float> faceCaptureQuality;
  std::optional<VNFaceLandmarks2D> landmarks;  // set by VNDetectFaceLandmarksRequest
};

// Faces with landmarks and head pose, largest face first.
class VNDetectFaceLandmarksRequest : public VNRequest {
 public:
  using VNRequest::VNRequest;
  const std::vector<VNFaceObservation>& results() const { return results_; }

 protected:
  bool performOn(detail::Frame& frame, VNError& error) override;
  void clearResults() override { results_.clear(); }

 private:
  std::vector<VNFaceObservation> results_;
};

// Faces with a capture quality, largest face first. The quality (0 to 1) is
// the weighted mean of four scores, each 0 to 1:
//   sharpness 0.35 (variance of the Laplacian inside the face, v / (v + 40)),
//   pose      0.25 (1 - max(|yaw|, |pitch|, |roll|) / 0.8, at least 0),
//   size      0.20 (face width / image width, 0 at 0.08, 1 from 0.30),
//   exposure  0.20 (mean face brightness: 1 within 70-190 of 255, falling to 0 at 15 and 250).
class VNDetectFaceCaptureQualityRequest : public VNRequest {
 public:
  using VNRequest::VNRequest;
  const std::vector<VNFaceObservation>& results() const { return results_; }

 protected:
  bool performOn(detail::Frame& frame, VNError& error) override;
  void clearResults() override { results_.clear(); }

 private:
  std::vector<VNFaceObservation> results_;
};

// ----- Handler -----------------------------------------------------------------------------

class VNImageRequestHandler {
 public:
  // NV12 (video or full range: the luma plane is used, no copy) and BGRA buffers.
  VNImageRequestHandler(corevideo::CVPixelBufferRef pixelBuffer, quartz::CGImagePropertyOrientation orientation =
                                                               quartz::CGImagePropertyOrientation::up);
  VNImageRequestHandler(quartz::CGImageRef image, quartz::CGImagePropertyOrientation orientation =
                                                      quartz::CGImagePropertyOrientation::up);
  ~VNImageRequestHandler();
  VNImageRequestHandler(const VNImageRequestHandler&) = delete;
  VNImageRequestHandler& operator=(const VNImageRequestHandler&) = delete;

  // Runs the requests in order, synchronously; each request's completion
  // handler runs right after it. Returns false when a request failed (bad or
  // missing image, unsupported format, model missing, bad argument): the
  // remaining requests are not run and `error` (and lastError()) tells why.
  // Null entries are ignored.
  bool perform(const std::vector<VNRequest*>& requests, VNError* error = nullptr);

  const std::optional<VNError>& lastError() const { return lastError_; }

 private:
  std::unique_ptr<detail::Frame> frame_;
  std::optional<VNError> lastError_;
};

}  // namespace vision

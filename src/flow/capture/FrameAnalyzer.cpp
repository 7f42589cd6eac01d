#include "flow/capture/FrameAnalyzer.h"

#include <morvik/platform/vision/Vision.h>

namespace morvik::capture {

using quartz::CGImagePropertyOrientation;

quartz::CGImagePropertyOrientation visionOrientation(std::optional<PreviewOrientation> o) {
  if (!o) return CGImagePropertyOrientation::right;
  switch (*o) {
    case PreviewOrientation::portraitUpsideDown:
      return CGImagePropertyOrientation::left;
    case PreviewOrientation::landscapeRight:
      return CGImagePropertyOrientation::down;
    case PreviewOrientation::landscapeLeft:
      return CGImagePropertyOrientation::up;
    case PreviewOrientation::portrait:
    case PreviewOrientation::unknown:
      break;
  }
  return CGImagePropertyOrientation::right;
}

BackRequirement backRequirement(IDDocumentType type, const IDScanStepKinds& kinds) {
  if (kinds.face || !kinds.back) return BackRequirement::none;
  switch (type.value()) {
    case IDDocumentType::Value::driversLicenseOrIDCard:
    case IDDocumentType::Value::passportCard:
      return BackRequirement::barcode;
    case IDDocumentType::Value::passport:
    case IDDocumentType::Value::internationalID:
      return BackRequirement::mrz;
  }
  return BackRequirement::none;
}

FrameAnalyzer::FrameAnalyzer(IDDocumentType documentType, std::string stepTitle, SharedFlags& flags)
    : documentType_(documentType), title_(std::move(stepTitle)), kinds_(scanStepKinds(title_)), flags_(flags) {}

void FrameAnalyzer::setPreview(const PreviewSnapshot& snapshot) {
  std::lock_guard lock(previewLock_);
  preview_ = snapshot;
}

PreviewSnapshot FrameAnalyzer::preview() const {
  std::lock_guard lock(previewLock_);
  return preview_;
}

bool FrameAnalyzer::rectangleOK() const {
  return rectDetected_ && rectAspectOK_ && rectFillOK_ && rectAngleOK_ && rectStable_;
}

std::vector<std::string> FrameAnalyzer::prepareLivenessOnAppear() {
  std::lock_guard lock(livenessLock_);
  auto effects = liveness_.prepareOnAppear();
  livenessPassed_ = liveness_.passed();
  return effects.texts;
}

FrameOutcome FrameAnalyzer::processFrame(const avf::CVPixelBufferRef& buffer, std::optional<double> brightness) {
  FrameOutcome out;
  if (!flags_.isReadyToScan.load()) return out;
  if (!brightness) return out;
  brightness_.append(*brightness);
  const bool settled = !flags_.isAdjustingFocus.load() && !flags_.isAdjustingExposure.load();
  const int n = ++frameCounter_;
  const PreviewSnapshot preview = this->preview();
  out.analysed = true;

  if (kinds_.face) {
    if (n % 2 == 0) analyzeFace(buffer, preview, out);
    FaceFrameInputs in;
    {
      std::lock_guard lock(livenessLock_);
      in.faceQuality = liveness_.faceQuality();
      in.livenessPassed = liveness_.passed();
    }
    in.settled = settled;
    in.brightnessDeviation = brightness_.standardDeviation();
    out.good = isGoodFaceFrame(in);
    return out;
  }

  const BackRequirement requirement = backRequirement(documentType_, kinds_);
  if (n % 2 == 0) detectRectangle(buffer, preview, out);
  if (n % 3 == 0 && requirement == BackRequirement::mrz) recognizeMRZ(buffer, preview);
  DocumentFrameInputs in;
  in.settled = settled;
  in.rectangleOK = rectangleOK();
  in.barcodeDetected = flags_.barcodeDetected.load();
  in.mrzDetected = mrzDetected_.load();
  out.good = isGoodDocumentFrame(requirement, in);
  return out;
}

void FrameAnalyzer::detectRectangle(const avf::CVPixelBufferRef& buffer, const PreviewSnapshot& preview,
                                    FrameOutcome& out) {
  if (!buffer) return;
  vision::VNDetectRectanglesRequest request;
  request.maximumObservations = 1;
  request.minimumSize = 0.1f;
  request.minimumConfidence = 0.6f;
  request.minimumAspectRatio = 0.2f;
  request.quadratureTolerance = 30;
  request.regionOfInterest = quartz::CGRect::make(0.075, 0.075, 0.85, 0.85);
  vision::VNImageRequestHandler handler(buffer, preview.orientation);
  const bool ok = handler.perform({&request});
  if (!ok || request.results().empty()) {
    rectDetected_ = rectAspectOK_ = rectFillOK_ = rectAngleOK_ = rectStable_ = false;
    window_.clear();
    out.fadeOutline = true;
    return;
  }
  const auto& obs = request.results().front();
  Quad quad{obs.boundingBox, obs.topLeft, obs.topRight, obs.bottomLeft, obs.bottomRight};
  if (preview.previewSize) {
    const auto size = *preview.previewSize;
    out.drawOutline = OutlineCorners{toPreviewPoint(quad.topLeft, size), toPreviewPoint(quad.topRight, size),
                                     toPreviewPoint(quad.bottomLeft, size), toPreviewPoint(quad.bottomRight, size)};
  }
  rectStable_ = window_.append(quad, preview.previewSize);
  const RectangleVerdict v = evaluateRectangle(quad);
  rectAspectOK_ = v.aspectOK;
  rectFillOK_ = v.fillOK;
  rectAngleOK_ = v.angleOK;
  rectDetected_ = v.detected;
  if (window_.isFull()) rectDetected_ = rectDetected_ && rectStable_;
}

void FrameAnalyzer::recognizeMRZ(const avf::CVPixelBufferRef& buffer, const PreviewSnapshot& preview) {
  if (!buffer) {
    mrzDetected_ = false;
    return;
  }
  std::optional<bool> verdict;
  vision::VNRecognizeTextRequest request([&verdict](vision::VNRequest& r, const std::optional<vision::VNError>& e) {
    if (e) {
      verdict = false;
      return;
    }
    auto* text = dynamic_cast<vision::VNRecognizeTextRequest*>(&r);
    if (!text) {
      verdict = false;
      return;
    }
    std::vector<std::string> lines;
    for (const auto& observation : text->results()) {
      auto candidates = observation.topCandidates(1);
      if (!candidates.empty()) lines.push_back(candidates.front().string);
    }
    verdict = capture::mrzDetected(lines);
  });
  request.recognitionLevel = vision::VNRequestTextRecognitionLevel::fast;
  request.usesLanguageCorrection = false;
  request.recognitionLanguages = {"en-US"};
  request.regionOfInterest = quartz::CGRect::make(0, 0, 1, 0.6);
  vision::VNImageRequestHandler handler(buffer, preview.orientation);
  if (!handler.perform({&request})) {
    mrzDetected_ = false;
    return;
  }
  mrzDetected_ = verdict.value_or(false);
}

void FrameAnalyzer::analyzeFace(const avf::CVPixelBufferRef& buffer, const PreviewSnapshot& preview,
                                FrameOutcome& out) {
  if (!buffer) return;
  vision::VNDetectFaceLandmarksRequest landmarks;
  vision::VNDetectFaceCaptureQualityRequest quality;
  vision::VNImageRequestHandler handler(buffer, preview.orientation);
  if (!handler.perform({&landmarks, &quality})) return;

  std::lock_guard lock(livenessLock_);
  LivenessEffects effects;
  if (landmarks.results().empty()) {
    effects = liveness_.faceMissing();
  } else {
    const auto& face = landmarks.results().front();
    std::optional<float> q = face.faceCaptureQuality;
    if (!q && !quality.results().empty()) q = quality.results().front().faceCaptureQuality;
    const float midX = static_cast<float>(face.boundingBox.origin.x + face.boundingBox.size.width / 2);
    effects = liveness_.faceFound(midX, q, face.yaw, preview.mirrored);
  }
  livenessPassed_ = liveness_.passed();
  out.livenessTexts.insert(out.livenessTexts.end(), effects.texts.begin(), effects.texts.end());
  out.completeLiveness = out.completeLiveness || effects.complete;
}

}  // namespace morvik::capture

// The capture screen's per-frame analysis, run on the frame queue. It owns the
// analysis state (frame counter, brightness history, rectangle flags and
// stability window, MRZ flag, liveness machine) and answers, for each frame,
// what the screen must do on the main queue. It never touches a view or a
// layer: what the screen's UI knows that the frame queue needs (preview size,
// orientation, mirroring) arrives as a snapshot the screen refreshes on layout.
#pragma once

#include "flow/capture/CaptureRules.h"

#include <morvik/flow/IDDocumentType.h>
#include <morvik/platform/avf/CoreVideo.h>
#include <morvik/platform/quartz/CGGeometry.h>
#include <morvik/platform/quartz/CGImage.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace morvik::capture {

// What the UI side publishes for the frame queue (main queue writes, frame
// queue reads; guarded by the analyzer's lock).
struct PreviewSnapshot {
  std::optional<quartz::CGSize> previewSize;  // none without a preview layer
  quartz::CGImagePropertyOrientation orientation = quartz::CGImagePropertyOrientation::right;
  bool mirrored = false;
};

// Flags with one writer on another thread each; readers need a recent value.
struct SharedFlags {
  std::atomic<bool> isReadyToScan{true};
  std::atomic<bool> isAdjustingFocus{true};
  std::atomic<bool> isAdjustingExposure{true};
  std::atomic<bool> barcodeDetected{false};
};

// The outline of a detected document, in preview coordinates.
struct OutlineCorners {
  quartz::CGPoint topLeft, topRight, bottomLeft, bottomRight;
};

struct FrameOutcome {
  bool analysed = false;  // false: the frame was ignored (no progress update)
  bool good = false;
  std::optional<OutlineCorners> drawOutline;
  bool fadeOutline = false;
  std::vector<std::string> livenessTexts;  // in order
  bool completeLiveness = false;
};

class FrameAnalyzer {
 public:
  FrameAnalyzer(IDDocumentType documentType, std::string stepTitle, SharedFlags& flags);

  // Frame queue only.
  FrameOutcome processFrame(const avf::CVPixelBufferRef& pixelBuffer, std::optional<double> brightness);

  // Main queue: the screen appeared (face steps prepare the liveness machine).
  std::vector<std::string> prepareLivenessOnAppear();

  // Main queue, on layout and when the connection changes.
  void setPreview(const PreviewSnapshot& snapshot);
  PreviewSnapshot preview() const;

  // Read-outs for tests and the screen (frame queue, or after it drained).
  int frameCounter() const { return frameCounter_; }
  bool livenessPassed() const { return livenessPassed_.load(); }
  // A copy taken under the lock: the frame queue may be advancing it.
  LivenessMachine liveness() const {
    std::lock_guard lock(livenessLock_);
    return liveness_;
  }
  bool mrzDetected() const { return mrzDetected_.load(); }
  bool rectangleOK() const;
  // The five rectangle flags and the stability window's length.
  struct RectangleState {
    bool detected, aspectOK, fillOK, angleOK, stable;
    std::size_t windowSize;
  };
  RectangleState rectangleState() const {
    return {rectDetected_, rectAspectOK_, rectFillOK_, rectAngleOK_, rectStable_, window_.size()};
  }
  double brightnessDeviation() const { return brightness_.standardDeviation(); }

 private:
  void detectRectangle(const avf::CVPixelBufferRef& buffer, const PreviewSnapshot& preview,
                       FrameOutcome& out);
  void recognizeMRZ(const avf::CVPixelBufferRef& buffer, const PreviewSnapshot& preview);
  void analyzeFace(const avf::CVPixelBufferRef& buffer, const PreviewSnapshot& preview, FrameOutcome& out);

  IDDocumentType documentType_;
  std::string title_;
  IDScanStepKinds kinds_;
  SharedFlags& flags_;

  mutable std::mutex previewLock_;
  PreviewSnapshot preview_;

  // Frame-queue state.
  int frameCounter_ = 0;
  BrightnessHistory brightness_;
  StabilityWindow window_;
  bool rectDetected_ = false, rectAspectOK_ = false, rectFillOK_ = false, rectAngleOK_ = false,
       rectStable_ = false;
  std::atomic<bool> mrzDetected_{false};  // read by the main queue between frames
  LivenessMachine liveness_;
  std::atomic<bool> livenessPassed_{false};
  mutable std::mutex livenessLock_;  // the appear-time preparation runs on the main queue
};

// The orientation Vision is asked to use for a preview connection orientation.
enum class PreviewOrientation { portrait, portraitUpsideDown, landscapeRight, landscapeLeft, unknown };
quartz::CGImagePropertyOrientation visionOrientation(std::optional<PreviewOrientation> connectionOrientation);

BackRequirement backRequirement(IDDocumentType type, const IDScanStepKinds& kinds);

}  // namespace morvik::capture

// The capture screen's decision rules, kept free of views, cameras and queues
// so each can be checked with scripted inputs. The screen owns one instance of
// each stateful rule and calls it from the queue the rule names.
#pragma once

#include <morvik/platform/quartz/CGGeometry.h>

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace morvik::capture {

// ---- Progress (main queue) -------------------------------------------------

inline constexpr double kProgressGoodStep = 0.12;
inline constexpr double kProgressBadStep = 0.08;

// One progress update: +0.12 for a good frame, -0.08 otherwise, kept in [0, 1].
double nextProgress(double progress, bool good);

// ---- Brightness (frame queue) ----------------------------------------------

class BrightnessHistory {
 public:
  static constexpr std::size_t kCapacity = 40;
  static constexpr std::size_t kMinimumForDeviation = 8;

  void append(double value);
  std::size_t size() const { return values_.size(); }
  const std::deque<double>& values() const { return values_; }
  // Population standard deviation; 0 with fewer than 8 values.
  double standardDeviation() const;

 private:
  std::deque<double> values_;
};

// ---- Rectangle analysis (frame queue) --------------------------------------

// A detected quadrilateral in Vision's normalised space (origin lower left).
struct Quad {
  quartz::CGRect boundingBox;
  quartz::CGPoint topLeft, topRight, bottomLeft, bottomRight;
};

// How close to the frame's edge (a share of the frame's side) a corner may come.
inline constexpr double kFrameEdgeMargin = 0.01;

struct RectangleVerdict {
  bool aspectOK = false;
  bool fillOK = false;
  bool angleOK = false;
  bool centred = false;
  // No corner within kFrameEdgeMargin of the frame's edge: a document that
  // runs past the frame shows as an outline touching its border (corners are
  // kept inside the image), and a photo of it would be cut.
  bool insideFrame = false;
  bool detected = false;  // centred && aspect && fill && angle && inside the frame
};

RectangleVerdict evaluateRectangle(const Quad& quad);

// Normalised point -> preview layer coordinates (scale and vertical flip only).
quartz::CGPoint toPreviewPoint(quartz::CGPoint normalised, quartz::CGSize previewSize);

// Every corner's x and y differ by less than 8 preview points.
bool isStableRectangle(const Quad& a, const Quad& b, quartz::CGSize previewSize);

// The stability window: at most three consecutive analysed detections.
class StabilityWindow {
 public:
  static constexpr std::size_t kLength = 3;

  // Appends (dropping the oldest past three) and answers whether the window is
  // full and every member is stable against the oldest. Without a preview
  // size (no preview layer) nothing is ever stable.
  bool append(const Quad& quad, std::optional<quartz::CGSize> previewSize);
  void clear() { window_.clear(); }
  std::size_t size() const { return window_.size(); }
  bool isFull() const { return window_.size() == kLength; }

 private:
  std::deque<Quad> window_;
};

// ---- MRZ acceptance (frame queue) ------------------------------------------

bool isAcceptedMRZLine(const std::string& line);
// True when at least one candidate line is accepted.
bool mrzDetected(const std::vector<std::string>& topCandidates);

// ---- Document step verdict --------------------------------------------------

enum class BackRequirement { none, barcode, mrz };

struct DocumentFrameInputs {
  bool settled = false;
  bool rectangleOK = false;
  bool barcodeDetected = false;
  bool mrzDetected = false;
};

bool isGoodDocumentFrame(BackRequirement requirement, const DocumentFrameInputs& in);

// ---- Face liveness (frame queue) -------------------------------------------

enum class LivenessStage { center, lookLeft, lookRight, center2, done };

inline constexpr const char* kTextCenter = "center your face";
inline constexpr const char* kTextLeft = "<< turn head left";
inline constexpr const char* kTextRight = "turn head right >>";
inline constexpr const char* kTextAllGood = "all good";

// What one step of the machine asks the screen to do.
struct LivenessEffects {
  // Texts for setLivenessText, in order (a reset's text comes first).
  std::vector<std::string> texts;
  bool complete = false;  // post completeLiveness to the main queue
};

class LivenessMachine {
 public:
  static constexpr int kMaxStageFrames = 60;
  static constexpr int kMaxWrongFrames = 30;
  static constexpr int kMaxMissingFaceFrames = 20;
  static constexpr int kHoldFramesCenter = 5;
  static constexpr int kHoldFramesTurn = 5;
  static constexpr float kCentredYaw = 0.15f;
  static constexpr float kTurnedYaw = 0.35f;

  // Preparation when the face screen appears (the hold count is kept).
  LivenessEffects prepareOnAppear();

  // An analysed frame without a face.
  LivenessEffects faceMissing();

  // An analysed frame with a face. `quality` is the reported capture quality
  // if any; `yaw` the reported yaw if any (before mirroring).
  LivenessEffects faceFound(float midX, std::optional<float> quality, std::optional<float> yaw,
                            bool previewMirrored);

  // One step of the stage table with the given (unmirrored) yaw.
  LivenessEffects updateStage(float yaw, bool previewMirrored);

  LivenessEffects reset();

  LivenessStage stage() const { return stage_; }
  bool passed() const { return passed_; }
  bool faceCentered() const { return faceCentered_; }
  float faceQuality() const { return faceQuality_; }
  float lastYaw() const { return lastYaw_; }
  int stageFrameCount() const { return stageFrameCount_; }
  int stageHoldCount() const { return stageHoldCount_; }
  int wrongFrameCount() const { return wrongFrameCount_; }
  int missingFaceCount() const { return missingFaceCount_; }

 private:
  void advance(LivenessStage next);

  LivenessStage stage_ = LivenessStage::center;
  bool passed_ = false;
  bool faceCentered_ = false;
  float faceQuality_ = 0;
  float lastYaw_ = 0;
  int stageFrameCount_ = 0;
  int stageHoldCount_ = 0;
  int wrongFrameCount_ = 0;
  int missingFaceCount_ = 0;
};

struct FaceFrameInputs {
  float faceQuality = 0;
  bool settled = false;
  bool livenessPassed = false;
  double brightnessDeviation = 0;
};

bool isGoodFaceFrame(const FaceFrameInputs& in);

// ---- Geometry of the screen --------------------------------------------------

// The cutout in overlay coordinates: a circle's bounding square on face steps,
// the card rectangle otherwise.
quartz::CGRect cutoutRect(quartz::CGSize overlay, bool faceStep);
inline constexpr double kCardAspect = 1.586;
inline constexpr double kCardCornerRadius = 18;

// The document crop of a still: the normalised box (lower-left origin) scaled
// to the extent, grown by margin x its size on every side, clipped to the
// extent. None when the result is null or 10 pixels or less on a side.
std::optional<quartz::CGRect> documentCropRect(const quartz::CGRect& normalisedBox,
                                               const quartz::CGRect& extent, double margin);

// "Front", "Back", "Face" or the title's first word.
std::string shortTitle(const std::string& title);

}  // namespace morvik::capture

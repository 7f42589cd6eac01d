#include "flow/capture/CaptureRules.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>

namespace morvik::capture {

double nextProgress(double progress, bool good) {
  const double moved = good ? progress + kProgressGoodStep : progress - kProgressBadStep;
  return std::clamp(moved, 0.0, 1.0);
}

void BrightnessHistory::append(double value) {
  values_.push_back(value);
  while (values_.size() > kCapacity) values_.pop_front();
}

double BrightnessHistory::standardDeviation() const {
  const std::size_t n = values_.size();
  if (n < kMinimumForDeviation) return 0;
  double sum = 0;
  for (double v : values_) sum += v;
  const double mean = sum / static_cast<double>(n);
  double squares = 0;
  for (double v : values_) squares += (v - mean) * (v - mean);
  return std::sqrt(squares / static_cast<double>(n));
}

namespace {

double edgeAngleDegrees(quartz::CGPoint from, quartz::CGPoint to) {
  return std::fabs(std::atan2(to.y - from.y, to.x - from.x) * 180.0 / std::numbers::pi);
}

}  // namespace

RectangleVerdict evaluateRectangle(const Quad& quad) {
  const auto& box = quad.boundingBox;
  const double w = std::max(box.size.width, 0.000001);
  const double h = std::max(box.size.height, 0.000001);
  RectangleVerdict v;
  const double ratio = std::max(w, h) / std::min(w, h);
  v.aspectOK = ratio >= 1.1 && ratio <= 2.5;
  const double fill = w * h;
  v.fillOK = fill >= 0.05 && fill <= 0.9;
  const double top = edgeAngleDegrees(quad.topLeft, quad.topRight);
  const double bottom = edgeAngleDegrees(quad.bottomLeft, quad.bottomRight);
  v.angleOK = std::min(top, bottom) <= 35;
  // Centring uses the box as reported, not the clamped sizes.
  v.centred = std::fabs(box.origin.x + box.size.width / 2 - 0.5) <= 0.3 &&
              std::fabs(box.origin.y + box.size.height / 2 - 0.5) <= 0.3;
  v.insideFrame = true;
  for (const auto& corner : {quad.topLeft, quad.topRight, quad.bottomLeft, quad.bottomRight}) {
    const bool inside = corner.x >= kFrameEdgeMargin && corner.x <= 1 - kFrameEdgeMargin &&
                        corner.y >= kFrameEdgeMargin && corner.y <= 1 - kFrameEdgeMargin;
    v.insideFrame = v.insideFrame && inside;
  }
  v.detected = v.centred && v.aspectOK && v.fillOK && v.angleOK && v.insideFrame;
  return v;
}

quartz::CGPoint toPreviewPoint(quartz::CGPoint p, quartz::CGSize preview) {
  return {p.x * preview.width, preview.height - p.y * preview.height};
}

bool isStableRectangle(const Quad& a, const Quad& b, quartz::CGSize preview) {
  const quartz::CGPoint as[] = {a.topLeft, a.topRight, a.bottomLeft, a.bottomRight};
  const quartz::CGPoint bs[] = {b.topLeft, b.topRight, b.bottomLeft, b.bottomRight};
  for (int i = 0; i < 4; ++i) {
    const auto pa = toPreviewPoint(as[i], preview);
    const auto pb = toPreviewPoint(bs[i], preview);
    if (!(std::fabs(pa.x - pb.x) < 8) || !(std::fabs(pa.y - pb.y) < 8)) return false;
  }
  return true;
}

bool StabilityWindow::append(const Quad& quad, std::optional<quartz::CGSize> previewSize) {
  window_.push_back(quad);
  if (window_.size() >= kLength + 1) window_.pop_front();
  if (window_.size() != kLength || !previewSize) return false;
  const Quad& oldest = window_.front();
  return std::all_of(window_.begin(), window_.end(),
                     [&](const Quad& q) { return isStableRectangle(q, oldest, *previewSize); });
}

namespace {

// Splits UTF-8 text into code points so lengths count characters, not bytes.
std::vector<std::string> codePoints(const std::string& s) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 1;
    if (c >= 0xF0) {
      n = 4;
    } else if (c >= 0xE0) {
      n = 3;
    } else if (c >= 0xC0) {
      n = 2;
    }
    n = std::min(n, s.size() - i);
    out.push_back(s.substr(i, n));
    i += n;
  }
  return out;
}

std::string upper(const std::string& s) {
  std::string out = s;
  for (char& ch : out) {
    if (static_cast<unsigned char>(ch) < 0x80) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  return out;
}

}  // namespace

bool isAcceptedMRZLine(const std::string& raw) {
  const std::string line = upper(raw);
  const auto chars = codePoints(line);
  const std::size_t len = chars.size();
  std::size_t fillers = 0, alnum = 0;
  for (const auto& ch : chars) {
    if (ch == "<") {
      ++fillers;
    } else if (ch.size() == 1 && std::isalnum(static_cast<unsigned char>(ch[0]))) {
      ++alnum;
    }
  }
  const bool rule1 = fillers >= 1 && len >= 15 &&
                     static_cast<double>(fillers + alnum) / static_cast<double>(len) > 0.75;
  static const char* const prefixes[] = {"P<", "P ", "I<", "ID", "A<", "C<", "V<"};
  bool rule2 = line.find("<<<") != std::string::npos;
  for (const char* prefix : prefixes) rule2 = rule2 || line.starts_with(prefix);
  return rule1 || rule2;
}

bool mrzDetected(const std::vector<std::string>& topCandidates) {
  return std::any_of(topCandidates.begin(), topCandidates.end(), isAcceptedMRZLine);
}

bool isGoodDocumentFrame(BackRequirement requirement, const DocumentFrameInputs& in) {
  if (!in.settled || !in.rectangleOK) return false;
  switch (requirement) {
    case BackRequirement::barcode:
      return in.barcodeDetected;
    case BackRequirement::mrz:
      return in.mrzDetected;
    case BackRequirement::none:
      break;
  }
  return true;
}

LivenessEffects LivenessMachine::prepareOnAppear() {
  stage_ = LivenessStage::center;
  passed_ = false;
  stageFrameCount_ = 0;
  wrongFrameCount_ = 0;
  missingFaceCount_ = 0;
  return {{kTextCenter}, false};
}

LivenessEffects LivenessMachine::reset() {
  stage_ = LivenessStage::center;
  passed_ = false;
  stageFrameCount_ = 0;
  wrongFrameCount_ = 0;
  return {{kTextCenter}, false};
}

LivenessEffects LivenessMachine::faceMissing() {
  ++missingFaceCount_;
  if (missingFaceCount_ > kMaxMissingFaceFrames) return reset();
  return {};
}

LivenessEffects LivenessMachine::faceFound(float midX, std::optional<float> quality, std::optional<float> yaw,
                                           bool previewMirrored) {
  missingFaceCount_ = 0;
  faceCentered_ = std::fabs(midX - 0.5f) <= 0.1f;
  if (quality) faceQuality_ = *quality;
  if (yaw) lastYaw_ = *yaw;
  return updateStage(lastYaw_, previewMirrored);
}

void LivenessMachine::advance(LivenessStage next) {
  stage_ = next;
  stageFrameCount_ = 0;
  stageHoldCount_ = 0;
  wrongFrameCount_ = 0;
}

LivenessEffects LivenessMachine::updateStage(float yaw, bool previewMirrored) {
  if (previewMirrored) yaw = -yaw;
  ++stageFrameCount_;
  if (stageFrameCount_ > kMaxStageFrames || wrongFrameCount_ > kMaxWrongFrames) return reset();

  const bool centred = !(std::fabs(yaw) > kCentredYaw) && faceCentered_;
  switch (stage_) {
    case LivenessStage::center:
      if (!centred) {
        stageHoldCount_ = 0;
        return {{kTextCenter}, false};
      }
      if (stageHoldCount_ + 1 < kHoldFramesCenter) {
        ++stageHoldCount_;
        return {{kTextCenter}, false};
      }
      advance(LivenessStage::lookLeft);
      return {{kTextLeft}, false};
    case LivenessStage::lookLeft:
      if (yaw <= -kTurnedYaw) {
        if (stageHoldCount_ + 1 < kHoldFramesTurn) {
          ++stageHoldCount_;
          return {{kTextLeft}, false};
        }
        advance(LivenessStage::lookRight);
        return {{kTextRight}, false};
      }
      if (yaw >= kTurnedYaw) ++wrongFrameCount_;
      stageHoldCount_ = 0;
      return {{kTextLeft}, false};
    case LivenessStage::lookRight:
      if (yaw >= kTurnedYaw) {
        if (stageHoldCount_ + 1 < kHoldFramesTurn) {
          ++stageHoldCount_;
          return {{kTextRight}, false};
        }
        advance(LivenessStage::center2);
        return {{kTextCenter}, false};
      }
      if (yaw <= -kTurnedYaw) ++wrongFrameCount_;
      stageHoldCount_ = 0;
      return {{kTextRight}, false};
    case LivenessStage::center2:
      if (!centred) {
        stageHoldCount_ = 0;
        return {{kTextCenter}, false};
      }
      if (stageHoldCount_ + 1 < kHoldFramesCenter) {
        ++stageHoldCount_;
        return {{kTextCenter}, false};
      }
      ++stageHoldCount_;
      stage_ = LivenessStage::done;
      passed_ = true;
      return {{}, true};
    case LivenessStage::done:
      return {{kTextAllGood}, false};
  }
  return {};
}

bool isGoodFaceFrame(const FaceFrameInputs& in) {
  const bool qualityOK = in.faceQuality == 0 || in.faceQuality >= 0.45f;
  return qualityOK && in.settled && in.livenessPassed && in.brightnessDeviation >= 0.06;
}

quartz::CGRect cutoutRect(quartz::CGSize overlay, bool faceStep) {
  const double W = overlay.width, H = overlay.height;
  if (faceStep) {
    const double d = std::min(0.58 * H, 0.78 * W);
    return {{(W - d) / 2, (H - d) / 2}, {d, d}};
  }
  const double w = W - 32;
  const double h = std::min(0.75 * H, w / kCardAspect);
  return {{(W - w) / 2, (H - h) / 2}, {w, h}};
}

std::optional<quartz::CGRect> documentCropRect(const quartz::CGRect& box, const quartz::CGRect& extent,
                                               double margin) {
  const double ew = extent.size.width, eh = extent.size.height;
  double x = box.origin.x * ew, y = box.origin.y * eh;
  double w = box.size.width * ew, h = box.size.height * eh;
  const double dx = margin * w, dy = margin * h;
  x -= dx;
  w += 2 * dx;
  y -= dy;
  h += 2 * dy;
  // Clip by hand rather than through CGRect so the rule stays self-contained.
  const double left = std::max(x, extent.origin.x);
  const double right = std::min(x + w, extent.origin.x + ew);
  const double bottom = std::max(y, extent.origin.y);
  const double top = std::min(y + h, extent.origin.y + eh);
  if (!(right > left) || !(top > bottom)) return std::nullopt;
  if (right - left <= 10 || top - bottom <= 10) return std::nullopt;
  return quartz::CGRect{{left, bottom}, {right - left, top - bottom}};
}

namespace {

bool containsNoCase(const std::string& haystack, const std::string& needle) {
  std::string h = haystack;
  for (char& c : h) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return h.find(needle) != std::string::npos;
}

}  // namespace

std::string shortTitle(const std::string& title) {
  if (containsNoCase(title, "front")) return "Front";
  if (containsNoCase(title, "back")) return "Back";
  if (containsNoCase(title, "face")) return "Face";
  std::size_t start = title.find_first_not_of(' ');
  if (start == std::string::npos) return title;
  std::size_t end = title.find(' ', start);
  return title.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace morvik::capture

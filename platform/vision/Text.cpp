// Text recognition: text lines are located with morphology on a small copy of
// the region, then each line alone is straightened and read: at the fast level
// by our glyph recogniser, at the accurate level by Tesseract's LSTM model.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <opencv2/imgproc.hpp>

#include "vision/Frame.h"
#include "vision/GlyphRecognizer.h"
#include "vision/TesseractEngine.h"

namespace vision {

namespace {

bool isEnglish(const std::string& tag) {
  return tag.size() >= 2 && std::tolower(static_cast<unsigned char>(tag[0])) == 'e' &&
         std::tolower(static_cast<unsigned char>(tag[1])) == 'n' &&
         (tag.size() == 2 || tag[2] == '-' || tag[2] == '_');
}

// Machine-readable-zone lines are printed in OCR-B, whose filler '<' the
// English model reads as 'c', 'e', 'k', 'x', 'K', 'C', 'X' (and in long runs
// 'S' or 'E'), or as guillemets, and around which it sees specks ('|', '$') at
// the band's ends. In a reading shaped like a zone line (see mayBeMRZLine),
// spaces and specks are dropped and runs of filler look-alikes become fillers,
// one for one, except capitals at a run's edge that touch a letter or digit
// (a name's first or last letter). Returns the line unchanged otherwise.
enum class Look { none, filler, lower, upper, weak };

Look lookOf(char c) {
  switch (c) {
    case '<':
      return Look::filler;
    case 'c':
    case 'e':
    case 'k':
    case 'x':
    case 's':
      return Look::lower;
    case 'C':
    case 'K':
    case 'X':
      return Look::upper;
    case 'S':
    case 'E':
      return Look::weak;
    default:
      return Look::none;
  }
}

std::string correctMRZLine(const std::string& line) {
  std::string s;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (c == 0xC2 && i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) == 0xAB) {  // «
      s += "<<";
      ++i;
    } else if (c == 0xE2 && i + 2 < line.size() && static_cast<unsigned char>(line[i + 1]) == 0x80 &&
               static_cast<unsigned char>(line[i + 2]) == 0xB9) {  // ‹
      s += '<';
      i += 2;
    } else if (std::isalnum(c) || c == '<') {
      s += static_cast<char>(c);
    } else if (c == ' ' && !s.empty() && s.back() != ' ') {
      s += ' ';
    }
  }
  // Specks at the ends: one- or two-character pieces apart from the line.
  while (true) {
    const std::size_t sp = s.find(' ');
    if (sp == std::string::npos || sp > 2) break;
    s.erase(0, sp + 1);
  }
  while (true) {
    const std::size_t sp = s.rfind(' ');
    if (sp == std::string::npos || s.size() - sp - 1 > 2) break;
    s.erase(sp);
  }
  std::string in;
  for (char c : s)
    if (c != ' ') in += c;
  if (in.size() < 20) return line;
  std::string out = in;
  const std::size_t n = in.size();
  for (std::size_t i = 0; i < n;) {
    if (lookOf(in[i]) == Look::none) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < n && lookOf(in[j]) != Look::none) ++j;
    const std::size_t next = j;
    std::size_t a = i, b = j;
    auto capital = [&](std::size_t k) { return lookOf(in[k]) == Look::upper || lookOf(in[k]) == Look::weak; };
    // Three or more of one capital in a row are a misread filler run, not a name.
    auto repeated = [&](std::size_t k) {
      std::size_t from = k, to = k + 1;
      while (from > i && in[from - 1] == in[k]) --from;
      while (to < j && in[to] == in[k]) ++to;
      return to - from >= 3;
    };
    while (a < b && a > 0 && capital(a) && !repeated(a)) ++a;  // a name's last letters, before the fillers
    while (b > a && b < n && capital(b - 1) && !repeated(b - 1)) --b;  // a name's first letters, after them
    bool filler = false, lower = false, weakOnly = true;
    for (std::size_t k = a; k < b; ++k) {
      filler |= lookOf(in[k]) == Look::filler;
      lower |= lookOf(in[k]) == Look::lower;
      weakOnly &= lookOf(in[k]) == Look::weak;
    }
    const std::size_t len = b - a;
    if (((filler || lower) && len >= 2) || (!weakOnly && len >= 3))
      for (std::size_t k = a; k < b; ++k) out[k] = '<';
    i = next;
  }
  // Whatever lower case is left is a misread capital.
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// A reading that may be a machine-readable-zone line: long, without spaces
// almost only capitals, digits and fillers (or what the model makes of them).
bool mayBeMRZLine(const std::string& text) {
  int total = 0, mrzish = 0, filler = 0;
  for (unsigned char c : text) {
    if (c == ' ') continue;
    ++total;
    if (std::isupper(c) || std::isdigit(c) || c == '<') ++mrzish;
    if (c == '<' || c == 'c' || c == 'e' || c == 'k' || c == 'x' || c == 0xAB) ++filler, ++mrzish;
  }
  return total >= 20 && mrzish >= total * 9 / 10 && filler >= 2;
}

// A text line as a rotated rectangle in oriented full-resolution pixels.
struct LineBox {
  cv::Point2f origin;  // top left corner, as read
  cv::Point2f along;   // unit vector along the line (left to right)
  float length = 0, height = 0;
  cv::Point2f corner(float u, float v) const {
    return origin + along * u + cv::Point2f(-along.y, along.x) * v;
  }
};

cv::Mat lineMask(const cv::Mat& grey, cv::Mat* blackhatOut) {
  cv::Mat blackhat, grad, mask;
  cv::morphologyEx(grey, blackhat, cv::MORPH_BLACKHAT, cv::getStructuringElement(cv::MORPH_RECT, {13, 5}));
  cv::Sobel(blackhat, grad, CV_32F, 1, 0, 3);
  grad = cv::abs(grad);
  double lo = 0, hi = 0;
  cv::minMaxLoc(grad, &lo, &hi);
  if (hi <= 0) return {};
  grad.convertTo(grad, CV_8U, 255.0 / hi);
  cv::morphologyEx(grad, grad, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, {15, 3}));
  const double otsu = cv::threshold(grad, mask, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  if (otsu < 12) return {};  // nothing but noise
  cv::morphologyEx(mask, mask, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, {3, 3}));
  cv::morphologyEx(mask, mask, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, {21, 1}));
  if (blackhatOut) *blackhatOut = blackhat;
  return mask;
}

// Dark text lines on a lighter ground: black-hat, horizontal gradient, and a
// horizontal closing that joins the letters of a line. The page is first
// turned level by the slant of its longest lines (a held document is rarely
// straight, and a slanted zone line crosses its neighbour's band).
std::vector<LineBox> findLines(const detail::Frame::Crop& crop) {
  cv::Mat mask = lineMask(crop.image, nullptr);
  if (mask.empty()) return {};
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
  std::vector<std::pair<double, double>> slants;  // (angle in degrees, weight)
  for (const auto& c : contours) {
    const cv::RotatedRect r = cv::minAreaRect(c);
    double w = r.size.width, h = r.size.height, a = r.angle;
    if (w < h) std::swap(w, h), a += 90;
    while (a > 45) a -= 180;
    while (a <= -135) a += 180;
    if (a < -45) a += 180;
    if (w >= 24 && w >= 6 * h && std::abs(a) <= 20) slants.emplace_back(a, w);
  }
  double slant = 0;
  if (!slants.empty()) {
    std::sort(slants.begin(), slants.end());
    double total = 0, half = 0;
    for (auto& s : slants) total += s.second;
    for (auto& s : slants) {
      half += s.second;
      if (half >= total / 2) {
        slant = s.first;
        break;
      }
    }
  }
  // Level the page about its centre, then find the lines again.
  const cv::Point2f centre(crop.image.cols / 2.0f, crop.image.rows / 2.0f);
  const cv::Mat toLevel = cv::getRotationMatrix2D(centre, slant, 1.0);
  cv::Mat fromLevel;
  cv::invertAffineTransform(toLevel, fromLevel);
  cv::Mat level = crop.image, blackhat;
  if (std::abs(slant) > 0.3)
    cv::warpAffine(crop.image, level, toLevel, crop.image.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
  mask = lineMask(level, &blackhat);
  if (mask.empty()) return {};
  contours.clear();
  cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
  // Closely set lines (a machine-readable zone) may still merge into one
  // block: split blocks at the rows where the dark print stops.
  cv::Mat ink;
  cv::threshold(blackhat, ink, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  std::vector<LineBox> lines;
  auto toOriented = [&](cv::Point2f p) {
    const cv::Point2f q(float(fromLevel.at<double>(0, 0) * p.x + fromLevel.at<double>(0, 1) * p.y +
                              fromLevel.at<double>(0, 2)),
                        float(fromLevel.at<double>(1, 0) * p.x + fromLevel.at<double>(1, 1) * p.y +
                              fromLevel.at<double>(1, 2)));
    return crop.toOriented(q);
  };
  auto add = [&](const cv::Rect& r) {
    // As short as a three-letter surname.
    if (r.height < 5 || r.width < 2 * r.height || r.width < 16 || r.height > crop.image.rows / 2) return;
    LineBox line;
    line.origin = toOriented({float(r.x), float(r.y)});
    const cv::Point2f end = toOriented({float(r.x + r.width), float(r.y)});
    const cv::Point2f below = toOriented({float(r.x), float(r.y + r.height)});
    line.length = float(cv::norm(end - line.origin));
    line.height = float(cv::norm(below - line.origin));
    line.along = line.length > 0 ? (end - line.origin) * (1 / line.length) : cv::Point2f(1, 0);
    lines.push_back(line);
  };
  for (const auto& c : contours) {
    const cv::Rect r = cv::boundingRect(c);
    cv::Mat rows;
    cv::reduce(ink(r), rows, 1, cv::REDUCE_SUM, CV_32S);
    int peak = 0;
    for (int y = 0; y < rows.rows; ++y) peak = std::max(peak, rows.at<int>(y));
    const int gap = peak / 12;
    int start = -1;
    for (int y = 0; y <= rows.rows; ++y) {
      const bool on = y < rows.rows && rows.at<int>(y) > gap;
      if (on && start < 0) start = y;
      if (!on && start >= 0) {
        add(cv::Rect(r.x, r.y + start, r.width, y - start));
        start = -1;
      }
    }
  }
  std::sort(lines.begin(), lines.end(),
            [](const LineBox& x, const LineBox& y) { return x.origin.y < y.origin.y; });
  return lines;
}

// The line, padded, straightened and scaled so its text is `targetHeight`
// high, its width also multiplied by `squeeze`.
cv::Mat extractLine(detail::Frame& frame, const LineBox& line, double targetHeight, double squeeze) {
  const float padY = line.height * 0.2f, padX = line.height * 0.8f;
  const cv::Point2f corners[4] = {line.corner(-padX, -padY), line.corner(line.length + padX, -padY),
                                  line.corner(line.length + padX, line.height + padY),
                                  line.corner(-padX, line.height + padY)};
  cv::Rect2f bounds = cv::boundingRect(std::vector<cv::Point2f>(corners, corners + 4));
  const double scale = std::clamp(targetHeight / line.height, 0.25, 4.0);
  const detail::Frame::Crop crop = frame.orientedCrop(bounds, scale);
  if (crop.image.cols < 8 || crop.image.rows < 8) return {};
  const int w = int(std::lround((line.length + 2 * padX) * scale * squeeze)),
            h = int(std::lround((line.height + 2 * padY) * scale));
  if (w < 8 || h < 8) return {};
  const cv::Point2f src[3] = {crop.fromOriented(corners[0]), crop.fromOriented(corners[1]),
                              crop.fromOriented(corners[3])};
  const cv::Point2f dst[3] = {{0, 0}, {float(w), 0}, {0, float(h)}};
  cv::Mat out;
  cv::warpAffine(crop.image, out, cv::getAffineTransform(src, dst), {w, h}, cv::INTER_LINEAR,
                 cv::BORDER_REPLICATE);
  return out;
}

}  // namespace

bool VNRecognizeTextRequest::performOn(detail::Frame& frame, VNError& error) {
  for (const auto& tag : recognitionLanguages) {
    if (!isEnglish(tag)) {
      error = {VNError::Code::invalidArgument, "unsupported recognition language \"" + tag + "\""};
      return false;
    }
  }
  if (!(minimumTextHeight >= 0 && minimumTextHeight <= 1)) {
    error = {VNError::Code::invalidArgument, "minimumTextHeight out of range"};
    return false;
  }
  const bool fast = recognitionLevel == VNRequestTextRecognitionLevel::fast;
  std::shared_ptr<const detail::GlyphRecognizer> glyphs;
  std::unique_ptr<detail::TesseractLease> tesseract;
  if (fast) {
    std::string why;
    glyphs = detail::GlyphRecognizer::shared(&why);
    if (!glyphs) {
      error = {VNError::Code::modelMissing, "the fast text recogniser could not be trained: " + why};
      return false;
    }
  } else {
    tesseract = std::make_unique<detail::TesseractLease>(usesLanguageCorrection);
    if (!tesseract->ok()) {
      error = {VNError::Code::modelMissing, "the English text model could not be loaded"};
      return false;
    }
  }
  const cv::Rect2f roi = frame.roiToOriented(regionOfInterest);
  if (roi.width < 8 || roi.height < 8) return true;

  const double workScale = std::min(1.0, 720.0 / std::max(roi.width, roi.height));
  const detail::Frame::Crop work = frame.orientedCrop(roi, workScale);
  if (work.image.empty()) return true;
  // Capitals about 30 px high suit the LSTM model; the accurate level reads a
  // little larger and smoother. The glyph recogniser has its own line height.
  const double targetHeight = fast ? detail::GlyphRecognizer::kLineHeight : 44;
  const float minHeight = minimumTextHeight * float(frame.orientedSize().height);

  for (const LineBox& line : findLines(work)) {
    if (line.height < minHeight) continue;
    cv::Mat input = extractLine(frame, line, targetHeight, 1.0);
    if (input.empty()) continue;
    std::vector<VNRecognizedText> candidates;
    if (fast) {
      const detail::GlyphLineReading r = glyphs->readLine(input);
      if (r.text.empty()) continue;
      // A line that reads as a zone line is offered as one first.
      if (!r.zoneText.empty() && r.zoneText != r.text)
        candidates.push_back({r.zoneText, std::max(r.zoneConfidence, r.confidence)});
      candidates.push_back({r.text, r.confidence});
    } else {
      cv::GaussianBlur(input, input, {3, 3}, 0);
      float confidence = 0;
      const std::string raw = tesseract->readLine(input, &confidence);
      if (raw.empty()) continue;
      if (mayBeMRZLine(raw)) {
        const std::string zone = correctMRZLine(raw);
        if (zone != raw) candidates.push_back({zone, confidence});
      }
      candidates.push_back({raw, confidence});
    }
    const cv::Point2f c[4] = {line.corner(0, 0), line.corner(line.length, 0),
                              line.corner(line.length, line.height), line.corner(0, line.height)};
    results_.emplace_back(frame.normalisedRect(cv::boundingRect(std::vector<cv::Point2f>(c, c + 4))),
                          std::move(candidates));
  }
  return true;
}

}  // namespace vision

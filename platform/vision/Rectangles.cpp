// Rectangle detection: quadrilaterals found on a small copy of the oriented
// image, then refined at full resolution by fitting a line to each edge.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <opencv2/imgproc.hpp>

#include "vision/Frame.h"

namespace vision {

namespace {

constexpr double kWorkLongSide =
    560;  // quadrilateral search size; corners are placed at full resolution after
constexpr double kPi = 3.14159265358979323846;

using Quad = std::array<cv::Point2f, 4>;  // oriented full-resolution pixels, TL TR BR BL

double dist(cv::Point2f a, cv::Point2f b) { return std::hypot(double(a.x - b.x), double(a.y - b.y)); }

// Clockwise (y down) order starting at the corner up and to the left of the centre.
Quad orderCorners(const std::vector<cv::Point2f>& pts) {
  cv::Point2f c(0, 0);
  for (auto& p : pts) c += p;
  c *= 0.25f;
  std::vector<std::pair<double, cv::Point2f>> byAngle;
  for (auto& p : pts) byAngle.emplace_back(std::atan2(double(p.y - c.y), double(p.x - c.x)), p);
  std::sort(byAngle.begin(), byAngle.end(), [](auto& a, auto& b) { return a.first < b.first; });
  // Angles increase clockwise on screen (y down). Top left is the one closest to -135 degrees.
  int start = 0;
  double best = 1e9;
  for (int i = 0; i < 4; ++i) {
    double d = std::abs(std::remainder(byAngle[i].first + 0.75 * kPi, 2 * kPi));
    if (d < best) best = d, start = i;
  }
  Quad q;
  for (int i = 0; i < 4; ++i) q[i] = byAngle[(start + i) % 4].second;
  return q;
}

struct Geometry {
  double longSide, shortSide, maxAngleError;  // pixels, pixels, degrees
};

Geometry geometry(const Quad& q) {
  const double top = dist(q[0], q[1]), right = dist(q[1], q[2]), bottom = dist(q[2], q[3]),
               left = dist(q[3], q[0]);
  const double w = (top + bottom) / 2, h = (left + right) / 2;
  double worst = 0;
  for (int i = 0; i < 4; ++i) {
    const cv::Point2f a = q[(i + 3) % 4] - q[i], b = q[(i + 1) % 4] - q[i];
    const double cosv = (a.x * b.x + a.y * b.y) / (std::hypot(a.x, a.y) * std::hypot(b.x, b.y) + 1e-12);
    const double angle = std::acos(std::clamp(cosv, -1.0, 1.0)) * 180 / kPi;
    worst = std::max(worst, std::abs(angle - 90));
  }
  return {std::max(w, h), std::min(w, h), worst};
}

bool isConvex(const Quad& q) {
  double sign = 0;
  for (int i = 0; i < 4; ++i) {
    const cv::Point2f a = q[(i + 1) % 4] - q[i], b = q[(i + 2) % 4] - q[(i + 1) % 4];
    const double cross = double(a.x) * b.y - double(a.y) * b.x;
    if (std::abs(cross) < 1e-6) return false;
    if (sign == 0) sign = cross;
    if ((cross > 0) != (sign > 0)) return false;
  }
  return true;
}

// Strongest grey step across the edge near `p` (direction `n`, unit) within
// +-range pixels: offset along n (sub-pixel) and signed strength (grey levels per pixel).
struct EdgeHit {
  float offset = 0, strength = 0;
};

EdgeHit findEdge(detail::Frame& frame, cv::Point2f p, cv::Point2f n, int range) {
  float prof[64];
  const int count = std::min(2 * range + 3, 64);
  const int half = count / 2;
  for (int i = 0; i < count; ++i) prof[i] = frame.sampleOriented(p + n * float(i - half));
  EdgeHit hit;
  int bestI = -1;
  float bestAbs = 0;
  for (int i = 1; i + 1 < count; ++i) {
    const float d = (prof[i + 1] - prof[i - 1]) * 0.5f;
    if (std::abs(d) > bestAbs) bestAbs = std::abs(d), bestI = i;
  }
  if (bestI < 0) return hit;
  float sub = 0;
  if (bestI >= 2 && bestI + 2 < count) {
    const float dm = std::abs(prof[bestI] - prof[bestI - 2]) * 0.5f, d0 = bestAbs,
                dp = std::abs(prof[bestI + 2] - prof[bestI]) * 0.5f;
    const float den = dm - 2 * d0 + dp;
    if (den < 0) sub = std::clamp(0.5f * (dm - dp) / den, -0.5f, 0.5f);
  }
  hit.offset = float(bestI - half) + sub;
  hit.strength = (prof[bestI + 1] - prof[bestI - 1]) * 0.5f;
  return hit;
}

struct Line {
  cv::Point2f p, d;  // point and unit direction
};

bool intersect(const Line& a, const Line& b, cv::Point2f& out) {
  const double den = double(a.d.x) * b.d.y - double(a.d.y) * b.d.x;
  if (std::abs(den) < 1e-6) return false;
  const cv::Point2f w = b.p - a.p;
  const double t = (double(w.x) * b.d.y - double(w.y) * b.d.x) / den;
  out = a.p + a.d * float(t);
  return true;
}

// Fits a line to the strongest step along the middle of each edge (rounded
// card corners would pull the polygon's own corners inward) and intersects
// neighbouring lines. `range` is the search distance in full-resolution pixels.
Quad refine(detail::Frame& frame, const Quad& coarse, int range) {
  std::array<Line, 4> lines;
  for (int e = 0; e < 4; ++e) {
    const cv::Point2f a = coarse[e], b = coarse[(e + 1) % 4];
    const double len = dist(a, b);
    cv::Point2f d = (b - a) * float(1 / std::max(len, 1e-6));
    const cv::Point2f n(-d.y, d.x);
    lines[e] = {a, d};
    const int samples = std::clamp(int(len / 6), 8, 48);
    std::vector<cv::Point2f> pts;
    std::vector<float> strengths;
    for (int i = 0; i < samples; ++i) {
      const float t = 0.12f + 0.76f * (float(i) + 0.5f) / float(samples);
      const cv::Point2f q = a + (b - a) * t;
      const EdgeHit hit = findEdge(frame, q, n, range);
      pts.push_back(q + n * hit.offset);
      strengths.push_back(hit.strength);
    }
    // Keep the steps of the dominant polarity (card lighter or darker than its surroundings).
    int pos = 0, neg = 0;
    for (float s : strengths) (s > 6 ? ++pos : s < -6 ? ++neg : 0);
    const bool positive = pos >= neg;
    std::vector<cv::Point2f> good;
    for (std::size_t i = 0; i < pts.size(); ++i)
      if ((positive && strengths[i] > 6) || (!positive && strengths[i] < -6)) good.push_back(pts[i]);
    if (good.size() < 6) continue;
    // Least squares, then again without the points more than 1.5 px off (texture, print).
    cv::Vec4f fit;
    cv::fitLine(good, fit, cv::DIST_L2, 0, 0.01, 0.01);
    std::vector<cv::Point2f> inliers;
    for (const auto& p : good) {
      const float off = (p.x - fit[2]) * -fit[1] + (p.y - fit[3]) * fit[0];
      if (std::abs(off) <= 1.5f) inliers.push_back(p);
    }
    if (inliers.size() >= 6 && inliers.size() < good.size())
      cv::fitLine(inliers, fit, cv::DIST_L2, 0, 0.01, 0.01);
    lines[e] = {{fit[2], fit[3]}, {fit[0], fit[1]}};
  }
  Quad refined;
  for (int c = 0; c < 4; ++c) {
    cv::Point2f p;
    // Corner c joins edge c-1 (ending at it) and edge c (starting at it).
    if (!intersect(lines[(c + 3) % 4], lines[c], p) || dist(p, coarse[c]) > 4.0 * range) p = coarse[c];
    refined[c] = p;
  }
  return refined;
}

// Share of the outline with a strong, consistent step close to it.
float edgeSupport(detail::Frame& frame, const Quad& q) {
  float sum = 0, weakest = 1;
  for (int e = 0; e < 4; ++e) {
    const cv::Point2f a = q[e], b = q[(e + 1) % 4];
    const double len = dist(a, b);
    if (len < 1) return 0;
    const cv::Point2f d = (b - a) * float(1 / len), n(-d.y, d.x);
    constexpr int kSamples = 24;
    int pos = 0, neg = 0;
    for (int i = 0; i < kSamples; ++i) {
      const float t = 0.06f + 0.88f * (float(i) + 0.5f) / kSamples;
      const EdgeHit hit = findEdge(frame, a + (b - a) * t, n, 3);
      if (std::abs(hit.offset) <= 2.5f) {
        if (hit.strength > 7) ++pos;
        if (hit.strength < -7) ++neg;
      }
    }
    const float edge = float(std::max(pos, neg)) / kSamples;
    sum += edge;
    weakest = std::min(weakest, edge);
  }
  // An outline with one unsupported side is a guess (a corner of the document
  // and a stray line): the weakest side weighs as much as the other three.
  return 0.5f * sum / 4 + 0.5f * weakest;
}

float segmentSupport(const cv::Point2f& p0, const cv::Point2f& p1, cv::Point2f n, const cv::Mat& gx,
                     const cv::Mat& gy, int kSamples = 24) {
  int pos = 0, neg = 0;
  for (int i = 0; i < kSamples; ++i) {
    const cv::Point2f p = p0 + (p1 - p0) * (0.1f + 0.8f * (float(i) + 0.5f) / kSamples);
    // Best of the line and its two neighbours across it, for sub-pixel placement.
    float best = 0;
    for (int k = -1; k <= 1; ++k) {
      const int xx = int(p.x + n.x * float(k)), yy = int(p.y + n.y * float(k));
      if (xx < 0 || yy < 0 || xx >= gx.cols || yy >= gx.rows) continue;
      const float g = gx.at<short>(yy, xx) * n.x + gy.at<short>(yy, xx) * n.y;
      if (std::abs(g) > std::abs(best)) best = g;
    }
    if (best > 60) ++pos;
    if (best < -60) ++neg;
  }
  return float(std::max(pos, neg)) / float(kSamples);
}

float quadSupport(const Quad& q, const cv::Mat& gx, const cv::Mat& gy) {
  float sum = 0;
  for (int e = 0; e < 4; ++e) {
    const cv::Point2f a = q[e], b = q[(e + 1) % 4];
    const double len = std::max(dist(a, b), 1e-6);
    const cv::Point2f d = (b - a) * float(1 / len);
    sum += segmentSupport(a, b, {-d.y, d.x}, gx, gy);
  }
  return sum / 4;
}

// Printed bands and boxes inside a document give rectangles of their own
// that share some edges with the document, or none. Each edge is moved
// outward to the farthest parallel line that is strongly supported and such
// that the band it sweeps over is of one kind (all light or all dark on the
// small image's split `level`) and, when the strip just inside the edge is of
// one kind, of that kind unless the band is narrow: a document's margin or
// header band is, the gap between two documents side by side is not.
Quad growOutward(const Quad& q, const cv::Mat& gx, const cv::Mat& gy, const cv::Mat& grey, double level) {
  Quad out = q;
  cv::Point2f centre = (q[0] + q[1] + q[2] + q[3]) * 0.25f;
  const auto outside = [&](const cv::Point2f& p) {
    return p.x < 0 || p.y < 0 || p.x >= gx.cols || p.y >= gx.rows;
  };
  for (int e = 0; e < 4; ++e) {
    const cv::Point2f a = out[e], b = out[(e + 1) % 4], prev = out[(e + 3) % 4], next = out[(e + 2) % 4];
    const double len = dist(a, b);
    if (len < 8) continue;
    cv::Point2f d = (b - a) * float(1 / len), n(-d.y, d.x);
    if ((centre - a).dot(n) > 0) n = -n;  // outward
    const Line left{prev, (a - prev) * float(1 / std::max(dist(a, prev), 1e-6))};
    const Line right{next, (b - next) * float(1 / std::max(dist(b, next), 1e-6))};
    const auto ends = [&](double offset, cv::Point2f& p0, cv::Point2f& p1) {
      const Line shifted{a + n * float(offset), d};
      return intersect(shifted, left, p0) && intersect(shifted, right, p1);
    };
    // Up to the image's border: a printed box may lie anywhere inside the document.
    std::vector<double> supported;
    for (double dd = 2; dd <= double(gx.cols + gx.rows);
         dd += 2) {  // the support test looks 1 px either side
      cv::Point2f p0, p1;
      if (!ends(dd, p0, p1) || (outside(p0) && outside(p1))) break;
      // A cheap look first: most offsets cross no edge at all.
      if (segmentSupport(p0, p1, n, gx, gy, 8) >= 0.6f && segmentSupport(p0, p1, n, gx, gy) >= 0.7f)
        supported.push_back(dd);
    }
    // Share of light samples in the band between two segments (inset from its sides), on a 12 x 6 grid.
    const auto lightShare = [&](cv::Point2f s0, cv::Point2f s1, cv::Point2f t0, cv::Point2f t1) {
      int light = 0, total = 0;
      for (int i = 0; i < 12; ++i)
        for (int j = 0; j < 6; ++j) {
          const float u = 0.1f + 0.8f * (float(i) + 0.5f) / 12, v = 0.1f + 0.8f * (float(j) + 0.5f) / 6;
          const cv::Point2f from = s0 + (s1 - s0) * u, to = t0 + (t1 - t0) * u, p = from + (to - from) * v;
          if (outside(p)) continue;
          ++total;
          light += grey.at<std::uint8_t>(int(p.y), int(p.x)) > level;
        }
      return total ? double(light) / total : -1.0;
    };
    // What lies just inside the edge: the band must be of the same kind when that is of one kind.
    const double inner = lightShare(a - n * 2.f, b - n * 2.f, a - n * 8.f, b - n * 8.f);
    const bool innerUniform = inner >= 0.75 || (inner >= 0 && inner <= 0.25);
    for (auto it = supported.rbegin(); it != supported.rend(); ++it) {
      cv::Point2f p0, p1;
      if (!ends(*it, p0, p1)) continue;
      const double band = lightShare(a, b, p0, p1);
      if (band < 0 || (band > 0.25 && band < 0.75)) continue;
      // A band of the other kind may still be a document's printed band (a coloured header), if narrow.
      if (innerUniform && (band >= 0.75) != (inner >= 0.75) &&
          *it > 0.25 * std::min(dist(a, prev), dist(b, next)))
        continue;
      out[e] = p0;
      out[(e + 1) % 4] = p1;
      break;
    }
  }
  return out;
}

struct Candidate {
  Quad quad;
  float confidence;
  double area;
};

}  // namespace

bool VNDetectRectanglesRequest::performOn(detail::Frame& frame, VNError& error) {
  results_.clear();
  if (!(minimumAspectRatio >= 0 && minimumAspectRatio <= 1 && maximumAspectRatio >= 0 &&
        maximumAspectRatio <= 1 && minimumAspectRatio <= maximumAspectRatio && minimumSize >= 0 &&
        minimumSize <= 1 && minimumConfidence >= 0 && minimumConfidence <= 1 && quadratureTolerance >= 0 &&
        quadratureTolerance <= 45)) {
    error = {VNError::Code::invalidArgument, "rectangle request limits out of range"};
    return false;
  }
  const cv::Rect2f roi = frame.roiToOriented(regionOfInterest);
  if (roi.width < 8 || roi.height < 8) return true;

  const cv::Size os = frame.orientedSize();
  const double scale = std::min(1.0, kWorkLongSide / std::max(os.width, os.height));
  const detail::Frame::Crop crop = frame.orientedCrop(roi, scale, true);
  if (crop.image.empty() || crop.image.cols < 8 || crop.image.rows < 8) return true;

  cv::Mat blurred, edges, light;
  cv::GaussianBlur(crop.image, blurred, {5, 5}, 0);
  cv::Canny(blurred, edges, 20, 60);
  cv::dilate(edges, edges, cv::Mat());
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(edges, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
  // On a busy surface a document's edge contour merges with the texture's; a
  // global split into light and dark regions still outlines a light document.
  // A second, lower split keeps a document's darker printed bands with it.
  const double otsu = cv::threshold(blurred, light, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  const cv::Mat open = cv::getStructuringElement(cv::MORPH_RECT, {5, 5});
  for (double level : {otsu, otsu * 0.8}) {
    if (level != otsu) cv::threshold(blurred, light, level, 255, cv::THRESH_BINARY);
    cv::morphologyEx(light, light, cv::MORPH_OPEN, open);
    std::vector<std::vector<cv::Point>> regions;
    cv::findContours(light, regions, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    contours.insert(contours.end(), regions.begin(), regions.end());
  }

  const double shortImageSide = std::min(os.width, os.height);
  const double minLong = std::max(double(minimumSize) * shortImageSide, 16.0);  // full-resolution pixels
  const int range = std::max(4, int(std::ceil(2.5 / std::min(crop.sx, crop.sy))));

  cv::Mat gx, gy;
  cv::Sobel(blurred, gx, CV_16S, 1, 0, 3);
  cv::Sobel(blurred, gy, CV_16S, 0, 1, 3);
  std::vector<Candidate> candidates;
  std::vector<Quad> searched, grown;  // small-image outlines already handled
  const auto seen = [](const std::vector<Quad>& list, const Quad& q) {
    for (const auto& k : list) {
      double worst = 0;
      for (int i = 0; i < 4; ++i) worst = std::max(worst, dist(k[i], q[i]));
      if (worst < 3) return true;
    }
    return false;
  };
  for (const auto& contour : contours) {
    if (contour.size() < 4) continue;
    std::vector<cv::Point> hull;
    cv::convexHull(contour, hull);
    const double perimeter = cv::arcLength(hull, true);
    // Too short to be (or to grow into) an accepted rectangle.
    if (perimeter / crop.sx < 2 * minLong) continue;
    std::vector<cv::Point> poly;
    for (double eps : {0.02, 0.03, 0.04}) {
      cv::approxPolyDP(hull, poly, eps * perimeter, true);
      if (poly.size() <= 4) break;
    }
    if (poly.size() != 4) continue;
    std::vector<cv::Point2f> pts;
    for (auto& p : poly) pts.push_back(crop.toOriented({float(p.x) + 0.5f, float(p.y) + 0.5f}));
    Quad coarse = orderCorners(pts);
    if (!isConvex(coarse)) continue;
    {
      Quad small;
      for (int i = 0; i < 4; ++i) small[i] = crop.fromOriented(coarse[i]);
      // The edge and threshold outlines find most shapes more than once.
      if (seen(searched, small)) continue;
      searched.push_back(small);
      // Outlines of texture and clutter are mostly unsupported: drop them before the costly steps.
      if (quadSupport(small, gx, gy) < 0.3f) continue;
      small = growOutward(small, gx, gy, blurred, otsu);
      if (seen(grown, small)) continue;
      grown.push_back(small);
      for (int i = 0; i < 4; ++i) coarse[i] = crop.toOriented(small[i]);
      if (!isConvex(coarse)) continue;
    }
    const Geometry g0 = geometry(coarse);
    if (g0.longSide < 0.8 * minLong || g0.maxAngleError > quadratureTolerance + 10) continue;
    Quad fine = refine(frame, coarse, range);
    if (!isConvex(fine)) continue;
    fine = orderCorners({fine.begin(), fine.end()});
    const Geometry g = geometry(fine);
    const double aspect = g.shortSide / std::max(g.longSide, 1e-9);
    if (g.longSide < minLong || aspect < minimumAspectRatio || aspect > maximumAspectRatio ||
        g.maxAngleError > quadratureTolerance)
      continue;
    const float confidence = edgeSupport(frame, fine);
    if (confidence < minimumConfidence) continue;
    candidates.push_back({fine, confidence, g.longSide * g.shortSide});
  }

  // Among well-supported outlines the largest wins: a document's printed boxes
  // are rectangles too, but the document is the one around them.
  float bestConfidence = 0;
  for (const auto& c : candidates) bestConfidence = std::max(bestConfidence, c.confidence);
  std::sort(candidates.begin(), candidates.end(), [&](const Candidate& a, const Candidate& b) {
    const bool aTop = a.confidence >= bestConfidence - 0.35f, bTop = b.confidence >= bestConfidence - 0.35f;
    if (aTop != bTop) return aTop;
    if (aTop) return a.area > b.area;
    return a.confidence > b.confidence;
  });
  // The inner and outer outlines of one edge give the same rectangle twice.
  const double same = 0.02 * std::hypot(double(os.width), double(os.height));
  std::vector<Candidate> kept;
  for (const auto& c : candidates) {
    bool duplicate = false;
    for (const auto& k : kept) {
      double worst = 0;
      for (int i = 0; i < 4; ++i) worst = std::max(worst, dist(c.quad[i], k.quad[i]));
      if (worst < same) duplicate = true;
    }
    if (duplicate) continue;
    kept.push_back(c);
    if (maximumObservations > 0 && kept.size() >= maximumObservations) break;
  }

  for (const auto& c : kept) {
    VNRectangleObservation o;
    o.topLeft = frame.normalised(c.quad[0]);
    o.topRight = frame.normalised(c.quad[1]);
    o.bottomRight = frame.normalised(c.quad[2]);
    o.bottomLeft = frame.normalised(c.quad[3]);
    float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
    for (auto& p : c.quad)
      minX = std::min(minX, p.x), minY = std::min(minY, p.y), maxX = std::max(maxX, p.x),
      maxY = std::max(maxY, p.y);
    o.boundingBox = frame.normalisedRect({minX, minY, maxX - minX, maxY - minY});
    o.confidence = c.confidence;
    results_.push_back(o);
  }
  return true;
}

}  // namespace vision

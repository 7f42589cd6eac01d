// Rectangle detection: quadrilaterals found on a small copy of the oriented
// image, then refined at full resolution by fitting a line to each edge.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <opencv2/imgproc.hpp>

#include "vision/DocumentModel.h"
#include "vision/Frame.h"

#ifdef VISION_STEP_ROW_AVX2
#include <immintrin.h>
#endif

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

// Chroma steps count this much more than grey ones: chroma varies less (and is sampled at half
// resolution), and a document may differ from its surface in hue alone.
constexpr float kChromaWeight = 1.5f;

// One row of the merge of grey, Cb and Cr gradients (Cb and Cr weighted by 1.5): each pixel keeps
// the channel with the strongest step. A function of its own so that it is built for AVX2 too.
VISION_AVX2_CLONES void keepStrongestStep(short* __restrict ax, short* __restrict ay,
                                          const short* __restrict bx, const short* __restrict by,
                                          const short* __restrict rx, const short* __restrict ry, int cols) {
  for (int x = 0; x < cols; ++x) {
    short mx = ax[x], my = ay[x];
    int m = int(mx) * mx + int(my) * my;
    const short wbx = short(bx[x] * 3 / 2), wby = short(by[x] * 3 / 2);
    const int wb = int(wbx) * wbx + int(wby) * wby;
    mx = wb > m ? wbx : mx, my = wb > m ? wby : my, m = wb > m ? wb : m;
    const short wrx = short(rx[x] * 3 / 2), wry = short(ry[x] * 3 / 2);
    const int wr = int(wrx) * wrx + int(wry) * wry;
    ax[x] = wr > m ? wrx : mx, ay[x] = wr > m ? wry : my;
  }
}

// Strongest step across the edge near `p` (direction `n`, unit) within +-range pixels, in each of
// grey, Cb and Cr: offset along n (sub-pixel) and signed strength (levels per pixel).
struct EdgeHit {
  float offset = 0, strength = 0;
};
using ColourHits = std::array<EdgeHit, 3>;

ColourHits findEdges(detail::Frame& frame, cv::Point2f p, cv::Point2f n, int range, bool colour) {
  const detail::Frame::Sampler& sampler = frame.sampler();
  cv::Vec3f prof[64];
  const int count = std::min(2 * range + 3, 64);
  const int half = count / 2;
  sampler.profile(p, n, count, half, colour, prof);
  ColourHits hits;
  for (int c = 0; c < (colour ? 3 : 1); ++c) {
    const float w = c == 0 ? 1.f : kChromaWeight;
    int bestI = -1;
    float bestAbs = 0;
    for (int i = 1; i + 1 < count; ++i) {
      const float d = (prof[i + 1][c] - prof[i - 1][c]) * 0.5f;
      if (std::abs(d) > bestAbs) bestAbs = std::abs(d), bestI = i;
    }
    if (bestI < 0) continue;
    float sub = 0;
    if (bestI >= 2 && bestI + 2 < count) {
      const float dm = std::abs(prof[bestI][c] - prof[bestI - 2][c]) * 0.5f, d0 = bestAbs,
                  dp = std::abs(prof[bestI + 2][c] - prof[bestI][c]) * 0.5f;
      const float den = dm - 2 * d0 + dp;
      if (den < 0) sub = std::clamp(0.5f * (dm - dp) / den, -0.5f, 0.5f);
    }
    hits[c].offset = float(bestI - half) + sub;
    // Chroma comes from a plane of half the resolution: its steps are twice as wide, so they are
    // measured across twice the distance.
    const int k = c == 0 || bestI < 2 || bestI + 2 >= count ? 1 : 2;
    hits[c].strength = w * (prof[bestI + k][c] - prof[bestI - k][c]) * 0.5f;
  }
  return hits;
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
  const bool colour = frame.hasChroma();
  std::array<Line, 4> lines;
  for (int e = 0; e < 4; ++e) {
    const cv::Point2f a = coarse[e], b = coarse[(e + 1) % 4];
    const double len = dist(a, b);
    cv::Point2f d = (b - a) * float(1 / std::max(len, 1e-6));
    const cv::Point2f n(-d.y, d.x);
    lines[e] = {a, d};
    const int samples = std::clamp(int(len / 6), 8, 48);
    std::vector<cv::Point2f> along;
    std::vector<ColourHits> hits;
    int bestCount = 0, channel = 0;
    bool positive = true;
    // A side that the outline placed far off (a faint edge, which the coarse search follows
    // poorly) is looked for again twice as far out, in grey only (where colour alone leaves a side
    // short near the outline, it does not farther out either).
    for (const int reach : {range, std::min(2 * range, 30)}) {
      if (reach != range && bestCount * 2 >= samples) break;
      std::vector<cv::Point2f> along1;
      std::vector<ColourHits> hits1;
      int count1 = 0, channel1 = 0;
      bool positive1 = true;
      // Grey first (full resolution, and enough for most edges), colour only where grey is weak.
      for (const bool withColour : {false, true}) {
        if (withColour && (!colour || reach != range || count1 * 4 >= samples * 3)) break;
        along1.clear(), hits1.clear();
        for (int i = 0; i < samples; ++i) {
          const float t = 0.12f + 0.76f * (float(i) + 0.5f) / float(samples);
          along1.push_back(a + (b - a) * t);
          hits1.push_back(findEdges(frame, along1.back(), n, reach, withColour));
        }
        // The channel and polarity with the most strong steps (card lighter, darker or of another hue
        // than its surroundings).
        count1 = 0, channel1 = 0, positive1 = true;
        for (int c = 0; c < (withColour ? 3 : 1); ++c) {
          int pos = 0, neg = 0;
          for (const auto& h : hits1) (h[c].strength > 6 ? ++pos : h[c].strength < -6 ? ++neg : 0);
          if (std::max(pos, neg) > count1) count1 = std::max(pos, neg), channel1 = c, positive1 = pos >= neg;
        }
      }
      if (reach == range || count1 > bestCount)
        along = std::move(along1), hits = std::move(hits1), bestCount = count1, channel = channel1,
        positive = positive1;
    }
    std::vector<cv::Point2f> good;
    for (std::size_t i = 0; i < hits.size(); ++i) {
      const float s = hits[i][std::size_t(channel)].strength;
      if ((positive && s > 6) || (!positive && s < -6))
        good.push_back(along[i] + n * hits[i][std::size_t(channel)].offset);
    }
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

// The edges cv::Canny(dx, dy, edges, low, high) finds (L1 magnitude), with the same integer tests,
// written without branches so that the compiler vectorises the non-maximum suppression: on a busy
// surface its branches are unpredictable, and it takes two to three times as long.
VISION_AVX2_CLONES cv::Mat cannyEdges(const cv::Mat& dx, const cv::Mat& dy, int low, int high) {
  const int rows = dx.rows, cols = dx.cols;
  const std::ptrdiff_t w = cols + 2;
  // Magnitudes and marks with a border of one: magnitude 0 outside, and a mark that stops the
  // hysteresis there (1: no edge, 0: weak edge, 2: edge).
  std::vector<int> mag(std::size_t(w * (rows + 2)), 0);
  for (int y = 0; y < rows; ++y) {
    const short *gx = dx.ptr<short>(y), *gy = dy.ptr<short>(y);
    int* m = &mag[std::size_t((y + 1) * w + 1)];
    for (int x = 0; x < cols; ++x) m[x] = std::abs(int(gx[x])) + std::abs(int(gy[x]));
  }
  std::vector<std::uint8_t> map(std::size_t(w * (rows + 2)), 1);
  constexpr int kTan22 = 13573;  // tan(22.5 degrees) << 15, rounded
  for (int y = 0; y < rows; ++y) {
    const short *gx = dx.ptr<short>(y), *gy = dy.ptr<short>(y);
    const int* m = &mag[std::size_t((y + 1) * w + 1)];
    const int *above = m - w, *below = m + w;
    std::uint8_t* mark = &map[std::size_t((y + 1) * w + 1)];
    for (int x = 0; x < cols; ++x) {
      const int xs = gx[x], ys = gy[x];
      const int ax = std::abs(xs), ay = std::abs(ys) << 15;
      const int tan22x = ax * kTan22, tan67x = tan22x + (ax << 16);
      // The neighbours across the edge (all-ones masks select): left and right, above and below, or
      // the diagonal the gradient points along.
      const int across = -int(ay < tan22x), along = -int(ay > tan67x), same = -int((xs ^ ys) >= 0);
      const int diagBefore = (above[x - 1] & same) | (above[x + 1] & ~same);
      const int diagAfter = (below[x + 1] & same) | (below[x - 1] & ~same);
      const int before = (m[x - 1] & across) | (~across & ((above[x] & along) | (~along & diagBefore)));
      const int after = (m[x + 1] & across) | (~across & ((below[x] & along) | (~along & diagAfter)));
      const int v = m[x];
      // Greater than the neighbour before; not less than the one after (diagonally: greater).
      const int peak = int(v > low) & int(v > before) & int(v + ((across | along) & 1) > after);
      const int strong = peak & int(v > high);
      mark[x] = std::uint8_t(1 - peak + 2 * strong);
    }
  }
  // Weak edges joined to edges (eight neighbours) are edges.
  std::vector<std::uint8_t*> stack;
  for (int y = 0; y < rows; ++y) {
    std::uint8_t* mark = &map[std::size_t((y + 1) * w + 1)];
    for (int x = 0; x < cols; ++x)
      if (mark[x] == 2) stack.push_back(mark + x);
  }
  while (!stack.empty()) {
    std::uint8_t* p = stack.back();
    stack.pop_back();
    for (const std::ptrdiff_t o :
         {-w - 1, -w, -w + 1, std::ptrdiff_t(-1), std::ptrdiff_t(1), w - 1, w, w + 1})
      if (p[o] == 0) p[o] = 2, stack.push_back(p + o);
  }
  cv::Mat edges(rows, cols, CV_8U);
  for (int y = 0; y < rows; ++y) {
    const std::uint8_t* mark = &map[std::size_t((y + 1) * w + 1)];
    std::uint8_t* e = edges.ptr<std::uint8_t>(y);
    for (int x = 0; x < cols; ++x) e[x] = mark[x] == 2 ? 255 : 0;
  }
  return edges;
}

// Share of the stretch of the line from `a` to `b` between fractions `t0` and `t1` with a strong,
// consistent step close to it.
float lineSupport(detail::Frame& frame, cv::Point2f a, cv::Point2f b, float t0, float t1) {
  const bool colour = frame.hasChroma();
  const double len = dist(a, b);
  if (len < 1) return 0;
  const cv::Point2f d = (b - a) * float(1 / len), n(-d.y, d.x);
  constexpr int kSamples = 24;
  int best = 0;
  // Grey first; colour only when grey leaves part of the edge unsupported.
  for (const bool withColour : {false, true}) {
    if (withColour && (!colour || best == kSamples)) break;
    std::array<std::array<int, kSamples>, 3> sign{};
    for (int i = 0; i < kSamples; ++i) {
      const float t = t0 + (t1 - t0) * (float(i) + 0.5f) / kSamples;
      const ColourHits hits = findEdges(frame, a + (b - a) * t, n, 3, withColour);
      for (std::size_t c = 0; c < 3; ++c)
        if (std::abs(hits[c].offset) <= 2.5f)
          sign[c][std::size_t(i)] = hits[c].strength > 7 ? 1 : hits[c].strength < -7 ? -1 : 0;
    }
    for (std::size_t c = 0; c < 3; ++c) {
      // The steps of one polarity, or, where the side passes from a band to the body (a dark band and
      // a light body on a surface between the two), those in stretches of one polarity: texture
      // changes polarity from sample to sample.
      int pos = 0, neg = 0, stretches = 0;
      for (std::size_t i = 0; i < kSamples; ++i) {
        const int s = sign[c][i];
        (s > 0 ? ++pos : s < 0 ? ++neg : 0);
        stretches += s != 0 && ((i > 0 && sign[c][i - 1] == s) || (i + 1 < kSamples && sign[c][i + 1] == s));
      }
      best = std::max({best, pos, neg, stretches});
    }
  }
  return float(best) / kSamples;
}

// Share of the outline with a strong, consistent step close to it.
// `sides`, when given, receives each side's share (side e runs from corner e to corner e + 1).
float edgeSupport(detail::Frame& frame, const Quad& q, float* mean = nullptr,
                  std::array<float, 4>* sides = nullptr) {
  float sum = 0, weakest = 1;
  for (int e = 0; e < 4; ++e) {
    const cv::Point2f a = q[e], b = q[(e + 1) % 4];
    if (dist(a, b) < 1) return 0;
    const float edge = lineSupport(frame, a, b, 0.06f, 0.94f);
    if (sides) (*sides)[std::size_t(e)] = edge;
    sum += edge;
    weakest = std::min(weakest, edge);
  }
  // An outline with one unsupported side is a guess (a corner of the document
  // and a stray line): the weakest side weighs as much as the other three.
  if (mean) *mean = sum / 4;
  return 0.5f * sum / 4 + 0.5f * weakest;
}

// `polarity`, when given, receives the sign of the steps counted.
float segmentSupport(const cv::Point2f& p0, const cv::Point2f& p1, cv::Point2f n, const cv::Mat& gx,
                     const cv::Mat& gy, int kSamples = 24, int* polarity = nullptr) {
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
  if (polarity) *polarity = pos >= neg ? 1 : -1;
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

// How far a side runs on past `from` in direction `dir` (unit), measured along `outward`: the side
// is followed step by step (its line, fitted on a small image to corners that a rounded corner
// pulls inward, may be a little off), through gaps of a few pixels where print touches it.
// `gxy` holds each pixel's x and y gradients side by side (CV_16SC2).
double sideReach(cv::Point2f from, cv::Point2f dir, cv::Point2f outward, const cv::Mat& gxy, int maxSteps) {
  const cv::Point2f n(-dir.y, dir.x);
  cv::Point2f cur = from;
  double reach = 0;
  int misses = 0;
  for (int step = 0; step < maxSteps; ++step) {
    cur += dir;
    float best = 0;
    int bestK = 0;
    for (int k = -2; k <= 2; ++k) {
      const cv::Point2f p = cur + n * float(k);
      const int xx = int(p.x), yy = int(p.y);
      if (xx < 0 || yy < 0 || xx >= gxy.cols || yy >= gxy.rows) continue;
      const cv::Vec2s v = gxy.at<cv::Vec2s>(yy, xx);
      const float gxv = v[0], gyv = v[1];
      const float g = std::abs(gxv * n.x + gyv * n.y), along = std::abs(gxv * dir.x + gyv * dir.y);
      // Texture has steps in every direction: only a step across the side counts.
      if (g > best && g > 2 * along) best = g, bestK = k;
    }
    if (best > 40) {
      cur += n * float(std::clamp(bestK, -1, 1));  // follow the edge, a pixel at a time
      reach = double((cur - from).dot(outward));
      misses = 0;
    } else if (++misses > 4) {
      break;
    }
  }
  return reach;
}

// The best-supported line within `reach` pixels of side `e` of `q` (each end moved on its own), with the
// neighbouring sides carried to it; false when the side is best where it is.
bool moveSide(const Quad& q, int e, const cv::Mat& gx, const cv::Mat& gy, int reach, Quad& out) {
  const cv::Point2f a = q[std::size_t(e)], b = q[std::size_t((e + 1) % 4)];
  const double len = dist(a, b);
  if (len < 8) return false;
  const cv::Point2f d = (b - a) * float(1 / len), n(-d.y, d.x);
  // The step across the side at each sample and offset, read once: lines between the offsets at the two
  // ends (the moved side's normal is taken as the side's own, for a tilt of a few pixels).
  constexpr int kSamples = 24, kMaxReach = 16;
  reach = std::min(reach, kMaxReach);
  // Half-pixel offsets.
  const int span = 4 * reach + 5;
  std::array<float, kSamples*(4 * kMaxReach + 5)> step{};
  std::array<float, kSamples> at{};
  for (int i = 0; i < kSamples; ++i) {
    at[std::size_t(i)] = 0.1f + 0.8f * (float(i) + 0.5f) / kSamples;
    const cv::Point2f p = a + (b - a) * at[std::size_t(i)];
    for (int o = -2 * reach - 2; o <= 2 * reach + 2; ++o) {
      const int xx = int(p.x + n.x * 0.5f * float(o)), yy = int(p.y + n.y * 0.5f * float(o));
      if (xx < 0 || yy < 0 || xx >= gx.cols || yy >= gx.rows) continue;
      step[std::size_t(i * span + o + 2 * reach + 2)] =
          gx.at<short>(yy, xx) * n.x + gy.at<short>(yy, xx) * n.y;
    }
  }
  // Per sample and offset: the strongest step within a pixel rising (1) or falling (2) past the threshold.
  std::array<std::uint8_t, kSamples*(4 * kMaxReach + 5)> sign{};
  for (int i = 0; i < kSamples; ++i)
    for (int k = 2; k + 2 < span; ++k) {
      const float* s = &step[std::size_t(i * span + k)];
      float best = s[0];
      if (std::abs(s[-2]) > std::abs(best)) best = s[-2];
      if (std::abs(s[2]) > std::abs(best)) best = s[2];
      sign[std::size_t(i * span + k)] = best > 60 ? 1 : best < -60 ? 2 : 0;
    }
  // Offsets in half pixels, rounded to nearest (kept positive for the cast).
  std::array<float, kSamples> from{}, along{};
  for (int i = 0; i < kSamples; ++i)
    from[std::size_t(i)] = 2 * (1 - at[std::size_t(i)]), along[std::size_t(i)] = 2 * at[std::size_t(i)];
  const float bias = float(2 * reach + 2) + 0.5f;
  const auto support = [&](int o0, int o1) {
    int pos = 0, neg = 0;
    for (int i = 0; i < kSamples; ++i) {
      const int k = int(float(o0) * from[std::size_t(i)] + float(o1) * along[std::size_t(i)] + bias);
      const std::uint8_t s = sign[std::size_t(i * span + k)];
      pos += s & 1, neg += s >> 1;
    }
    return std::max(pos, neg);
  };
  const int here = support(0, 0);
  int best = here, best0 = 0, best1 = 0;
  for (int o0 = -reach; o0 <= reach; ++o0)
    for (int o1 = -reach; o1 <= reach; ++o1) {
      const int sup = support(o0, o1);
      if (sup > best || (sup == best && std::abs(o0) + std::abs(o1) < std::abs(best0) + std::abs(best1)))
        best = sup, best0 = o0, best1 = o1;
    }
  // Only a line clearly better supported, and supported along most of its length, is worth refining.
  if ((best0 == 0 && best1 == 0) || best < kSamples * 3 / 4 || best < here + 4) return false;
  const cv::Point2f a2 = a + n * float(best0), b2 = b + n * float(best1);
  const Line moved{a2, (b2 - a2) * float(1 / std::max(dist(a2, b2), 1e-6))};
  const cv::Point2f prev = q[std::size_t((e + 3) % 4)], next = q[std::size_t((e + 2) % 4)];
  const Line left{prev, (a - prev) * float(1 / std::max(dist(a, prev), 1e-6))},
      right{next, (b - next) * float(1 / std::max(dist(b, next), 1e-6))};
  out = q;
  return intersect(moved, left, out[std::size_t(e)]) &&
         intersect(moved, right, out[std::size_t((e + 1) % 4)]) && isConvex(out);
}

}  // namespace

namespace detail {

void stepRowPortable(const cv::Mat& gxy, cv::Point2f base, cv::Point2f n, cv::Point2f d, int count,
                     std::uint8_t* out) {
  const short* data = gxy.ptr<short>();
  const std::size_t stride = gxy.step1();
  const int cols = gxy.cols, rows = gxy.rows;
  for (int o = 0; o < count; ++o) {
    const float px = base.x + n.x * float(o), py = base.y + n.y * float(o);
    const int xx = int(px), yy = int(py);
    const bool inside = xx >= 0 && yy >= 0 && xx < cols && yy < rows;
    const std::size_t at = inside ? std::size_t(yy) * stride + 2 * std::size_t(xx) : 0;
    const float sx = data[at], sy = data[at + 1];
    const float g = sx * n.x + sy * n.y, along = sx * d.x + sy * d.y, strength = std::abs(g);
    const int polarity = g > 0 ? 1 : 2;
    const int bits = (polarity << (strength > 60 ? 2 : 0)) | polarity;
    out[o] = std::uint8_t(inside && strength > 40 && strength > 2 * std::abs(along) ? bits : 0);
  }
}

#ifdef VISION_STEP_ROW_AVX2
// The same, eight pixels at a time: the points lie far apart in the image, and one gather fetches
// both gradients of eight of them. The arithmetic is the portable loop's, operation for operation
// (multiplies and adds apart, no fused multiply-add), so the bits are the same.
__attribute__((target("avx2"))) void stepRowAVX2(const cv::Mat& gxy, cv::Point2f base, cv::Point2f n,
                                                 cv::Point2f d, int count, std::uint8_t* out) {
  const int* data = gxy.ptr<int>();
  const int stride = int(gxy.step1() / 2);  // in pixels of two shorts
  const __m256 bx = _mm256_set1_ps(base.x), by = _mm256_set1_ps(base.y), nx = _mm256_set1_ps(n.x),
               ny = _mm256_set1_ps(n.y), dx = _mm256_set1_ps(d.x), dy = _mm256_set1_ps(d.y);
  const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
  const __m256 weak = _mm256_set1_ps(40), strong = _mm256_set1_ps(60), two = _mm256_set1_ps(2),
               zero = _mm256_setzero_ps();
  const __m256i cols = _mm256_set1_epi32(gxy.cols), rows = _mm256_set1_epi32(gxy.rows),
                minusOne = _mm256_set1_epi32(-1), one = _mm256_set1_epi32(1), twoI = _mm256_set1_epi32(2),
                five = _mm256_set1_epi32(5);
  __m256 o = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256 eight = _mm256_set1_ps(8);
  for (int first = 0; first < count; first += kStepRowBlock, o = _mm256_add_ps(o, eight)) {
    const __m256 px = _mm256_add_ps(bx, _mm256_mul_ps(nx, o)), py = _mm256_add_ps(by, _mm256_mul_ps(ny, o));
    const __m256i xx = _mm256_cvttps_epi32(px), yy = _mm256_cvttps_epi32(py);
    const __m256i inside =
        _mm256_and_si256(_mm256_and_si256(_mm256_cmpgt_epi32(xx, minusOne), _mm256_cmpgt_epi32(yy, minusOne)),
                         _mm256_and_si256(_mm256_cmpgt_epi32(cols, xx), _mm256_cmpgt_epi32(rows, yy)));
    const __m256i at =
        _mm256_and_si256(inside, _mm256_add_epi32(_mm256_mullo_epi32(yy, _mm256_set1_epi32(stride)), xx));
    const __m256i pair = _mm256_i32gather_epi32(data, at, 4);
    const __m256 sx = _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_slli_epi32(pair, 16), 16)),
                 sy = _mm256_cvtepi32_ps(_mm256_srai_epi32(pair, 16));
    const __m256 g = _mm256_add_ps(_mm256_mul_ps(sx, nx), _mm256_mul_ps(sy, ny)),
                 along = _mm256_add_ps(_mm256_mul_ps(sx, dx), _mm256_mul_ps(sy, dy));
    const __m256 strength = _mm256_and_ps(g, absMask);
    const __m256i polarity =
        _mm256_blendv_epi8(twoI, one, _mm256_castps_si256(_mm256_cmp_ps(g, zero, _CMP_GT_OQ)));
    const __m256i isStrong = _mm256_castps_si256(_mm256_cmp_ps(strength, strong, _CMP_GT_OQ));
    const __m256i bits = _mm256_blendv_epi8(polarity, _mm256_mullo_epi32(polarity, five), isStrong);
    const __m256 keep =
        _mm256_and_ps(_mm256_cmp_ps(strength, weak, _CMP_GT_OQ),
                      _mm256_cmp_ps(strength, _mm256_mul_ps(two, _mm256_and_ps(along, absMask)), _CMP_GT_OQ));
    const __m256i kept = _mm256_and_si256(bits, _mm256_and_si256(inside, _mm256_castps_si256(keep)));
    const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(kept), _mm256_extracti128_si256(kept, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + first), _mm_packus_epi16(words, words));
  }
}
#endif

}  // namespace detail

namespace {

using detail::kStepRowBlock;

void stepRow(const cv::Mat& gxy, cv::Point2f base, cv::Point2f n, cv::Point2f d, int count,
             std::uint8_t* out) {
#ifdef VISION_STEP_ROW_AVX2
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") > 0;
  }();
  if (avx2) return detail::stepRowAVX2(gxy, base, n, d, count, out);
#endif
  detail::stepRowPortable(gxy, base, n, d, count, out);
}

// Printed bands and boxes inside a document give rectangles of their own that
// share some edges with the document, or none. A document's own sides run on
// past such a box's edge (across a header band, say) up to its outer edge;
// a box's sides stop at its corners, and a line of the surface beyond the
// document has no sides leading to it. So each edge moves outward to the
// farthest well-supported line that a neighbouring side reaches, allowing for
// a rounded corner's bend. (One side is enough: a band may match the surface
// on one side of the document.)
// `gxy` holds each pixel's x and y gradients side by side (CV_16SC2): the search reads both at points
// far apart, and one cache line then serves both.
VISION_AVX2_CLONES Quad growOutward(const Quad& q, const cv::Mat& gxy) {
  Quad out = q;
  const cv::Point2f centre = (q[0] + q[1] + q[2] + q[3]) * 0.25f;
  const auto outside = [&](const cv::Point2f& p) {
    return p.x < 0 || p.y < 0 || p.x >= gxy.cols || p.y >= gxy.rows;
  };
  // Again while anything moves: an edge's sides may have grown (a stripe down the side) after it was
  // looked at.
  std::array<bool, 4> shifted = {true, true, true, true};
  constexpr int kMaxSlack = 24, kBlock = 16, kPad = kMaxSlack + kBlock;
  std::vector<std::uint8_t> hit, steps;
  std::uint8_t weak[2 * kMaxSlack + 1][kBlock];
  const int cols = gxy.cols, imageRows = gxy.rows;
  for (int pass = 0, changed = 1; pass < 4 && changed; ++pass) {
    changed = 0;
    const std::array<bool, 4> before = shifted;
    shifted = {false, false, false, false};
    for (int e = 0; e < 4; ++e) {
      // An edge whose neighbours and itself stayed put would find what it found before.
      if (pass > 0 && !before[(e + 3) % 4] && !before[e] && !before[(e + 1) % 4] && !shifted[(e + 3) % 4])
        continue;
      const cv::Point2f a = out[e], b = out[(e + 1) % 4], prev = out[(e + 3) % 4], next = out[(e + 2) % 4];
      const double len = dist(a, b), sideLen = std::min(dist(a, prev), dist(b, next));
      if (len < 8 || sideLen < 8) continue;
      cv::Point2f d = (b - a) * float(1 / len), n(-d.y, d.x);
      if ((centre - a).dot(n) > 0) n = -n;  // outward
      const cv::Point2f dl = (a - prev) * float(1 / dist(a, prev)),
                        dr = (b - next) * float(1 / dist(b, next));
      const Line left{prev, dl}, right{next, dr};
      // How far the sides run on past this edge.
      const int maxSteps = cols + imageRows;
      const double reachL = sideReach(a, dl, n, gxy, maxSteps), reachR = sideReach(b, dr, n, gxy, maxSteps);
      const double reach = std::max(0.0, std::max(reachL, reachR));
      // Both sides running on to about the same line: the document reaches that far even where its
      // edge there is faint (a band fading into a surface of its own colour), so a line with less
      // support will do there.
      const double bothReach = std::min(reachL, reachR) > 4 && std::abs(reachL - reachR) < 3 + 0.1 * reach
                                   ? std::min(reachL, reachR)
                                   : 0;
      // A rounded corner bends the sides away over about its radius (3 to 4 % of the card's width).
      // Without sides running on there is nothing to cross: only the outline's own edge, a pixel or two
      // out (a soft shadow further out is not the document's edge).
      const double allowance =
          reach > 0 ? reach + 2 + 0.045 * std::max(len, sideLen + reach) : 2 + 0.025 * len;
      // The farthest well-supported line within that distance. Under perspective a document's
      // printed lines and its edge are not quite parallel in the image: the line's offset at each end
      // is searched on its own, within a slope that grows with the distance.
      if (!(allowance < maxSteps)) continue;
      const int far = int(std::ceil(allowance)), slack = std::min(kMaxSlack, 2 + int(0.4 * allowance));
      constexpr int kSamples = 24;
      const int span = far + slack + 2;
      // Per sample and offset: a rising (bit 0) or falling (bit 1) step within 1 px; bits 2 and 3 the
      // same for strong steps.
      // Padded so that blocks of offsets may run past either end of the rows.
      hit.assign(std::size_t(kSamples * span + 2 * kPad), 0);
      std::uint8_t* rows = hit.data() + kPad;
      // Lines end within `far`, so offsets past far + 1 are never read.
      const int end = std::min(span, far + 2);
      // The steps at each offset (at [o + 1]), then spread a pixel either way; without branches, so that
      // the loop vectorises (on a busy surface a branch per pixel is unpredictable).
      // (Room for a vector's worth past the end, cleared again below.)
      steps.assign(std::size_t(end + 3 + kStepRowBlock), 0);
      for (int i = 0; i < kSamples; ++i) {
        const float t = 0.1f + 0.8f * (float(i) + 0.5f) / kSamples;
        const cv::Point2f base = a + (b - a) * t;
        stepRow(gxy, base, n, d, end, steps.data() + 1);
        std::fill(steps.begin() + end + 1, steps.end(), std::uint8_t(0));
        std::uint8_t* row = rows + i * span;
        for (int k = 0, last = std::min(span - 1, end); k <= last; ++k)
          row[k] |= steps[std::size_t(k)] | steps[std::size_t(k + 1)] | steps[std::size_t(k + 2)];
      }
      // Weak steps find how far the document reaches (its edge against a surface of nearly its own
      // grey); strong ones, where there are any, place the line. A line is an offset at the first end
      // and a slope: per slope, each sample's offset from the first end is fixed.
      static const std::array<int, (2 * kMaxSlack + 1)* kSamples> rise = [] {
        std::array<int, (2 * kMaxSlack + 1) * kSamples> r{};
        for (int s = -kMaxSlack; s <= kMaxSlack; ++s)
          for (int i = 0; i < kSamples; ++i)
            r[std::size_t((s + kMaxSlack) * kSamples + i)] =
                int(std::lround(double(s) * (0.1 + 0.8 * (i + 0.5) / kSamples)));
        return r;
      }();
      // A line's support: its strong steps of one polarity (times 32) and its weak ones. Each sample's
      // four bits are spread a byte apart, so that one sum counts all four (at most 24 each).
      static constexpr std::array<std::uint32_t, 16> spread = [] {
        std::array<std::uint32_t, 16> t{};
        for (std::uint32_t h = 0; h < 16; ++h)
          t[h] = (h & 1) | ((h >> 1 & 1) << 8) | ((h >> 2 & 1) << 16) | ((h >> 3 & 1) << 24);
        return t;
      }();
      const auto support = [&](int o0, int s) {
        std::uint32_t sum = 0;
        const int* r = &rise[std::size_t((s + kMaxSlack) * kSamples)];
        for (int i = 0; i < kSamples; ++i) sum += spread[rows[i * span + o0 + r[i]] & 15];
        return std::max(int(sum >> 16 & 255), int(sum >> 24)) * 32 +
               std::max(int(sum & 255), int(sum >> 8 & 255));
      };
      // The farthest supported line, then the best supported one within 3 px inside it: an edge's
      // response is a few pixels wide, and its far fringe is not the edge.
      // Offsets are taken 16 at a time, from the far end inward, the weak support of all slopes of
      // the 16 counted together (the counts of offsets outside [1, far] read padding and go unused).
      double farthest = -1;
      for (int top = far; top >= 1 && top + 0.5 * slack > farthest; top -= kBlock) {
        const int bottom = top - (kBlock - 1);
        for (int s = -slack; s <= slack; ++s) {
          const int* r = &rise[std::size_t((s + kMaxSlack) * kSamples)];
          std::uint8_t up[kBlock] = {}, down[kBlock] = {};
          for (int i = 0; i < kSamples; ++i) {
            const std::uint8_t* h = rows + (i * span + bottom + r[i]);
            for (int j = 0; j < kBlock; ++j) up[j] += h[j] & 1, down[j] += (h[j] >> 1) & 1;
          }
          for (int j = 0; j < kBlock; ++j) weak[s + slack][j] = std::max(up[j], down[j]);
        }
        // Only lines beyond the farthest so far (mean offset o0 + s / 2 > farthest; both are multiples
        // of 0.5, and farthest only grows as s does).
        for (int o0 = top; o0 >= std::max(1, bottom) && o0 + 0.5 * slack > farthest; --o0)
          for (int s = std::max({1 - o0, -slack, int(std::floor(2 * (farthest - o0))) + 1}),
                   sEnd = std::min(far - o0, slack);
               s <= sEnd; ++s) {
            const double mean = o0 + 0.5 * s;
            const bool faintWillDo = bothReach > 0 && mean >= bothReach - 3 && mean <= reach + 3;
            if (weak[s + slack][o0 - bottom] >= (faintWillDo ? kSamples / 2 : kSamples * 3 / 4))
              farthest = mean;
          }
      }
      double bestMean = -1, best0 = 0, best1 = 0;
      int bestSupport = 0;
      for (int o0 = 1; o0 <= far && farthest > 0; ++o0)
        // Only lines whose mean offset lies within [farthest - 3, farthest] (farthest is a multiple of 0.5).
        for (int s = std::max({1 - o0, -slack, int(std::ceil(2 * (farthest - 3 - o0)))}),
                 sEnd = std::min({far - o0, slack, int(std::floor(2 * (farthest - o0)))});
             s <= sEnd; ++s) {
          const double mean = o0 + 0.5 * s;
          const int sup = support(o0, s);
          if (sup > bestSupport || (sup == bestSupport && mean > bestMean))
            bestSupport = sup, bestMean = mean, best0 = o0, best1 = o0 + s;
        }
      if (bestMean < 1.5) continue;
      const cv::Point2f q0 = a + n * float(best0), q1 = b + n * float(best1);
      const Line moved{q0, (q1 - q0) * float(1 / std::max(dist(q0, q1), 1e-6))};
      cv::Point2f p0, p1;
      if (!intersect(moved, left, p0) || !intersect(moved, right, p1) || (outside(p0) && outside(p1)))
        continue;
      out[e] = p0;
      out[(e + 1) % 4] = p1;
      shifted[e] = true;
      ++changed;
    }
  }
  return out;
}

// A document whose outline something touches (a cable, a blob of the same grey, a corner cut off
// by the polygon fit) gives a polygon of more sides: of its long sides, the four that, extended,
// make the best-supported convex outline.
bool bestFourSides(const std::vector<cv::Point>& poly, double perimeter, const cv::Mat& gx, const cv::Mat& gy,
                   Quad& out) {
  std::vector<Line> sides;
  const std::size_t count = poly.size();
  for (std::size_t i = 0; i < count; ++i) {
    const cv::Point2f a(poly[i]), b(poly[(i + 1) % count]);
    const double len = dist(a, b);
    if (len >= 0.08 * perimeter) sides.push_back({a, (b - a) * float(1 / len)});
  }
  if (sides.size() < 4 || sides.size() > 7) return false;
  float best = 0.5f;  // an outline must be mostly supported to be worth refining
  bool found = false;
  const std::size_t n = sides.size();
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j)
      for (std::size_t k = j + 1; k < n; ++k)
        for (std::size_t l = k + 1; l < n; ++l) {
          const std::array<const Line*, 4> pick = {&sides[i], &sides[j], &sides[k], &sides[l]};
          Quad q;
          bool ok = true;
          for (int c = 0; c < 4 && ok; ++c)
            ok = intersect(*pick[std::size_t((c + 3) % 4)], *pick[std::size_t(c)], q[std::size_t(c)]);
          if (!ok || !isConvex(q)) continue;
          const float support = quadSupport(q, gx, gy);
          if (support > best) best = support, out = q, found = true;
        }
  return found;
}

// How many of the eight stretches just beyond the outline's corners, along its sides, are edges
// too. A document's sides end at its corners; the crossing lines of a mural, a facade or a
// patterned shirt, which make rectangles of their own, run on.
int sidesRunningOn(const Quad& q, const cv::Mat& gx, const cv::Mat& gy) {
  // A large outline (a document held over a facade or a circuit board) often has a line of the surface
  // passing one of its corners: only a line that steps the same way as the side (the same two regions
  // on either side of it) is the side running on. On a small outline any line counts: there, lines
  // running past the corners make a pattern.
  const bool large = geometry(q).longSide >= 0.4 * std::min(gx.cols, gx.rows);
  std::array<int, 4> atCorner{};  // stretches running on past each corner
  for (int e = 0; e < 4; ++e) {
    const cv::Point2f a = q[e], b = q[(e + 1) % 4];
    const double len = dist(a, b);
    if (len < 8) continue;
    const cv::Point2f d = (b - a) * float(1 / len), n(-d.y, d.x);
    const float from = 3, to = float(std::max(8.0, 0.15 * len));
    int own = 0, before = 0, after = 0;
    if (large) segmentSupport(a, b, n, gx, gy, 24, &own);
    atCorner[std::size_t(e)] += segmentSupport(a - d * from, a - d * to, n, gx, gy, 12, &before) >= 0.75f &&
                                (!large || before == own);
    atCorner[std::size_t((e + 1) % 4)] +=
        segmentSupport(b + d * from, b + d * to, n, gx, gy, 12, &after) >= 0.75f && (!large || after == own);
  }
  const int count = atCorner[0] + atCorner[1] + atCorner[2] + atCorner[3];
  // On a large outline, lines that cross at one corner only are a corner of the surface's own that the
  // document lies on by chance.
  if (large && count == 2 && std::max({atCorner[0], atCorner[1], atCorner[2], atCorner[3]}) == 2) return 1;
  return count;
}

// The width-to-height ratio (short over long) of the flat rectangle that `q` is a picture of, for a
// camera whose optical centre is the image's centre and whose focal length is about 0.85 times the
// longer image side (a phone's main camera or a webcam, 60 to 70 degrees across; within 0.8 to 1.5 times,
// the ratio moves by a hundredth or two).
// A card tilted away from the camera looks longer or shorter than it is; this is its own ratio. The
// plain ratio of the sides when the quad gives nothing better (parallel sides, no vanishing point).
double flatAspect(const Quad& q, cv::Size image) {
  const double f = 0.85 * std::max(image.width, image.height);
  const cv::Point2d c(image.width / 2.0, image.height / 2.0);
  const auto at = [&](int i) { return cv::Vec3d(q[std::size_t(i)].x - c.x, q[std::size_t(i)].y - c.y, 1); };
  const cv::Vec3d tl = at(0), tr = at(1), br = at(2), bl = at(3);
  const double d2 = tr.cross(br).dot(bl), d3 = bl.cross(br).dot(tr);
  const Geometry g = geometry(q);
  const double plain = g.shortSide / std::max(g.longSide, 1e-9);
  if (std::abs(d2) < 1e-9 || std::abs(d3) < 1e-9) return plain;
  // Where the corners of the flat rectangle lie along their rays: its two sides from the top left.
  const cv::Vec3d n2 = tr * (tl.cross(br).dot(bl) / d2) - tl, n3 = bl * (tl.cross(br).dot(tr) / d3) - tl;
  const double w2 = (n2[0] * n2[0] + n2[1] * n2[1]) / (f * f) + n2[2] * n2[2],
               h2 = (n3[0] * n3[0] + n3[1] * n3[1]) / (f * f) + n3[2] * n3[2];
  if (!(w2 > 0 && h2 > 0)) return plain;
  const double r = std::sqrt(w2 / h2);
  return std::isfinite(r) && r > 0 ? std::min(r, 1 / r) : plain;
}

// ID-1 cards (85.6 x 54 mm) and passports' pages (125 x 88 mm).
constexpr std::array<double, 2> kDocumentRatios = {54.0 / 85.6, 88.0 / 125.0};

// How well a ratio fits a document's.
// Only a preference between outlines of one document: the ratios a host accepts are its own limits.
double documentLikeness(double aspect) {
  double best = 0;
  for (const double document : kDocumentRatios) {
    const double off = std::max(0.0, std::abs(aspect - document) - 0.02) / 0.04;
    best = std::max(best, 1 / (1 + off * off));
  }
  return best;
}

// The outline `q` with side e moved along its normal so that the flat rectangle has `ratio`; false when
// no offset within a third of the neighbouring sides does.
bool withRatio(const Quad& q, int e, double ratio, cv::Size image, Quad& out) {
  const cv::Point2f a = q[std::size_t(e)], b = q[std::size_t((e + 1) % 4)],
                    prev = q[std::size_t((e + 3) % 4)], next = q[std::size_t((e + 2) % 4)];
  const double len = dist(a, b), reach = std::min(dist(a, prev), dist(b, next)) / 3;
  if (len < 8 || reach < 8) return false;
  const cv::Point2f d = (b - a) * float(1 / len), n(-d.y, d.x);
  const Line left{prev, (a - prev) * float(1 / dist(a, prev))},
      right{next, (b - next) * float(1 / dist(b, next))};
  double bestOff = 1e9;
  for (int o = -int(reach); o <= int(reach); ++o) {
    Quad m = q;
    const Line moved{a + n * float(o), d};
    if (!intersect(moved, left, m[std::size_t(e)]) || !intersect(moved, right, m[std::size_t((e + 1) % 4)]) ||
        !isConvex(m))
      continue;
    const double off = std::abs(flatAspect(m, image) - ratio);
    if (off < bestOff) bestOff = off, out = m;
  }
  return bestOff < 0.005;
}

// A card on a busy surface often gives no outline of its own, only outlines that share some of its
// sides: its body or a band, or one grown onto a line of the surface that meets one of its sides. Each
// side of the best outline may be swapped for a nearly parallel side of another outline; each mix is
// judged by what a card's outline shows at full resolution and a chance outline does not: every side a
// step of one kind (channel and polarity) along its length, stopping at its ends, and a document's
// proportions. Of the mixes whose sides are nearly as well supported as the best's, the largest wins,
// as among outlines.
class SideMixer {
 public:
  SideMixer(detail::Frame& frame, const Quad& seed) : frame_(frame), seed_(seed) {
    for (int e = 0; e < 4; ++e) offer(e, seed[std::size_t(e)], seed[std::size_t((e + 1) % 4)]);
  }

  // Offers the line through p and q as side e; kept when it is nearly parallel to the seed's side e and
  // near it.
  void offer(int e, cv::Point2f p, cv::Point2f q) {
    auto& options = options_[std::size_t(e)];
    if (options.size() >= kMaxOptions) return;
    const cv::Point2f a = seed_[std::size_t(e)], b = seed_[std::size_t((e + 1) % 4)];
    const double len = dist(a, b), pq = dist(p, q);
    if (len < 8 || pq < 8) return;
    const cv::Point2f d = (b - a) * float(1 / len), n(-d.y, d.x), dir = (q - p) * float(1 / pq);
    if (d.dot(dir) < std::cos(6 * kPi / 180)) return;
    // Where the line crosses the normals at the seed side's ends.
    cv::Point2f pa, pb;
    if (!intersect({p, dir}, {a, n}, pa) || !intersect({p, dir}, {b, n}, pb)) return;
    const double across =
        0.5 * std::min(dist(b, seed_[std::size_t((e + 2) % 4)]), dist(a, seed_[std::size_t((e + 3) % 4)]));
    if (dist(pa, a) > across || dist(pb, b) > across) return;
    for (const auto& o : options)
      if (dist(o.a, pa) < 2 && dist(o.b, pb) < 2) return;
    Option o{pa, pb, {}};
    const cv::Point2f normal =
        cv::Point2f(-(pb - pa).y, (pb - pa).x) * float(1 / std::max(dist(pa, pb), 1e-6));
    const bool colour = frame_.hasChroma();
    for (int i = 0; i < kSamples; ++i) {
      const ColourHits hits =
          findEdges(frame_, pa + (pb - pa) * (kFrom + kStep * (float(i) + 0.5f)), normal, 3, colour);
      std::uint8_t bits = 0;
      for (std::size_t c = 0; c < 3; ++c)
        if (std::abs(hits[c].offset) <= 2.5f)
          bits |= std::uint8_t((hits[c].strength > 7 ? 1 : hits[c].strength < -7 ? 2 : 0) << (2 * c));
      o.steps[std::size_t(i)] = bits;
    }
    options.push_back(o);
  }

  // The best mix of those `acceptable`; false when that is the seed itself.
  template <typename Acceptable>
  bool best(cv::Size image, const Acceptable& acceptable, Quad& out) const {
    for (const auto& options : options_)
      if (options.empty()) return false;
    struct Mix {
      Quad quad;
      double support, score;
    };
    std::vector<Mix> mixes;
    double bestSupport = -1;
    std::array<std::size_t, 4> pick{};
    for (pick[0] = 0; pick[0] < options_[0].size(); ++pick[0])
      for (pick[1] = 0; pick[1] < options_[1].size(); ++pick[1])
        for (pick[2] = 0; pick[2] < options_[2].size(); ++pick[2])
          for (pick[3] = 0; pick[3] < options_[3].size(); ++pick[3]) {
            Quad q;
            bool ok = true;
            for (std::size_t c = 0; c < 4 && ok; ++c) {
              const Option &before = options_[(c + 3) % 4][pick[(c + 3) % 4]], &after = options_[c][pick[c]];
              ok = intersect({before.a, (before.b - before.a) * float(1 / dist(before.a, before.b))},
                             {after.a, (after.b - after.a) * float(1 / dist(after.a, after.b))}, q[c]);
            }
            // The seed (the first option of each side) always counts, whatever its shape.
            const bool seed = pick == std::array<std::size_t, 4>{};
            if (seed && !ok) return false;
            if (!ok || (!seed && (!isConvex(q) || !acceptable(q)))) continue;
            double support = 0;
            for (std::size_t e = 0; e < 4; ++e)
              support += sideScore(options_[e][pick[e]], q[e], q[(e + 1) % 4]) / 4;
            const Geometry g = geometry(q);
            mixes.push_back({q, support,
                             g.longSide * g.shortSide * std::max(support, 1e-3) *
                                 documentLikeness(flatAspect(q, image))});
            bestSupport = std::max(bestSupport, support);
          }
    // Of the mixes nearly as well supported as the best, the largest and most like a document; the seed
    // (the first) unless another beats it by a tenth.
    std::size_t winner = mixes.size();
    for (std::size_t i = 0; i < mixes.size(); ++i)
      if (mixes[i].support >= bestSupport - 0.2 &&
          (winner == mixes.size() || mixes[i].score > mixes[winner].score))
        winner = i;
    if (winner == mixes.size() || winner == 0 || mixes[winner].score < 1.1 * mixes[0].score) return false;
    out = mixes[winner].quad;
    return true;
  }

 private:
  // Samples along a line from 0.35 of the seed side's length before it to 0.35 after.
  static constexpr int kSamples = 68;
  static constexpr float kFrom = -0.35f, kStep = 1.7f / kSamples;
  static constexpr std::size_t kMaxOptions = 5;

  struct Option {
    cv::Point2f a, b;  // the line, level with the seed side's ends
    // Per sample, 2 bits per channel: a rising (1) or falling (2) step.
    std::array<std::uint8_t, kSamples> steps;
  };

  // The share of the side from `from` to `to` with a step of one kind, less 0.4 times the share of the
  // stretches just past its ends (0.04 to 0.14 of its length) with the same step: a side of the
  // document ends at its corners.
  static double sideScore(const Option& o, cv::Point2f from, cv::Point2f to) {
    const cv::Point2f v = o.b - o.a;
    const float vv = std::max(v.dot(v), 1e-6f);
    const float u0 = (from - o.a).dot(v) / vv, len = (to - o.a).dot(v) / vv - u0;
    if (len <= 0) return 0;
    double support = 0, runOn = 0;
    for (int bit = 0; bit < 6; ++bit) {
      int along = 0, alongCount = 0, before = 0, beforeCount = 0, after = 0, afterCount = 0;
      for (int i = 0; i < kSamples; ++i) {
        const float r = (kFrom + kStep * (float(i) + 0.5f) - u0) / len;  // 0 to 1 along the side
        const int step = (o.steps[std::size_t(i)] >> bit) & 1;
        if (r >= 0.05f && r <= 0.95f)
          along += step, ++alongCount;
        else if (r <= -0.04f && r >= -0.14f)
          before += step, ++beforeCount;
        else if (r >= 1.04f && r <= 1.14f)
          after += step, ++afterCount;
      }
      if (alongCount == 0 || double(along) / alongCount <= support) continue;
      support = double(along) / alongCount;
      runOn = std::max(beforeCount ? double(before) / beforeCount : 0.0,
                       afterCount ? double(after) / afterCount : 0.0);
    }
    return support - 0.4 * runOn;
  }

  detail::Frame& frame_;
  Quad seed_;
  std::array<std::vector<Option>, 4> options_;
};

struct Candidate {
  Quad quad;
  float confidence;
  float meanSupport;  // of the four sides
  std::array<float, 4> sideSupport;
  int sidesRunningOn;
  double area;
};

// How far the line of a side runs on from `from` in direction `dir` (unit) at full resolution: steps
// across normal `n` of one channel and polarity (those of the first step met: a band differs from the
// surface in its own way), followed a pixel at a time, through gaps of a few pixels; at most `maxLength`.
double runsOnFor(detail::Frame& frame, cv::Point2f from, cv::Point2f dir, cv::Point2f n, double maxLength) {
  double reach = 0, drift = 0;
  int misses = 0, channel = -1, polarity = 0;
  for (double t = 2; t <= maxLength; t += 2) {
    const cv::Point2f p = from + dir * float(t) + n * float(drift);
    const ColourHits hits = findEdges(frame, p, n, 2, frame.hasChroma());
    int found = -1;
    for (int c = 0; c < 3; ++c) {
      const EdgeHit& h = hits[std::size_t(c)];
      if (std::abs(h.offset) > 2 || std::abs(h.strength) <= 7) continue;
      if (channel < 0 ? found < 0 || std::abs(h.strength) > std::abs(hits[std::size_t(found)].strength)
                      : c == channel && h.strength * float(polarity) > 0)
        found = c;
    }
    if (found >= 0) {
      if (channel < 0) channel = found, polarity = hits[std::size_t(found)].strength > 0 ? 1 : -1;
      reach = t, misses = 0;
      drift += std::clamp(double(hits[std::size_t(found)].offset), -1.0, 1.0);
    } else if (++misses > 3) {
      break;
    }
  }
  return reach;
}

// Whether `outer` is `inner` carried past one of its sides: they share the opposite side, the two sides
// beside it lie on the same lines, and outer's fourth side `side` (from its corner `side` to the next)
// lies beyond inner's. `tolerance` in pixels. `innerEnds` receives inner's corners on outer's sides
// `side` - 1 and `side` + 1.
bool extendsPastOneSide(const Quad& outer, const Quad& inner, double tolerance, int& side,
                        std::array<cv::Point2f, 2>& innerEnds) {
  const auto offLine = [](cv::Point2f p, cv::Point2f a, cv::Point2f b) {
    const double len = std::max(dist(a, b), 1e-6);
    return std::abs(double(b.x - a.x) * (p.y - a.y) - double(b.y - a.y) * (p.x - a.x)) / len;
  };
  for (int shift = 0; shift < 4; ++shift) {
    const auto in = [&](int i) { return inner[std::size_t((i + shift) % 4)]; };
    const auto out = [&](int i) { return outer[std::size_t(i % 4)]; };
    for (int k = 0; k < 4; ++k) {
      if (dist(in(k + 2), out(k + 2)) > tolerance || dist(in(k + 3), out(k + 3)) > tolerance) continue;
      if (offLine(in(k), out(k + 3), out(k)) > tolerance ||
          offLine(in(k + 1), out(k + 1), out(k + 2)) > tolerance)
        continue;
      // Farther out at both ends, by more than the tolerance at one at least.
      const double gained0 = dist(out(k), out(k + 3)) - dist(in(k), out(k + 3)),
                   gained1 = dist(out(k + 1), out(k + 2)) - dist(in(k + 1), out(k + 2));
      if (std::min(gained0, gained1) < -0.5 * tolerance || std::max(gained0, gained1) < tolerance) continue;
      side = k;
      innerEnds = {in(k), in(k + 1)};
      return true;
    }
  }
  return false;
}

// ----- The learned localiser --------------------------------------------------------------------

// The four corners of the largest quadrilateral within a convex polygon: the vertex whose removal
// loses the least area goes, one at a time.
bool largestInscribedQuad(std::vector<cv::Point2f> hull, Quad& out) {
  if (hull.size() < 4) return false;
  const auto cross = [](cv::Point2f a, cv::Point2f b, cv::Point2f c) {
    return std::abs(double(b.x - a.x) * (c.y - a.y) - double(b.y - a.y) * (c.x - a.x));
  };
  while (hull.size() > 4) {
    std::size_t drop = 0;
    double least = 1e18;
    for (std::size_t i = 0; i < hull.size(); ++i) {
      const std::size_t n = hull.size();
      const double lost = cross(hull[(i + n - 1) % n], hull[i], hull[(i + 1) % n]);
      if (lost < least) least = lost, drop = i;
    }
    hull.erase(hull.begin() + std::ptrdiff_t(drop));
  }
  for (int i = 0; i < 4; ++i) out[std::size_t(i)] = hull[std::size_t(i)];
  return true;
}

// Lines fitted to the outline's points along the middle of each side of `q`, intersected: the
// outline's own corners are rounded by the grid, its sides are not.
Quad fitSides(const std::vector<cv::Point2f>& outline, const Quad& q, float tolerance) {
  std::array<Line, 4> lines;
  for (int e = 0; e < 4; ++e) {
    const cv::Point2f a = q[std::size_t(e)], b = q[std::size_t((e + 1) % 4)];
    const double len = dist(a, b);
    const cv::Point2f d = (b - a) * float(1 / std::max(len, 1e-6)), n(-d.y, d.x);
    lines[std::size_t(e)] = {a, d};
    std::vector<cv::Point2f> near;
    for (const auto& p : outline) {
      const cv::Point2f v = p - a;
      const double t = (v.x * d.x + v.y * d.y) / len, off = v.x * n.x + v.y * n.y;
      if (t > 0.15 && t < 0.85 && std::abs(off) <= tolerance) near.push_back(p);
    }
    if (near.size() < 4) continue;
    cv::Vec4f fit;
    cv::fitLine(near, fit, cv::DIST_HUBER, 0, 0.01, 0.01);
    lines[std::size_t(e)] = {{fit[2], fit[3]}, {fit[0], fit[1]}};
  }
  Quad fitted;
  for (int c = 0; c < 4; ++c) {
    cv::Point2f p;
    if (!intersect(lines[std::size_t((c + 3) % 4)], lines[std::size_t(c)], p) ||
        dist(p, q[std::size_t(c)]) > 4 * tolerance)
      p = q[std::size_t(c)];
    fitted[std::size_t(c)] = p;
  }
  return fitted;
}

struct ModelDocument {
  Quad quad;  // oriented full-resolution pixels
  float confidence;
  double agreement = 0;  // with the network's view
  int rank = 0;          // the outline search's own order; outlines fitted to the network's view last
};

// Limits of the request, in the form the searches use.
struct Limits {
  double minLong;  // full-resolution pixels
  float minAspect, maxAspect, quadrature, minConfidence;
};

bool withinLimits(const Quad& q, const Limits& l) {
  const Geometry g = geometry(q);
  const double aspect = g.shortSide / std::max(g.longSide, 1e-9);
  return g.longSide >= l.minLong && aspect >= l.minAspect && aspect <= l.maxAspect &&
         g.maxAngleError <= l.quadrature;
}

std::vector<Candidate> searchOutlines(detail::Frame& frame, const cv::Rect2f& roi, const Limits& limits,
                                      std::size_t maximumObservations);

// How well outline `q` (oriented pixels) matches what the network sees around it: the shared share of the
// two areas on the network's grid, over the outline's neighbourhood only (another document farther
// away is not this one's error).
double agreement(const detail::DocumentModelInput& in, const cv::Mat& probabilities, const Quad& q) {
  constexpr int kSuper = 4, kFine = kSuper * detail::kDocumentModelOutput;
  const float fx = in.rect.width / kFine, fy = in.rect.height / kFine;
  cv::Mat drawn = cv::Mat::zeros(kFine, kFine, CV_8U), cover;
  std::vector<cv::Point> poly;
  for (const auto& p : q)
    poly.emplace_back(int(std::lround((p.x - in.rect.x) / fx * 16)),
                      int(std::lround((p.y - in.rect.y) / fy * 16)));
  cv::fillConvexPoly(drawn, poly, 255, cv::LINE_8, 4);
  cv::resize(drawn, cover, probabilities.size(), 0, 0, cv::INTER_AREA);
  const cv::Rect box = cv::boundingRect(poly);
  // Around it, a quarter of its size on each side (at least two cells): a box printed on a document has
  // the document all around it, a document has its surface.
  const int w = box.width / (16 * kSuper), h = box.height / (16 * kSuper);
  const int mx = std::max(2, w / 4), my = std::max(2, h / 4);
  const cv::Rect near =
      cv::Rect(box.x / (16 * kSuper) - mx, box.y / (16 * kSuper) - my, w + 2 * mx + 1, h + 2 * my + 1) &
      cv::Rect(0, 0, probabilities.cols, probabilities.rows);
  double shared = 0, either = 0;
  for (int y = near.y; y < near.y + near.height; ++y)
    for (int x = near.x; x < near.x + near.width; ++x) {
      const float p = probabilities.at<float>(y, x), c = cover.at<std::uint8_t>(y, x) / 255.0f;
      shared += std::min(p, c), either += std::max(p, c);
    }
  return shared / std::max(either, 1e-9);
}

// The confidence of an outline: the network's view (its agreement, 0 at 0.3, 1 from 0.65: the grid is
// coarse and its edges soft), confirmed by the image's own steps along the four sides (`support`, as
// edgeSupport gives it).
float documentConfidence(double agreement, float support) {
  return float(std::clamp((agreement - 0.3) / 0.35, 0.0, 1.0)) * (0.7f + 0.3f * support);
}

// Documents the network sees in the searched part `in` of the frame, as outlines kept when they pass
// the request's limits: outlines fitted to what the network sees, refined at full resolution, and the
// outline search's own, whichever matches the network's view best. False when the network sees no
// document at all (the caller then looks for other rectangles); true with `found` empty when it sees
// one that no outline within the request's limits matches.
bool modelDocuments(detail::Frame& frame, const detail::DocumentModelInput& in, const cv::Mat& probabilities,
                    const cv::Rect2f& roi, const Limits& limits, std::size_t maximumObservations,
                    std::vector<ModelDocument>& found) {
  constexpr int kFine = 4 * detail::kDocumentModelOutput;  // outlines are traced on a 4 x finer grid
  cv::Mat fine, inside;
  cv::resize(probabilities, fine, {kFine, kFine}, 0, 0, cv::INTER_LINEAR);
  cv::compare(fine, 0.5, inside, cv::CMP_GT);
  std::vector<std::vector<cv::Point>> blobs;
  cv::findContours(inside, blobs, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
  // Fine-grid pixels -> oriented pixels.
  const float fx = in.rect.width / kFine, fy = in.rect.height / kFine;
  const auto toOriented = [&](cv::Point2f p) {
    return cv::Point2f(in.rect.x + p.x * fx, in.rect.y + p.y * fy);
  };
  const float cell = std::max(fx, fy) * 4;  // one cell of the network's grid, in oriented pixels
  const int range = std::max(4, int(std::ceil(0.6 * cell)));
  bool seen = false;
  std::vector<ModelDocument> options;
  for (const auto& blob : blobs) {
    // Specks: under a hundredth of the part searched.
    if (cv::contourArea(blob) < 0.01 * kFine * kFine) continue;
    seen = true;
    const cv::Rect box = cv::boundingRect(blob);
    // Cut off by the edge of the part searched: not wholly inside it.
    if (box.x <= 1 || box.y <= 1 || box.x + box.width >= kFine - 1 || box.y + box.height >= kFine - 1)
      continue;
    std::vector<cv::Point2f> outline;
    cv::Point2f centre(0, 0);
    for (const auto& p : blob) centre += cv::Point2f(float(p.x) + 0.5f, float(p.y) + 0.5f);
    centre *= 1.0f / float(blob.size());
    for (const auto& p : blob) {
      // Half a pixel outward, to the boundary between inside and outside.
      cv::Point2f q(float(p.x) + 0.5f, float(p.y) + 0.5f);
      const cv::Point2f out = q - centre;
      const float len = std::hypot(out.x, out.y);
      if (len > 0) q += out * (0.5f / len);
      outline.push_back(toOriented(q));
    }
    std::vector<cv::Point2f> hull;
    cv::convexHull(outline, hull);
    Quad q;
    if (!largestInscribedQuad(hull, q)) continue;
    // A blob far from four-sided gives no outline of its own.
    if (std::abs(cv::contourArea(std::vector<cv::Point2f>(q.begin(), q.end()))) <
        0.75 * cv::contourArea(hull))
      continue;
    q = orderCorners({q.begin(), q.end()});
    q = fitSides(outline, q, 0.75f * cell);
    if (!isConvex(q)) continue;
    Quad refined = refine(frame, q, range);
    if (!isConvex(refined)) refined = q;
    refined = orderCorners({refined.begin(), refined.end()});
    if (!withinLimits(refined, limits)) continue;
    const float support = edgeSupport(frame, refined);
    // Drawn from the network's view alone, it needs some steps of its own: a stain the network took
    // for a card has none.
    if (support < 0.25f) continue;
    const double a = agreement(in, probabilities, refined);
    options.push_back({refined, documentConfidence(a, support), a, 1 << 20});
  }
  if (!seen) return false;
  Limits any = limits;
  any.minConfidence = 0;
  // One document asked for: the outline search's best only (it skips outlines that could not beat it),
  // beside the network's own.
  for (const auto& c : searchOutlines(frame, roi, any, maximumObservations == 1 ? 1 : 0)) {
    const double a = agreement(in, probabilities, c.quad);
    options.push_back({c.quad, documentConfidence(a, c.confidence), a, int(options.size())});
  }
  // Among the outlines that match the network's view about as well as the best (its soft edges tell
  // a document from a box printed on it, not one outline of the document from a nearly equal one), the
  // outline search's own order: outlines fitted to the image's steps first, the network's own last.
  // (Outlines fitted to the network's view agree with it by construction: they set no bar.)
  double bestAgreement = 0;
  for (const auto& o : options)
    if (o.rank < (1 << 20)) bestAgreement = std::max(bestAgreement, o.agreement);
  std::stable_sort(options.begin(), options.end(), [&](auto& a, auto& b) {
    const bool aTop = a.agreement >= bestAgreement - 0.12, bTop = b.agreement >= bestAgreement - 0.12;
    if (aTop != bTop) return aTop;
    return aTop ? a.rank < b.rank : a.confidence > b.confidence;
  });
  // One answer per document: an outline overlapping a better one by half the smaller's area is the same
  // document (or a box printed on it).
  const auto area = [](const Quad& q) {
    return std::abs(cv::contourArea(std::vector<cv::Point2f>(q.begin(), q.end())));
  };
  for (const auto& o : options) {
    if (o.confidence < limits.minConfidence || o.confidence <= 0) continue;
    bool same = false;
    for (const auto& f : found) {
      std::vector<cv::Point2f> common;
      const float shared =
          cv::intersectConvexConvex(std::vector<cv::Point2f>(o.quad.begin(), o.quad.end()),
                                    std::vector<cv::Point2f>(f.quad.begin(), f.quad.end()), common);
      same |= shared > 0.5 * std::min(area(o.quad), area(f.quad));
    }
    if (!same) found.push_back(o);
  }
  return true;
}

VNRectangleObservation observation(detail::Frame& frame, const Quad& q, float confidence) {
  VNRectangleObservation o;
  o.topLeft = frame.normalised(q[0]);
  o.topRight = frame.normalised(q[1]);
  o.bottomRight = frame.normalised(q[2]);
  o.bottomLeft = frame.normalised(q[3]);
  float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
  for (auto& p : q)
    minX = std::min(minX, p.x), minY = std::min(minY, p.y), maxX = std::max(maxX, p.x),
    maxY = std::max(maxY, p.y);
  o.boundingBox = frame.normalisedRect({minX, minY, maxX - minX, maxY - minY});
  o.confidence = confidence;
  return o;
}

}  // namespace

namespace {

// The outline search: quadrilaterals on a small copy of the part searched, refined at full resolution,
// the best-supported largest first. `maximumObservations` 0: all.
std::vector<Candidate> searchOutlines(detail::Frame& frame, const cv::Rect2f& roi, const Limits& limits,
                                      std::size_t maximumObservations) {
  const cv::Size os = frame.orientedSize();
  const double minLong = limits.minLong;
  const float minimumAspectRatio = limits.minAspect, maximumAspectRatio = limits.maxAspect,
              quadratureTolerance = limits.quadrature, minimumConfidence = limits.minConfidence;
  const double scale = std::min(1.0, kWorkLongSide / std::max(os.width, os.height));
  const detail::Frame::Crop crop = frame.orientedCrop(roi, scale, true, true);
  if (crop.image.empty() || crop.image.cols < 8 || crop.image.rows < 8) return {};

  // Grey and, when the image has colour, Cb and Cr: each pixel keeps the gradient of the channel
  // with the strongest step, so a document on a surface of the same grey but another hue has edges.
  cv::Mat blurred, gx, gy;
  cv::GaussianBlur(crop.image, blurred, {5, 5}, 0);
  cv::Sobel(blurred, gx, CV_16S, 1, 0, 3);
  cv::Sobel(blurred, gy, CV_16S, 0, 1, 3);
  std::vector<cv::Mat> chroma;
  if (!crop.chroma.empty()) {
    cv::Mat soft;
    cv::GaussianBlur(crop.chroma, soft, {5, 5}, 0);
    cv::split(soft, chroma);
    // Merged in one integer pass, Cb first, then Cr against what Cb left. v * 3 / 2 truncates toward
    // zero, as int(v * 1.5f) does; a 3 x 3 Sobel of 8-bit pixels stays within +-1020, so the weighted
    // values fit a short and the squares an int.
    static_assert(kChromaWeight == 1.5f);
    cv::Mat cbx, cby, crx, cry;
    cv::Sobel(chroma[0], cbx, CV_16S, 1, 0, 3);
    cv::Sobel(chroma[0], cby, CV_16S, 0, 1, 3);
    cv::Sobel(chroma[1], crx, CV_16S, 1, 0, 3);
    cv::Sobel(chroma[1], cry, CV_16S, 0, 1, 3);
    for (int y = 0; y < gx.rows; ++y)
      keepStrongestStep(gx.ptr<short>(y), gy.ptr<short>(y), cbx.ptr<short>(y), cby.ptr<short>(y),
                        crx.ptr<short>(y), cry.ptr<short>(y), gx.cols);
  }
  cv::Mat gxy;  // both gradients of a pixel side by side, for the searches that read scattered points
  cv::merge(std::vector<cv::Mat>{gx, gy}, gxy);
  cv::Mat edges, light;
  edges = cannyEdges(gx, gy, 20, 60);
  cv::dilate(edges, edges, cv::Mat());
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(edges, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
  // On a busy surface a document's edge contour merges with the texture's; a
  // global split into light and dark regions still outlines a light document.
  // A second, lower split keeps a document's darker printed bands with it; a
  // split of each chroma channel outlines a document of another hue.
  const cv::Mat open = cv::getStructuringElement(cv::MORPH_RECT, {5, 5});
  const auto addRegions = [&](const cv::Mat& channel, double level) {
    cv::threshold(channel, light, level, 255, cv::THRESH_BINARY);
    cv::morphologyEx(light, light, cv::MORPH_OPEN, open);
    std::vector<std::vector<cv::Point>> regions;
    cv::findContours(light, regions, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    contours.insert(contours.end(), regions.begin(), regions.end());
  };
  const double otsu = cv::threshold(blurred, light, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  addRegions(blurred, otsu);
  addRegions(blurred, otsu * 0.8);
  for (const auto& c : chroma) {
    cv::Scalar mean, sd;
    cv::meanStdDev(c, mean, sd);
    if (sd[0] < 4) continue;  // no colour to split on
    addRegions(c, cv::threshold(c, light, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU));
  }

  const int range = std::max(4, int(std::ceil(2.5 / std::min(crop.sx, crop.sy))));

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
  std::vector<Quad> refined;  // every refined outline, accepted or not: sides to mix
  // Refined and measured; false where the outline fails the request's limits.
  const auto measure = [&](const Quad& coarse, int runningOn, Candidate& c) {
    const Geometry g0 = geometry(coarse);
    if (g0.longSide < 0.8 * minLong || g0.maxAngleError > quadratureTolerance + 10) return false;
    Quad fine = refine(frame, coarse, range);
    if (!isConvex(fine)) return false;
    fine = orderCorners({fine.begin(), fine.end()});
    refined.push_back(fine);
    const Geometry g = geometry(fine);
    const double aspect = g.shortSide / std::max(g.longSide, 1e-9);
    if (g.longSide < minLong || aspect < minimumAspectRatio || aspect > maximumAspectRatio ||
        g.maxAngleError > quadratureTolerance)
      return false;
    c.quad = fine;
    c.confidence = edgeSupport(frame, fine, &c.meanSupport, &c.sideSupport);
    c.sidesRunningOn = runningOn;
    c.area = g.longSide * g.shortSide;
    return true;
  };
  const int sideReachSmall = std::max(2, int(std::lround(24 * std::min(crop.sx, crop.sy))));
  // The most an outline could score once refined, every side fully supported: refining moves each
  // corner less than 4 * range, so each side's length changes less than twice that.
  const auto mostItCouldScore = [&](const Quad& q, int runningOn) {
    const Geometry g = geometry(q);
    const double grow = 8.0 * range;
    return (g.longSide + grow) * (g.shortSide + grow) * (runningOn > 0 ? 0.85 : 1.0);
  };
  // `mustBeat`: the score an outline must be able to reach to be worth a second look.
  const auto consider = [&](const Quad& coarse, int runningOn, double mustBeat) {
    Candidate c{};
    if (!measure(coarse, runningOn, c)) return;
    // One side left unsupported while the others hold: the outline followed a line of the print or of
    // the surface there, and the document's edge is close by.
    const bool worthIt = mostItCouldScore(c.quad, runningOn) >= mustBeat;
    for (int round = 0; round < 2 && worthIt; ++round) {
      int holding = 0;
      for (const float side : c.sideSupport) holding += side >= 0.7f;
      if (holding != 3) break;
      const int weakest =
          int(std::min_element(c.sideSupport.begin(), c.sideSupport.end()) - c.sideSupport.begin());
      Quad small, moved;
      for (int i = 0; i < 4; ++i) small[std::size_t(i)] = crop.fromOriented(c.quad[std::size_t(i)]);
      Candidate again{};
      if (!moveSide(small, weakest, gx, gy, sideReachSmall, moved)) break;
      for (auto& p : moved) p = crop.toOriented(p);
      if (!measure(moved, runningOn, again) || again.confidence <= c.confidence + 0.05f) break;
      c = again;
    }
    if (c.confidence < minimumConfidence) return;
    candidates.push_back(c);
  };
  struct Pending {
    Quad coarse;
    int runningOn;
    double bound;  // of the score its refined outline can reach
  };
  std::vector<Pending> pending;
  for (const auto& contour : contours) {
    if (contour.size() < 4) continue;
    // A hull's perimeter is less than its bounding box's: most texture contours end here, hull unmade.
    const cv::Rect box = cv::boundingRect(contour);
    if (2.0 * (box.width + box.height) / crop.sx < 2 * minLong) continue;
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
    std::vector<cv::Point2f> pts;
    if (poly.size() == 4) {
      for (auto& p : poly) pts.push_back(crop.toOriented({float(p.x) + 0.5f, float(p.y) + 0.5f}));
    } else {
      // The outline itself (not its hull, which cuts across whatever touches the document).
      std::vector<cv::Point> outline;
      cv::approxPolyDP(contour, outline, 0.02 * perimeter, true);
      Quad q;
      if (!bestFourSides(outline, perimeter, gx, gy, q)) continue;
      for (auto& p : q) pts.push_back(crop.toOriented(p + cv::Point2f(0.5f, 0.5f)));
    }
    Quad coarse = orderCorners(pts);
    if (!isConvex(coarse)) continue;
    {
      Quad small;
      for (int i = 0; i < 4; ++i) small[i] = crop.fromOriented(coarse[i]);
      // The edge and threshold outlines find most shapes more than once.
      if (seen(searched, small)) continue;
      searched.push_back(small);
      // Outlines of texture and clutter are mostly unsupported: drop them before the costly steps.
      if (quadSupport(small, gx, gy) < 0.25f) continue;
      const Quad found = small;
      small = growOutward(small, gxy);
      // Where the grown outline has a side running on past a corner, the outline as found competes too:
      // growing may have crossed the document's edge onto a line of the surface that a side of the
      // surface happens to reach.
      bool grownClean = false;
      for (const Quad* q : std::array<const Quad*, 2>{&small, &found}) {
        if (q == &found && grownClean) break;
        if (seen(grown, *q)) continue;
        grown.push_back(*q);
        const int runningOn = sidesRunningOn(*q, gx, gy);
        grownClean = runningOn == 0;
        if (runningOn >= 2) continue;
        for (int i = 0; i < 4; ++i) coarse[i] = crop.toOriented((*q)[i]);
        if (isConvex(coarse)) pending.push_back({coarse, runningOn, 0});
      }
    }
  }

  // When one rectangle is asked for, an outline that could not outscore one already refined even with
  // all four sides fully supported is not refined: most are a document's printed boxes. Only an outline
  // with a mean support of 0.65 or more can rule others out: it stays among the best-supported ones
  // (within 0.35 of the best) whatever else is found.
  const auto score = [](const Candidate& c) {
    return c.area * c.meanSupport * c.meanSupport * (c.sidesRunningOn > 0 ? 0.85 : 1.0);
  };
  const bool one = maximumObservations == 1;
  if (one) {
    for (auto& p : pending) p.bound = mostItCouldScore(p.coarse, p.runningOn);
    std::stable_sort(pending.begin(), pending.end(), [](auto& a, auto& b) { return a.bound > b.bound; });
  }
  double beaten = 0;
  for (const auto& p : pending) {
    if (p.bound < beaten) continue;
    const std::size_t before = candidates.size();
    consider(p.coarse, p.runningOn, beaten);
    if (one && candidates.size() > before && candidates.back().meanSupport >= 0.65f)
      beaten = std::max(beaten, score(candidates.back()));
  }

  // Among well-supported outlines the largest wins, weighed by its support: a
  // document's printed boxes are rectangles too, but the document is the one
  // around them; an outline grown past the document onto a line of the
  // surface is larger too, but less supported. The support of all four sides
  // counts here, not the weakest: a band's outer edge may be faint on part of
  // its length. An outline with a side running on past a corner (a document's
  // body without its band, or one grown onto a line of the surface) weighs less.
  float bestSupport = 0;
  for (const auto& c : candidates) bestSupport = std::max(bestSupport, c.meanSupport);
  std::sort(candidates.begin(), candidates.end(), [&](const Candidate& a, const Candidate& b) {
    const bool aTop = a.meanSupport >= bestSupport - 0.35f, bTop = b.meanSupport >= bestSupport - 0.35f;
    if (aTop != bTop) return aTop;
    if (aTop) return score(a) > score(b);
    return a.meanSupport > b.meanSupport;
  });
  // A document's body inside a band of nearly the surface's colour, and the document with a stretch of
  // the surface beside it carried on to a line of the surface, score close to the document itself. The
  // larger of two such outlines is the document where its two carried sides stay supported all along
  // (the document's edge runs on across its band); where they lose support, the surface's line only
  // happens to meet them.
  const double diagonal = std::hypot(double(os.width), double(os.height));
  // How well the carried stretches of outer's sides are supported, on average.
  const auto carried = [&](const Candidate& c, int side, const std::array<cv::Point2f, 2>& from) {
    return 0.5f * (lineSupport(frame, from[0], c.quad[std::size_t(side)], 0.1f, 0.9f) +
                   lineSupport(frame, from[1], c.quad[std::size_t((side + 1) % 4)], 0.1f, 0.9f));
  };
  // The outer outline well supported all round: its own side, and the carried sides along their length.
  const auto heldAllRound = [](const Candidate& c, int side) {
    const auto& s = c.sideSupport;
    return s[std::size_t(side)] >= 0.7f &&
           std::min(s[std::size_t((side + 3) % 4)], s[std::size_t((side + 1) % 4)]) >= 0.85f;
  };
  // Carried by more than a band's width: a third of the sides as far as they are shared, or more.
  const auto farCarried = [](const Candidate& c, int side, const std::array<cv::Point2f, 2>& from) {
    const cv::Point2f &c0 = c.quad[std::size_t(side)], &c1 = c.quad[std::size_t((side + 1) % 4)],
                      &s0 = c.quad[std::size_t((side + 3) % 4)], &s1 = c.quad[std::size_t((side + 2) % 4)];
    return dist(from[0], c0) >= 0.3 * dist(from[0], s0) && dist(from[1], c1) >= 0.3 * dist(from[1], s1);
  };
  for (int round = 0; round < 4 && candidates.size() > 1; ++round) {
    const Candidate& best = candidates[0];
    std::size_t pick = 0;
    for (std::size_t i = 1; i < candidates.size() && pick == 0; ++i) {
      const Candidate& c = candidates[i];
      if (c.meanSupport < bestSupport - 0.35f) break;
      int side = 0;
      std::array<cv::Point2f, 2> ends;
      if (extendsPastOneSide(best.quad, c.quad, 0.01 * diagonal, side, ends) &&
          farCarried(best, side, ends) && carried(best, side, ends) < 0.2f)
        pick = i;
      else if (extendsPastOneSide(c.quad, best.quad, 0.01 * diagonal, side, ends) && heldAllRound(c, side) &&
               carried(c, side, ends) >= 0.5f)
        pick = i;
    }
    if (pick == 0) break;
    std::rotate(candidates.begin(), candidates.begin() + std::ptrdiff_t(pick),
                candidates.begin() + std::ptrdiff_t(pick) + 1);
  }
  // A band of nearly the surface's colour at one end leaves the answer at the document's body: the two
  // sides beside that end run on past its corners (at full resolution, where the band's faint edge
  // shows), and a line supported across both runs is the document's edge. Up to three ends may grow.
  if (!candidates.empty()) {
    Candidate& best = candidates[0];
    for (int k = 0, extended = 0; k < 4 + extended && extended < 3; ++k) {
      const Quad& q = best.quad;
      const cv::Point2f c0 = q[std::size_t(k % 4)], c1 = q[std::size_t((k + 1) % 4)],
                        p0 = q[std::size_t((k + 3) % 4)], p1 = q[std::size_t((k + 2) % 4)];
      const double len0 = dist(p0, c0), len1 = dist(p1, c1), len = dist(c0, c1);
      if (len0 < 8 || len1 < 8 || len < 8) continue;
      const cv::Point2f d0 = (c0 - p0) * float(1 / len0), d1 = (c1 - p1) * float(1 / len1);
      const cv::Point2f n0(-d0.y, d0.x), n1(-d1.y, d1.x);
      const double maxLength = 0.45 * std::min(len0, len1);
      const double r0 = runsOnFor(frame, c0, d0, n0, maxLength), r1 = runsOnFor(frame, c1, d1, n1, maxLength);
      if (std::min(r0, r1) < std::max(6.0, 0.04 * len)) continue;
      // The best-supported line across the two runs, near where they end (one may stop short at a gap or
      // run on along a line of the surface).
      float lineBest = 0.6f;
      double bestOffset = 0;
      for (double o = std::max(4.0, std::min(r0, r1) - 8); o <= std::max(r0, r1) + 8; o += 1) {
        const float support = lineSupport(frame, c0 + d0 * float(o), c1 + d1 * float(o), 0.06f, 0.94f);
        if (support >= lineBest) lineBest = support, bestOffset = o;
      }
      if (bestOffset == 0) continue;
      Quad grownQ = q;
      grownQ[std::size_t(k % 4)] = c0 + d0 * float(bestOffset);
      grownQ[std::size_t((k + 1) % 4)] = c1 + d1 * float(bestOffset);
      // Not past the region searched.
      const cv::Rect2f inside(roi.x - 2, roi.y - 2, roi.width + 4, roi.height + 4);
      if (!inside.contains(grownQ[std::size_t(k % 4)]) || !inside.contains(grownQ[std::size_t((k + 1) % 4)]))
        continue;
      Candidate again{};
      if (!measure(grownQ, best.sidesRunningOn, again) || again.confidence < minimumConfidence) continue;
      best = again;
      ++extended;
    }
  }
  if (!candidates.empty()) {
    SideMixer mixer(frame, candidates[0].quad);
    // Where a side is too faint to have made an outline of its own (a band of nearly the surface's
    // colour), the line that gives the best outline a document's proportions is looked for too.
    const Quad& seed = candidates[0].quad;
    if (documentLikeness(flatAspect(seed, os)) < 1)
      for (const double ratio : kDocumentRatios)
        for (int e = 0; e < 4; ++e) {
          Quad guess;
          if (!withRatio(seed, e, ratio, os, guess)) continue;
          const Quad found = refine(frame, guess, range);
          mixer.offer(e, found[std::size_t(e)], found[std::size_t((e + 1) % 4)]);
        }
    for (const auto& c : candidates)
      for (int e = 0; e < 4; ++e)
        for (int k = 0; k < 4; ++k) mixer.offer(e, c.quad[std::size_t(k)], c.quad[std::size_t((k + 1) % 4)]);
    for (const auto& q : refined)
      for (int e = 0; e < 4; ++e)
        for (int k = 0; k < 4; ++k) mixer.offer(e, q[std::size_t(k)], q[std::size_t((k + 1) % 4)]);
    const auto acceptable = [&](const Quad& q) {
      const Geometry g = geometry(q);
      const double aspect = g.shortSide / std::max(g.longSide, 1e-9);
      return g.longSide >= minLong && aspect >= minimumAspectRatio && aspect <= maximumAspectRatio &&
             g.maxAngleError <= quadratureTolerance;
    };
    Quad mixed;
    if (mixer.best(os, acceptable, mixed)) {
      mixed = orderCorners({mixed.begin(), mixed.end()});
      float meanSupport = 0;
      const float confidence = edgeSupport(frame, mixed, &meanSupport);
      if (confidence >= minimumConfidence) candidates[0].quad = mixed, candidates[0].confidence = confidence;
    }
  }
  // The inner and outer outlines of one edge give the same rectangle twice.
  const double same = 0.02 * diagonal;
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

  return kept;
}

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
  const double shortImageSide = std::min(os.width, os.height);
  const double minLong = std::max(double(minimumSize) * shortImageSide, 16.0);  // full-resolution pixels

  // The network first: where it sees a document, the document is the answer, never a box printed on it
  // nor a rectangle of the surface around it.
  const Limits limits{minLong, minimumAspectRatio, maximumAspectRatio, quadratureTolerance,
                      minimumConfidence};
  const detail::DocumentModelInput in = detail::documentModelInput(frame, roi);
  const cv::Mat probabilities = in.planes.empty() ? cv::Mat() : detail::documentProbabilities(in.planes);
  std::vector<ModelDocument> documents;
  if (!probabilities.empty() &&
      modelDocuments(frame, in, probabilities, roi, limits, maximumObservations, documents)) {
    for (const auto& d : documents) {
      if (maximumObservations > 0 && results_.size() >= maximumObservations) break;
      results_.push_back(observation(frame, d.quad, d.confidence));
    }
  } else {
    // No document in sight (or no network): the outline search, for whatever rectangles there are.
    for (const auto& c : searchOutlines(frame, roi, limits, maximumObservations))
      results_.push_back(observation(frame, c.quad, c.confidence));
  }
  for (auto& o : results_) detail::keepInImage(o);
  return true;
}

}  // namespace vision

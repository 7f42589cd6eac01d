#include <morvik/platform/quartz/CAAnimation.h>

#include <algorithm>
#include <cmath>

namespace quartz {

namespace {
struct Points {
  float x1, y1, x2, y2;
};
Points pointsFor(CAMediaTimingFunctionName name) {
  switch (name) {
    case CAMediaTimingFunctionName::linear:
      return {0, 0, 1, 1};
    case CAMediaTimingFunctionName::easeIn:
      return {0.42f, 0, 1, 1};
    case CAMediaTimingFunctionName::easeOut:
      return {0, 0, 0.58f, 1};
    case CAMediaTimingFunctionName::easeInEaseOut:
      return {0.42f, 0, 0.58f, 1};
    case CAMediaTimingFunctionName::default_:
      break;
  }
  return {0.25f, 0.1f, 0.25f, 1};
}

double bezier(double p1, double p2, double t) {
  const double u = 1 - t;
  return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
}
}  // namespace

CAMediaTimingFunction::CAMediaTimingFunction(CAMediaTimingFunctionName name) : name_(name) {
  const Points p = pointsFor(name);
  c1x_ = p.x1;
  c1y_ = p.y1;
  c2x_ = p.x2;
  c2y_ = p.y2;
}

CAMediaTimingFunction::CAMediaTimingFunction(float c1x, float c1y, float c2x, float c2y)
    : c1x_(std::clamp(c1x, 0.f, 1.f)), c1y_(c1y), c2x_(std::clamp(c2x, 0.f, 1.f)), c2y_(c2y) {}

CGPoint CAMediaTimingFunction::controlPoint(int index) const {
  switch (index) {
    case 1:
      return {c1x_, c1y_};
    case 2:
      return {c2x_, c2y_};
    case 3:
      return {1, 1};
    default:
      return {0, 0};
  }
}

double CAMediaTimingFunction::evaluate(double t) const {
  if (!(t > 0)) return 0;
  if (t >= 1) return 1;
  // x(s) is monotonic for control x in 0..1: bisect for s with x(s) = t.
  double lo = 0, hi = 1, s = t;
  for (int i = 0; i < 60; ++i) {
    s = (lo + hi) / 2;
    if (bezier(c1x_, c2x_, s) < t)
      lo = s;
    else
      hi = s;
  }
  return bezier(c1y_, c2y_, s);
}

double CABasicAnimation::totalDuration() const {
  if (speed == 0) return std::numeric_limits<double>::infinity();
  double one = duration / std::abs(speed);
  if (autoreverses) one *= 2;
  if (repeatDuration > 0) return repeatDuration / std::abs(speed);
  const double count = repeatCount > 0 ? static_cast<double>(repeatCount) : 1.0;
  if (!std::isfinite(count) || count >= static_cast<double>(kCAHugeRepeatCount))
    return std::numeric_limits<double>::infinity();
  return one * count;
}

}  // namespace quartz

// Core Animation's basic animation, recorded on layers by key. Layers here
// hold model values only: an animation is a description that tests and hosts
// inspect (and that a layer drops once it has run when isRemovedOnCompletion
// is set); nothing interpolates presentation values.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <variant>

#include <morvik/platform/quartz/CGColor.h>
#include <morvik/platform/quartz/CGGeometry.h>
#include <morvik/platform/quartz/CGPath.h>

namespace quartz {

// A from/to/by value: nothing, a number, a point, a size, a rectangle, a
// colour, a path or an affine transform.
using CAValue =
    std::variant<std::monostate, double, CGPoint, CGSize, CGRect, CGColor, CGPath, CGAffineTransform>;

enum class CAMediaTimingFunctionName { linear, easeIn, easeOut, easeInEaseOut, default_ };

class CAMediaTimingFunction {
 public:
  explicit CAMediaTimingFunction(CAMediaTimingFunctionName name = CAMediaTimingFunctionName::default_);
  // A cubic Bezier from (0,0) to (1,1) with two control points.
  CAMediaTimingFunction(float c1x, float c1y, float c2x, float c2y);
  std::optional<CAMediaTimingFunctionName> name() const { return name_; }
  // Control point 0..3 (0 is (0,0), 3 is (1,1)).
  CGPoint controlPoint(int index) const;
  // Eased progress for linear progress t in 0..1.
  double evaluate(double t) const;
  friend bool operator==(const CAMediaTimingFunction&, const CAMediaTimingFunction&) = default;

 private:
  std::optional<CAMediaTimingFunctionName> name_;
  float c1x_, c1y_, c2x_, c2y_;
};

enum class CAMediaTimingFillMode { removed, forwards, backwards, both };

struct CABasicAnimation {
  CABasicAnimation() = default;
  explicit CABasicAnimation(std::string keyPath) : keyPath(std::move(keyPath)) {}

  std::string keyPath;
  CAValue fromValue;
  CAValue toValue;
  CAValue byValue;
  // 0 means "the enclosing transaction's duration" (0.25 s by default).
  double duration = 0;
  // Seconds on the dispatch clock; 0 means "when added".
  double beginTime = 0;
  double timeOffset = 0;
  double speed = 1;
  float repeatCount = 0;
  double repeatDuration = 0;
  bool autoreverses = false;
  bool isCumulative = false;
  bool isAdditive = false;
  bool isRemovedOnCompletion = true;
  CAMediaTimingFillMode fillMode = CAMediaTimingFillMode::removed;
  std::optional<CAMediaTimingFunction> timingFunction;

  // Duration of one run times repeats (and twice when autoreversing);
  // infinity for an endless repeat count.
  double totalDuration() const;
};

// The largest finite repeat count: in effect endless.
inline constexpr float kCAHugeRepeatCount = std::numeric_limits<float>::max();

}  // namespace quartz

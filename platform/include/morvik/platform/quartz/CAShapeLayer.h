// A layer that holds a path and how to fill and stroke it. Main thread only.
#pragma once

#include <optional>
#include <vector>

#include <morvik/platform/quartz/CALayer.h>
#include <morvik/platform/quartz/CGPath.h>

namespace quartz {

enum class CAShapeLayerFillRule { nonZero, evenOdd };
enum class CAShapeLayerLineCap { butt, round, square };
enum class CAShapeLayerLineJoin { miter, round, bevel };

class CAShapeLayer : public CALayer {
 public:
  static std::shared_ptr<CAShapeLayer> layer() { return std::make_shared<CAShapeLayer>(); }

  const std::optional<CGPath>& path() const { return path_; }
  void setPath(std::optional<CGPath> path);
  // Opaque black by default; none fills nothing.
  const std::optional<CGColor>& fillColor() const { return fillColor_; }
  void setFillColor(std::optional<CGColor> color);
  // None by default (no stroke).
  const std::optional<CGColor>& strokeColor() const { return strokeColor_; }
  void setStrokeColor(std::optional<CGColor> color);
  CAShapeLayerFillRule fillRule() const { return fillRule_; }
  void setFillRule(CAShapeLayerFillRule rule);
  CGFloat lineWidth() const { return lineWidth_; }
  void setLineWidth(CGFloat width);
  CAShapeLayerLineCap lineCap() const { return lineCap_; }
  void setLineCap(CAShapeLayerLineCap cap);
  CAShapeLayerLineJoin lineJoin() const { return lineJoin_; }
  void setLineJoin(CAShapeLayerLineJoin join);
  CGFloat miterLimit() const { return miterLimit_; }
  void setMiterLimit(CGFloat limit);
  // Lengths of painted and unpainted stretches of the stroke, in turn; empty
  // (the default), or lengths that are all zero or not finite: a solid line.
  const std::vector<CGFloat>& lineDashPattern() const { return lineDashPattern_; }
  void setLineDashPattern(std::vector<CGFloat> pattern);
  CGFloat lineDashPhase() const { return lineDashPhase_; }
  void setLineDashPhase(CGFloat phase);
  // Portion of the path stroked, each clamped to 0..1.
  CGFloat strokeStart() const { return strokeStart_; }
  void setStrokeStart(CGFloat value);
  CGFloat strokeEnd() const { return strokeEnd_; }
  void setStrokeEnd(CGFloat value);

  // Whether a point (layer coordinates) lies in the filled area under the fill rule.
  bool fillContains(const CGPoint& point) const;

  std::string className() const override { return "CAShapeLayer"; }

 protected:
  std::string descriptionFields() const override;
  // Adds "strokeStart", "strokeEnd" and "lineWidth".
  CAValue modelValue(const std::string& keyPath) const override;

 private:
  std::optional<CGPath> path_;
  std::optional<CGColor> fillColor_ = CGColor::black();
  std::optional<CGColor> strokeColor_;
  CAShapeLayerFillRule fillRule_ = CAShapeLayerFillRule::nonZero;
  CGFloat lineWidth_ = 1;
  CAShapeLayerLineCap lineCap_ = CAShapeLayerLineCap::butt;
  CAShapeLayerLineJoin lineJoin_ = CAShapeLayerLineJoin::miter;
  CGFloat miterLimit_ = 10;
  std::vector<CGFloat> lineDashPattern_;
  CGFloat lineDashPhase_ = 0;
  CGFloat strokeStart_ = 0;
  CGFloat strokeEnd_ = 1;
};

}  // namespace quartz

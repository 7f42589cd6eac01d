// A layer that fills its bounds with an axial gradient. Main thread only.
#pragma once

#include <optional>
#include <vector>

#include <morvik/platform/quartz/CALayer.h>

namespace quartz {

class CAGradientLayer : public CALayer {
 public:
  static std::shared_ptr<CAGradientLayer> layer() { return std::make_shared<CAGradientLayer>(); }

  const std::vector<CGColor>& colors() const { return colors_; }
  void setColors(std::vector<CGColor> colors);
  // Stops in 0..1, one per colour; none spreads the colours evenly.
  const std::optional<std::vector<double>>& locations() const { return locations_; }
  void setLocations(std::optional<std::vector<double>> locations);
  // Unit coordinates of the bounds; (0.5, 0) to (0.5, 1) by default (top to bottom).
  CGPoint startPoint() const { return startPoint_; }
  void setStartPoint(const CGPoint& point);
  CGPoint endPoint() const { return endPoint_; }
  void setEndPoint(const CGPoint& point);

  // The colour at unit position t (0..1) along the gradient axis; none without colours.
  std::optional<CGColor> colorAt(double t) const;

  std::string className() const override { return "CAGradientLayer"; }

 protected:
  std::string descriptionFields() const override;

 private:
  std::vector<CGColor> colors_;
  std::optional<std::vector<double>> locations_;
  CGPoint startPoint_{0.5, 0};
  CGPoint endPoint_{0.5, 1};
};

}  // namespace quartz

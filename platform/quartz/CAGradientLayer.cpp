#include <morvik/platform/quartz/CAGradientLayer.h>

#include <algorithm>
#include <cmath>

namespace quartz {

void CAGradientLayer::setColors(std::vector<CGColor> colors) {
  checkThread("CAGradientLayer::setColors");
  colors_ = std::move(colors);
}
void CAGradientLayer::setLocations(std::optional<std::vector<double>> locations) {
  checkThread("CAGradientLayer::setLocations");
  locations_ = std::move(locations);
}
void CAGradientLayer::setStartPoint(const CGPoint& point) {
  checkThread("CAGradientLayer::setStartPoint");
  startPoint_ = point;
}
void CAGradientLayer::setEndPoint(const CGPoint& point) {
  checkThread("CAGradientLayer::setEndPoint");
  endPoint_ = point;
}

std::optional<CGColor> CAGradientLayer::colorAt(double t) const {
  if (colors_.empty()) return std::nullopt;
  if (colors_.size() == 1) return colors_.front();
  const std::size_t n = colors_.size();
  // Stops: the given locations when there is one per colour, else even spacing.
  std::vector<double> stops(n);
  const bool given = locations_ && locations_->size() == n;
  for (std::size_t i = 0; i < n; ++i) stops[i] = given ? (*locations_)[i] : double(i) / double(n - 1);
  t = std::isnan(t) ? 0 : t;
  if (t <= stops.front()) return colors_.front();
  if (t >= stops.back()) return colors_.back();
  for (std::size_t i = 1; i < n; ++i) {
    if (t <= stops[i]) {
      const double span = stops[i] - stops[i - 1];
      const double f = span <= 0 ? 1 : (t - stops[i - 1]) / span;
      const CGColor& a = colors_[i - 1];
      const CGColor& b = colors_[i];
      return CGColor{a.red + (b.red - a.red) * f, a.green + (b.green - a.green) * f,
                     a.blue + (b.blue - a.blue) * f, a.alpha + (b.alpha - a.alpha) * f};
    }
  }
  return colors_.back();
}

std::string CAGradientLayer::descriptionFields() const {
  return "; colors = " + std::to_string(colors_.size()) + "; start = " + toString(startPoint_) +
         "; end = " + toString(endPoint_);
}

}  // namespace quartz

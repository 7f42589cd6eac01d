#include <morvik/platform/quartz/CGColor.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quartz {

CGColor CGColor::copy(CGFloat newAlpha) const {
  CGColor c = *this;
  c.alpha = std::isnan(newAlpha) ? 0 : std::clamp(newAlpha, 0.0, 1.0);
  return c;
}

std::string toString(const CGColor& c) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "rgba(%.3g %.3g %.3g %.3g)", c.red, c.green, c.blue, c.alpha);
  return buf;
}

}  // namespace quartz

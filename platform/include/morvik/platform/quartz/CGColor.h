// Core Graphics colours: device RGB with alpha, components 0..1, not
// premultiplied. A plain immutable value; safe to copy between threads.
#pragma once

#include <array>
#include <string>

#include <morvik/platform/quartz/CGGeometry.h>

namespace quartz {

struct CGColor {
  CGFloat red = 0;
  CGFloat green = 0;
  CGFloat blue = 0;
  CGFloat alpha = 1;

  static constexpr CGColor make(CGFloat r, CGFloat g, CGFloat b, CGFloat a = 1) { return {r, g, b, a}; }
  static constexpr CGColor black() { return {0, 0, 0, 1}; }
  static constexpr CGColor white() { return {1, 1, 1, 1}; }
  static constexpr CGColor clear() { return {0, 0, 0, 0}; }

  // Red, green, blue, alpha.
  std::array<CGFloat, 4> components() const { return {red, green, blue, alpha}; }
  // The same colour with another alpha (clamped to 0..1).
  CGColor copy(CGFloat alpha) const;

  friend bool operator==(const CGColor&, const CGColor&) = default;
};

// "rgba(r g b a)" with components rounded to three decimals.
std::string toString(const CGColor& c);

}  // namespace quartz

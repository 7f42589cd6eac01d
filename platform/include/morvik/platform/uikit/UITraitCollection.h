// UITraitCollection: the environment traits some platform calls accept.
// This platform has one environment (light, regular size, scale 3), so the
// traits are accepted and not consulted.
#pragma once

namespace uikit {

class UITraitCollection {
 public:
  UITraitCollection() = default;
  static const UITraitCollection& current();
  double displayScale() const { return 3; }
};

}  // namespace uikit

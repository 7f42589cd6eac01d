// UIFont: the system font at a size and weight. A plain value; any thread.
//
// Text metrics shared with the text views: a line is lineHeight() = 1.2 x
// pointSize tall. Widths are shaped by the rendering plugin in Inter at the
// font's weight once it is loaded (UIRendering.h); until then each character
// advances averageAdvance() = 0.55 x pointSize, or 0.58 x pointSize for
// semibold and heavier weights (no font files are read).
#pragma once

#include <string>

#include <morvik/platform/quartz/CGGeometry.h>

namespace uikit {

class UIFont {
 public:
  enum class Weight { ultraLight, thin, light, regular, medium, semibold, bold, heavy, black };
  // The platform's numeric value of a weight (-0.8 ... 0.62).
  static quartz::CGFloat rawValue(Weight weight);

  static UIFont systemFont(quartz::CGFloat ofSize, Weight weight = Weight::regular);
  static UIFont boldSystemFont(quartz::CGFloat ofSize);
  // 17 pt, the platform's body size.
  static quartz::CGFloat systemFontSize() { return 17; }

  // The regular system font at 17 pt.
  UIFont() = default;

  // ".SFUI-Regular", ".SFUI-Semibold", ...
  std::string fontName() const;
  std::string familyName() const { return ".SF UI"; }
  quartz::CGFloat pointSize() const { return pointSize_; }
  Weight weight() const { return weight_; }
  bool isBold() const { return weight_ >= Weight::semibold; }
  UIFont withSize(quartz::CGFloat fontSize) const;

  quartz::CGFloat lineHeight() const { return 1.2 * pointSize_; }
  quartz::CGFloat averageAdvance() const { return (isBold() ? 0.58 : 0.55) * pointSize_; }

  friend bool operator==(const UIFont&, const UIFont&) = default;

 private:
  UIFont(quartz::CGFloat size, Weight weight) : pointSize_(size), weight_(weight) {}
  quartz::CGFloat pointSize_ = 17;
  Weight weight_ = Weight::regular;
};

std::string toString(UIFont::Weight weight);

}  // namespace uikit

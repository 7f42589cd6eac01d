#include <morvik/platform/uikit/UIFont.h>

#include <algorithm>
#include <cmath>

namespace uikit {

namespace {
quartz::CGFloat validSize(quartz::CGFloat size) { return std::isfinite(size) && size > 0 ? size : 17; }
}  // namespace

quartz::CGFloat UIFont::rawValue(Weight weight) {
  switch (weight) {
    case Weight::ultraLight:
      return -0.8;
    case Weight::thin:
      return -0.6;
    case Weight::light:
      return -0.4;
    case Weight::regular:
      return 0;
    case Weight::medium:
      return 0.23;
    case Weight::semibold:
      return 0.3;
    case Weight::bold:
      return 0.4;
    case Weight::heavy:
      return 0.56;
    case Weight::black:
      return 0.62;
  }
  return 0;
}

UIFont UIFont::systemFont(quartz::CGFloat ofSize, Weight weight) { return {validSize(ofSize), weight}; }
UIFont UIFont::boldSystemFont(quartz::CGFloat ofSize) { return {validSize(ofSize), Weight::bold}; }

UIFont UIFont::withSize(quartz::CGFloat fontSize) const {
  UIFont f = *this;
  f.pointSize_ = validSize(fontSize);
  return f;
}

std::string toString(UIFont::Weight weight) {
  switch (weight) {
    case UIFont::Weight::ultraLight:
      return "Ultralight";
    case UIFont::Weight::thin:
      return "Thin";
    case UIFont::Weight::light:
      return "Light";
    case UIFont::Weight::regular:
      return "Regular";
    case UIFont::Weight::medium:
      return "Medium";
    case UIFont::Weight::semibold:
      return "Semibold";
    case UIFont::Weight::bold:
      return "Bold";
    case UIFont::Weight::heavy:
      return "Heavy";
    case UIFont::Weight::black:
      return "Black";
  }
  return "Regular";
}

std::string UIFont::fontName() const { return ".SFUI-" + toString(weight_); }

}  // namespace uikit

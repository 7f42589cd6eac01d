// UIColor: an immutable RGBA colour (sRGB components 0..1, not premultiplied).
// A plain value: copy it freely and use it on any thread. Semantic colours
// have the platform's light-mode values; there is no dark mode here.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <morvik/platform/foundation/Bundle.h>
#include <morvik/platform/quartz/CGColor.h>

namespace uikit {

class UITraitCollection;

class UIColor {
 public:
  // Opaque black.
  constexpr UIColor() = default;
  // Components are clamped to 0..1.
  UIColor(quartz::CGFloat red, quartz::CGFloat green, quartz::CGFloat blue, quartz::CGFloat alpha);
  // A grey level.
  UIColor(quartz::CGFloat white, quartz::CGFloat alpha);
  explicit UIColor(const quartz::CGColor& cgColor);

  // A colour asset: `<bundleDirectory>/<name>.colorset/Contents.json` holding
  // {"color": {"red": r, "green": g, "blue": b, "alpha": a}} with numbers in
  // 0..1 ("alpha" may be left out: 1). Nothing when the file is missing,
  // unreadable or malformed, or a component is not a number in 0..1. The
  // traits are accepted for the platform's signature and not consulted.
  static std::optional<UIColor> named(const std::string& name, const std::filesystem::path& bundleDirectory,
                                      const UITraitCollection* compatibleWith = nullptr);
  // The same from a bundle's resource directory; a null bundle means the main bundle.
  static std::optional<UIColor> named(const std::string& name, const std::shared_ptr<foundation::Bundle>& in,
                                      const UITraitCollection* compatibleWith = nullptr);

  quartz::CGColor cgColor() const { return color_; }
  quartz::CGFloat alpha() const { return color_.alpha; }
  // The same colour with another alpha (clamped to 0..1).
  UIColor withAlphaComponent(quartz::CGFloat alpha) const;

  static UIColor black() { return {0, 1}; }
  static UIColor white() { return {1, 1}; }
  static UIColor clear() { return {0, 0, 0, 0}; }
  static UIColor gray() { return {0.5, 1}; }
  static UIColor lightGray() { return {2.0 / 3.0, 1}; }
  static UIColor darkGray() { return {1.0 / 3.0, 1}; }
  static UIColor red() { return {1, 0, 0, 1}; }
  static UIColor green() { return {0, 1, 0, 1}; }
  static UIColor blue() { return {0, 0, 1, 1}; }
  static UIColor yellow() { return {1, 1, 0, 1}; }
  static UIColor orange() { return {1, 0.5, 0, 1}; }

  static UIColor systemBackground();
  static UIColor secondarySystemBackground();
  static UIColor tertiarySystemBackground();
  static UIColor systemGroupedBackground();
  static UIColor label();
  static UIColor secondaryLabel();
  static UIColor tertiaryLabel();
  static UIColor quaternaryLabel();
  static UIColor placeholderText();
  static UIColor separator();
  static UIColor lightText();
  static UIColor darkText();
  static UIColor link();
  static UIColor systemGray();
  static UIColor systemGray2();
  static UIColor systemGray3();
  static UIColor systemGray4();
  static UIColor systemGray5();
  static UIColor systemGray6();
  static UIColor systemBlue();
  static UIColor systemGreen();
  static UIColor systemRed();
  static UIColor systemYellow();
  static UIColor systemOrange();

  friend bool operator==(const UIColor&, const UIColor&) = default;

 private:
  quartz::CGColor color_ = quartz::CGColor::black();
};

// "UIColor(r g b a)" with components rounded to three decimals.
std::string toString(const UIColor& color);

}  // namespace uikit

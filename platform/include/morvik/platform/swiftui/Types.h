// Plain values of the swiftui layer: colours, fonts, edges, alignment,
// shapes and text keys. Any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include <morvik/platform/uikit/UIColor.h>
#include <morvik/platform/uikit/UIFont.h>
#include <morvik/platform/uikit/UIKitTypes.h>

namespace swiftui {

using CGFloat = quartz::CGFloat;

// A colour; also usable as a background.
struct Color {
  uikit::UIColor uiColor;

  static Color black() { return {uikit::UIColor::black()}; }
  static Color white() { return {uikit::UIColor::white()}; }
  static Color gray() { return {uikit::UIColor::systemGray()}; }
  static Color red() { return {uikit::UIColor::systemRed()}; }
  static Color green() { return {uikit::UIColor::systemGreen()}; }
  static Color blue() { return {uikit::UIColor::systemBlue()}; }
  static Color orange() { return {uikit::UIColor::systemOrange()}; }
  static Color yellow() { return {uikit::UIColor::systemYellow()}; }
  static Color clear() { return {uikit::UIColor::clear()}; }
  static Color primary() { return {uikit::UIColor::label()}; }
  static Color secondary() { return {uikit::UIColor::secondaryLabel()}; }
  friend bool operator==(const Color&, const Color&) = default;
};

// A text style of the system font, at the platform's default sizes.
class Font {
 public:
  enum class TextStyle {
    largeTitle,
    title,
    title2,
    title3,
    headline,
    subheadline,
    body,
    callout,
    footnote,
    caption,
    caption2
  };
  static Font largeTitle() { return Font(TextStyle::largeTitle); }
  static Font title() { return Font(TextStyle::title); }
  static Font title2() { return Font(TextStyle::title2); }
  static Font title3() { return Font(TextStyle::title3); }
  static Font headline() { return Font(TextStyle::headline); }
  static Font subheadline() { return Font(TextStyle::subheadline); }
  static Font body() { return Font(TextStyle::body); }
  static Font callout() { return Font(TextStyle::callout); }
  static Font footnote() { return Font(TextStyle::footnote); }
  static Font caption() { return Font(TextStyle::caption); }
  static Font caption2() { return Font(TextStyle::caption2); }

  TextStyle style() const { return style_; }
  // largeTitle 34, title 28, title2 22, title3 20, headline 17 semibold,
  // body 17, callout 16, subheadline 15, footnote 13, caption 12, caption2 11.
  uikit::UIFont uiFont() const;
  friend bool operator==(const Font&, const Font&) = default;

 private:
  explicit Font(TextStyle style) : style_(style) {}
  TextStyle style_;
};

struct Edge {
  enum class Set : std::uint8_t {
    top = 1,
    leading = 2,
    bottom = 4,
    trailing = 8,
    horizontal = 2 | 8,
    vertical = 1 | 4,
    all = 15
  };
};
constexpr bool contains(Edge::Set set, Edge::Set edge) {
  return (static_cast<unsigned>(set) & static_cast<unsigned>(edge)) == static_cast<unsigned>(edge);
}

enum class HorizontalAlignment { leading, center, trailing };

enum class SafeAreaRegions { container, keyboard, all };

struct RoundedRectangle {
  CGFloat cornerRadius = 0;
};

// The rounded-border look of a text field.
struct RoundedBorderTextFieldStyle {};

// A text that is looked up in the localisation table before it is shown.
// String literals convert to it; a std::string shown as it is goes through
// Text::verbatim instead.
struct LocalizedStringKey {
  LocalizedStringKey(const char* key) : key(key) {}  // NOLINT(google-explicit-constructor): literals are keys
  explicit LocalizedStringKey(std::string key) : key(std::move(key)) {}
  std::string key;
  // The table's text for the key, or the key itself.
  std::string resolved() const;
};

// The process's localisation table (a host loads its strings here at
// start; the platform reads its Localizable.strings). Main thread only.
void setLocalizedStrings(std::map<std::string, std::string> table);

}  // namespace swiftui

// NSAttributedString: text with runs of typed attributes, and HTML import.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <morvik/platform/foundation/Data.h>
#include <morvik/platform/foundation/Error.h>

namespace foundation {

// Locations and lengths count bytes of the UTF-8 text.
struct NSRange {
  std::size_t location = 0;
  std::size_t length = 0;
  std::size_t end() const { return location + length; }
  friend bool operator==(const NSRange&, const NSRange&) = default;
};
inline constexpr std::size_t NSNotFound = static_cast<std::size_t>(-1);

// Components 0...1.
struct RGBAColor {
  double red = 0, green = 0, blue = 0, alpha = 1;
  friend bool operator==(const RGBAColor&, const RGBAColor&) = default;
};

enum class NSTextAlignment { natural, left, center, right, justified };

// The attributes a run may carry. Absent means "not set" (the reader's
// default applies).
struct TextAttributes {
  std::optional<std::string> fontFamily;
  std::optional<double> fontSize;  // points
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strikethrough = false;
  std::optional<RGBAColor> foregroundColor;
  std::optional<std::string> link;  // the link as text (NSLinkAttributeName)
  std::optional<NSTextAlignment> alignment;
  std::optional<double> lineHeight;  // points
  friend bool operator==(const TextAttributes&, const TextAttributes&) = default;
};

struct AttributedRun {
  NSRange range;
  TextAttributes attributes;
  friend bool operator==(const AttributedRun&, const AttributedRun&) = default;
};

// A value type; any thread. Runs cover the whole text without gaps, in order;
// neighbouring runs always differ in their attributes.
class NSAttributedString {
 public:
  NSAttributedString() = default;
  explicit NSAttributedString(std::string text, TextAttributes attributes = {});

  // NSAttributedString(data:options:documentAttributes:) with the HTML
  // document type and UTF-8. Text runs get bold (b, strong, font-weight),
  // italic (i, em, font-style), underline (u, a, text-decoration), font
  // size and family, colour (#rgb, #rrggbb, rgb(), common names), links
  // (a href), alignment and line height from inline styles, <font> and
  // <style> rules for element names and "body" ("px" and "pt" are both taken
  // as points). Paragraphs, headings, divs and list items end with a line
  // break; <br> is one; list items begin with "•\t" (ordered lists "1.\t").
  // Whitespace collapses as in HTML; script, style and head content is not
  // text. Defaults: Times New Roman, 12 points, black.
  // Throws NSError (NSCocoaErrorDomain, code 259) when the data is not UTF-8
  // or holds no document at all (empty).
  static NSAttributedString fromHTML(const Data& data);

  const std::string& string() const { return text_; }
  std::size_t length() const { return text_.size(); }
  const std::vector<AttributedRun>& runs() const { return runs_; }

  // The attributes at a byte index (empty attributes past the end), and the
  // range of the run that holds it.
  TextAttributes attributes(std::size_t at, NSRange* effectiveRange = nullptr) const;

  friend bool operator==(const NSAttributedString&, const NSAttributedString&) = default;

 protected:
  void normalise();
  std::string text_;
  std::vector<AttributedRun> runs_;
};

class NSMutableAttributedString : public NSAttributedString {
 public:
  NSMutableAttributedString() = default;
  explicit NSMutableAttributedString(std::string text, TextAttributes attributes = {})
      : NSAttributedString(std::move(text), std::move(attributes)) {}
  explicit NSMutableAttributedString(const NSAttributedString& other) : NSAttributedString(other) {}

  // The first literal, case-sensitive occurrence (mutableString.range(of:)),
  // or {NSNotFound, 0}. An empty text is never found.
  NSRange range(std::string_view of) const;

  void append(const NSAttributedString& other);
  // Sets the link attribute over the range (clipped to the text).
  void addLink(std::string link, NSRange range);
  // Applies `change` to the attributes of every byte in the range (clipped).
  template <class F>
  void modifyAttributes(NSRange range, F&& change) {
    if (range.location >= text_.size()) return;
    range.length = std::min(range.length, text_.size() - range.location);
    splitAt(range.location);
    splitAt(range.end());
    for (auto& run : runs_) {
      if (run.range.location >= range.location && run.range.end() <= range.end()) change(run.attributes);
    }
    normalise();
  }

 private:
  void splitAt(std::size_t index);
};

}  // namespace foundation

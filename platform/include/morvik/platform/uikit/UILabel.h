// UILabel and the text-metrics model shared by the text views.
//
// Text metrics: every line is font.lineHeight() (1.2 x point size) tall.
// Widths come from the rendering plugin's shaping (Inter, Pango) once it is
// loaded (UIRendering.h); before that, from a fixed estimate: every character
// (UTF-8 code point) advances font.averageAdvance() (0.55 x point size, 0.58 x
// for semibold and heavier). Multi-line text wraps on word boundaries
// (spaces); a word wider than the line is broken between characters; "\n"
// starts a new line. Text cut by the line limit, or a single line wider than
// its width, ends in "…" under the truncating-tail mode (the default).
// Attributed text is measured with the label's font.
#pragma once

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <morvik/platform/foundation/AttributedString.h>
#include <morvik/platform/uikit/UIFont.h>
#include <morvik/platform/uikit/UIView.h>

namespace uikit {

struct TextLayout {
  std::vector<std::string> lines;
  CGSize size;
};
// Lines of `text` in `font` within maxWidth (infinity: no wrapping, one line
// per paragraph); numberOfLines 0 means no limit, 1 a single line without
// wrapping. Under byTruncatingTail the last line shown ends in "…" when text
// is left over or it is wider than maxWidth; a single line too wide is cut at
// its head or its middle under byTruncatingHead and byTruncatingMiddle.
// Empty text measures zero.
TextLayout layoutText(const std::string& text, const UIFont& font, int numberOfLines,
                      CGFloat maxWidth = std::numeric_limits<CGFloat>::infinity(),
                      NSLineBreakMode lineBreakMode = NSLineBreakMode::byTruncatingTail);
// Width of one line without wrapping.
CGFloat textWidth(const std::string& text, const UIFont& font);

class UILabel : public UIView {
 public:
  explicit UILabel(const CGRect& frame = {});
  std::string className() const override { return "UILabel"; }

  // Setting text replaces the attributed text with plain text; setting
  // attributed text sets text to its string.
  const std::optional<std::string>& text() const { return text_; }
  void setText(std::optional<std::string> text);
  const std::optional<foundation::NSAttributedString>& attributedText() const { return attributedText_; }
  void setAttributedText(std::optional<foundation::NSAttributedString> text);

  const UIFont& font() const { return font_; }
  void setFont(const UIFont& font);
  const UIColor& textColor() const { return textColor_; }
  void setTextColor(const UIColor& color);
  NSTextAlignment textAlignment() const { return textAlignment_; }
  void setTextAlignment(NSTextAlignment alignment);
  // 1 by default; 0 = as many as needed.
  int numberOfLines() const { return numberOfLines_; }
  void setNumberOfLines(int lines);
  NSLineBreakMode lineBreakMode() const { return lineBreakMode_; }
  void setLineBreakMode(NSLineBreakMode mode);
  bool adjustsFontSizeToFitWidth() const { return adjustsFontSize_; }
  void setAdjustsFontSizeToFitWidth(bool adjusts);
  CGFloat minimumScaleFactor() const { return minimumScaleFactor_; }
  void setMinimumScaleFactor(CGFloat factor);
  // Wrapping width for the intrinsic size of a multi-line label (0: the
  // width layout gives it).
  CGFloat preferredMaxLayoutWidth() const { return preferredMaxLayoutWidth_; }
  void setPreferredMaxLayoutWidth(CGFloat width);
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);

  // The size of the text; a multi-line label wraps at size.width (0 or
  // infinity: no limit).
  CGSize sizeThatFits(const CGSize& size) const override;
  CGSize intrinsicContentSize() const override;
  // The lines as laid out in the current bounds (diagnostics and tests).
  std::vector<std::string> renderedLines() const;
  // The font size used to draw: reduced (not below minimumScaleFactor) when
  // adjustsFontSizeToFitWidth and a single line is wider than the bounds.
  CGFloat effectivePointSize() const;

 protected:
  std::string descriptionFields() const override;

 private:
  std::string displayText() const;
  std::optional<std::string> text_;
  std::optional<foundation::NSAttributedString> attributedText_;
  UIFont font_ = UIFont::systemFont(17);
  UIColor textColor_ = UIColor::label();
  NSTextAlignment textAlignment_ = NSTextAlignment::natural;
  int numberOfLines_ = 1;
  NSLineBreakMode lineBreakMode_ = NSLineBreakMode::byTruncatingTail;
  bool adjustsFontSize_ = false;
  CGFloat minimumScaleFactor_ = 0;
  CGFloat preferredMaxLayoutWidth_ = 0;
  bool enabled_ = true;
};

}  // namespace uikit

#include "morvik/platform/uikit/UILabel.h"

#include <algorithm>
#include <cmath>

#include "uikit/LayoutEngine.h"
#include "uikit/RenderPlugin.h"

namespace uikit {

namespace {
// Byte length of the UTF-8 sequence that starts with `lead`.
std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead >> 5) == 0x6) return 2;
  if ((lead >> 4) == 0xE) return 3;
  if ((lead >> 3) == 0x1E) return 4;
  return 1;  // stray continuation byte: count it alone
}

std::size_t glyphCount(const std::string& s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); i += sequenceLength(static_cast<unsigned char>(s[i]))) ++n;
  return n;
}

std::vector<std::string> splitGlyphs(const std::string& s) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t len = std::min(sequenceLength(static_cast<unsigned char>(s[i])), s.size() - i);
    out.push_back(s.substr(i, len));
    i += len;
  }
  return out;
}

// Widths that layout hands back may lose a little to rounding: text fits
// within this much of the width it measured.
constexpr CGFloat kFitSlack = 1e-3;

// Width of one glyph alone: breaking inside a word sums these instead of
// shaping every growing prefix (a 100,000-character word stays linear).
CGFloat glyphWidth(const std::string& glyph, const UIFont& font) { return textWidth(glyph, font); }

void wrapParagraph(const std::string& paragraph, const UIFont& font, CGFloat maxWidth,
                   std::vector<std::string>& lines) {
  std::vector<std::string> words;
  std::string word;
  for (char c : paragraph) {
    if (c == ' ') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  if (words.empty()) {
    lines.emplace_back();
    return;
  }
  std::string line;
  auto flush = [&] {
    lines.push_back(line);
    line.clear();
  };
  for (const auto& w : words) {
    std::string candidate = line.empty() ? w : line + " " + w;
    if (textWidth(candidate, font) <= maxWidth + kFitSlack) {
      line = candidate;
      continue;
    }
    if (!line.empty()) flush();
    if (textWidth(w, font) <= maxWidth + kFitSlack) {
      line = w;
      continue;
    }
    // A word wider than the line breaks between characters.
    CGFloat used = 0;
    for (const auto& g : splitGlyphs(w)) {
      const CGFloat advance = glyphWidth(g, font);
      if (!line.empty() && used + advance > maxWidth + kFitSlack) {
        flush();
        used = 0;
      }
      line += g;
      used += advance;
    }
  }
  if (!line.empty()) flush();
}

constexpr const char* kEllipsis = "\u2026";

std::string trimEnd(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The longest start of `text` that fits maxWidth with "…" after it (only
// "…" when not even one character does); `text` itself when it fits and
// nothing follows it.
std::string truncateTail(const std::string& text, bool more, const UIFont& font, CGFloat maxWidth) {
  if (!more && textWidth(text, font) <= maxWidth + kFitSlack) return text;
  const auto glyphs = splitGlyphs(text);
  // No glyph is narrower than a tenth of the size: a bound on how many can fit.
  const double fit = std::max(0.0, maxWidth) / std::max(0.1 * font.pointSize(), 0.01);
  std::size_t lo = 0, hi = std::min(glyphs.size(), static_cast<std::size_t>(std::min(fit, 1e9)) + 1);
  auto prefix = [&](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += glyphs[i];
    return trimEnd(std::move(s)) + kEllipsis;
  };
  while (lo < hi) {
    const std::size_t mid = (lo + hi + 1) / 2;
    if (textWidth(prefix(mid), font) <= maxWidth + kFitSlack) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return prefix(lo);
}
// One line cut at its head ("…" then the longest end that fits) or in its
// middle (the longest start and end of about equal length around "…").
std::string truncateOther(const std::string& text, bool middle, const UIFont& font, CGFloat maxWidth) {
  if (textWidth(text, font) <= maxWidth + kFitSlack) return text;
  const auto glyphs = splitGlyphs(text);
  const double fit = std::max(0.0, maxWidth) / std::max(0.1 * font.pointSize(), 0.01);
  const std::size_t most = std::min(glyphs.size(), static_cast<std::size_t>(std::min(fit, 1e9)) + 1);
  auto make = [&](std::size_t n) {
    const std::size_t head = middle ? (n + 1) / 2 : 0, tail = n - head;
    std::string s;
    for (std::size_t i = 0; i < head; ++i) s += glyphs[i];
    s += kEllipsis;
    for (std::size_t i = glyphs.size() - tail; i < glyphs.size(); ++i) s += glyphs[i];
    return s;
  };
  std::size_t lo = 0, hi = most;
  while (lo < hi) {
    const std::size_t mid = (lo + hi + 1) / 2;
    if (textWidth(make(mid), font) <= maxWidth + kFitSlack) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  return make(lo);
}
}  // namespace

CGFloat textWidth(const std::string& text, const UIFont& font) {
  if (text.empty()) return 0;
  if (const auto* plugin = detail::loadedRenderPlugin()) return plugin->textWidth(text, font);
  return static_cast<CGFloat>(glyphCount(text)) * font.averageAdvance();
}

TextLayout layoutText(const std::string& text, const UIFont& font, int numberOfLines, CGFloat maxWidth,
                      NSLineBreakMode lineBreakMode) {
  TextLayout out;
  if (text.empty()) return out;
  const bool bounded = !std::isinf(maxWidth) && maxWidth > 0;
  const bool tail = lineBreakMode == NSLineBreakMode::byTruncatingTail;
  if (numberOfLines == 1) {
    const bool head = lineBreakMode == NSLineBreakMode::byTruncatingHead;
    const bool middle = lineBreakMode == NSLineBreakMode::byTruncatingMiddle;
    if (bounded && tail) {
      out.lines.push_back(truncateTail(text, false, font, maxWidth));
    } else if (bounded && (head || middle)) {
      out.lines.push_back(truncateOther(text, middle, font, maxWidth));
    } else {
      out.lines.push_back(text);
    }
  } else {
    std::size_t start = 0;
    for (;;) {
      std::size_t nl = text.find('\n', start);
      std::string paragraph = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
      if (!bounded) {
        out.lines.push_back(paragraph);
      } else {
        wrapParagraph(paragraph, font, maxWidth, out.lines);
      }
      if (nl == std::string::npos) break;
      start = nl + 1;
    }
    const auto limit = static_cast<std::size_t>(numberOfLines);
    if (numberOfLines > 0 && out.lines.size() > limit) {
      if (tail) {
        // The last line shown carries on with what is cut, ended by "…".
        std::string last = out.lines[limit - 1];
        if (bounded) {
          std::string rest;
          for (std::size_t i = limit; i < out.lines.size() && rest.size() < 4096; ++i)
            rest += " " + out.lines[i];
          if (textWidth(last + kEllipsis, font) <= maxWidth + kFitSlack &&
              textWidth(last + rest, font) > maxWidth + kFitSlack) {
            last = truncateTail(last + rest, true, font, maxWidth);
          } else {
            last = truncateTail(last, true, font, maxWidth);
          }
        } else {
          last = trimEnd(last) + kEllipsis;
        }
        out.lines[limit - 1] = last;
      }
      out.lines.resize(limit);
    }
  }
  CGFloat width = 0;
  for (const auto& l : out.lines) width = std::max(width, textWidth(l, font));
  if (numberOfLines != 1 && bounded) width = std::min(width, maxWidth);
  out.size = {width, static_cast<CGFloat>(out.lines.size()) * font.lineHeight()};
  return out;
}

UILabel::UILabel(const CGRect& frame) : UIView(frame) { setUserInteractionEnabled(false); }

std::string UILabel::displayText() const {
  if (attributedText_) return attributedText_->string();
  return text_.value_or("");
}

void UILabel::setText(std::optional<std::string> text) {
  checkThread("UILabel::setText");
  text_ = std::move(text);
  attributedText_.reset();
  invalidateIntrinsicContentSize();
}

void UILabel::setAttributedText(std::optional<foundation::NSAttributedString> text) {
  checkThread("UILabel::setAttributedText");
  attributedText_ = std::move(text);
  if (attributedText_) {
    text_ = attributedText_->string();
  } else {
    text_.reset();
  }
  invalidateIntrinsicContentSize();
}

void UILabel::setFont(const UIFont& font) {
  checkThread("UILabel::setFont");
  font_ = font;
  invalidateIntrinsicContentSize();
}

void UILabel::setTextColor(const UIColor& color) {
  checkThread("UILabel::setTextColor");
  textColor_ = color;
}

void UILabel::setTextAlignment(NSTextAlignment alignment) {
  checkThread("UILabel::setTextAlignment");
  textAlignment_ = alignment;
}

void UILabel::setNumberOfLines(int lines) {
  checkThread("UILabel::setNumberOfLines");
  numberOfLines_ = std::max(0, lines);
  invalidateIntrinsicContentSize();
}

void UILabel::setLineBreakMode(NSLineBreakMode mode) {
  checkThread("UILabel::setLineBreakMode");
  lineBreakMode_ = mode;
  invalidateIntrinsicContentSize();
}

void UILabel::setAdjustsFontSizeToFitWidth(bool adjusts) {
  checkThread("UILabel::setAdjustsFontSizeToFitWidth");
  adjustsFontSize_ = adjusts;
}

void UILabel::setMinimumScaleFactor(CGFloat factor) {
  checkThread("UILabel::setMinimumScaleFactor");
  minimumScaleFactor_ = std::clamp(factor, 0.0, 1.0);
}

void UILabel::setPreferredMaxLayoutWidth(CGFloat width) {
  checkThread("UILabel::setPreferredMaxLayoutWidth");
  preferredMaxLayoutWidth_ = std::max(0.0, width);
  invalidateIntrinsicContentSize();
}

void UILabel::setEnabled(bool enabled) {
  checkThread("UILabel::setEnabled");
  enabled_ = enabled;
}

CGSize UILabel::sizeThatFits(const CGSize& size) const {
  // A single line measures its whole text, as on the platform.
  CGFloat width =
      size.width > 0 && numberOfLines_ != 1 ? size.width : std::numeric_limits<CGFloat>::infinity();
  return layoutText(displayText(), font_, numberOfLines_, width, lineBreakMode_).size;
}

CGSize UILabel::intrinsicContentSize() const {
  CGFloat width = numberOfLines_ != 1 && preferredMaxLayoutWidth_ > 0
                      ? preferredMaxLayoutWidth_
                      : std::numeric_limits<CGFloat>::infinity();
  return layoutText(displayText(), font_, numberOfLines_, width, lineBreakMode_).size;
}

std::vector<std::string> UILabel::renderedLines() const {
  return layoutText(displayText(), font_.withSize(effectivePointSize()), numberOfLines_, bounds().width(),
                    lineBreakMode_)
      .lines;
}

CGFloat UILabel::effectivePointSize() const {
  CGFloat size = font_.pointSize();
  if (!adjustsFontSize_ || numberOfLines_ != 1) return size;
  CGFloat needed = textWidth(displayText(), font_);
  CGFloat available = bounds().width();
  if (needed <= available || needed <= 0) return size;
  CGFloat scale = std::max(available / needed, minimumScaleFactor_);
  return size * scale;
}

std::string UILabel::descriptionFields() const {
  if (!text_) return {};
  return "; text = '" + *text_ + "'";
}

}  // namespace uikit

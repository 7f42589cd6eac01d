// HTML import for NSAttributedString: libxml2's forgiving HTML parser builds
// the tree; a small walker with a subset of CSS turns it into text runs.
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <morvik/platform/foundation/AttributedString.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace foundation {
namespace {

constexpr int kHTMLReadCorrupt = 259;

std::string lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::optional<double> parseDouble(std::string_view s) {
  s = trim(s);
  double v = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || ptr == s.data()) return std::nullopt;
  return v;
}

// A CSS length in points; `em` and `%` are relative to the inherited size.
// "px" counts as a point, as on the phone's screen.
std::optional<double> parseLength(std::string_view value, double inherited) {
  value = trim(value);
  std::string v = lower(value);
  static const std::map<std::string, double> kKeywords{{"xx-small", 9}, {"x-small", 10}, {"small", 13},
                                                       {"medium", 16},  {"large", 18},   {"x-large", 24},
                                                       {"xx-large", 32}};
  if (auto it = kKeywords.find(v); it != kKeywords.end()) return it->second;
  const auto number = parseDouble(v);
  if (!number || *number < 0) return std::nullopt;
  if (v.ends_with("em")) return *number * inherited;
  if (v.ends_with("%")) return *number * inherited / 100.0;
  return *number;  // px, pt or bare
}

std::optional<RGBAColor> parseColor(std::string_view value) {
  std::string v = lower(trim(value));
  static const std::map<std::string, RGBAColor> kNames{{"black", {0, 0, 0, 1}},
                                                       {"white", {1, 1, 1, 1}},
                                                       {"red", {1, 0, 0, 1}},
                                                       {"green", {0, 128 / 255.0, 0, 1}},
                                                       {"blue", {0, 0, 1, 1}},
                                                       {"yellow", {1, 1, 0, 1}},
                                                       {"gray", {128 / 255.0, 128 / 255.0, 128 / 255.0, 1}},
                                                       {"grey", {128 / 255.0, 128 / 255.0, 128 / 255.0, 1}},
                                                       {"orange", {1, 165 / 255.0, 0, 1}},
                                                       {"purple", {128 / 255.0, 0, 128 / 255.0, 1}},
                                                       {"transparent", {0, 0, 0, 0}}};
  if (auto it = kNames.find(v); it != kNames.end()) return it->second;
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  if (!v.empty() && v[0] == '#') {
    const std::string h = v.substr(1);
    if (!std::all_of(h.begin(), h.end(), [&](char c) { return hex(c) >= 0; })) return std::nullopt;
    if (h.size() == 3)
      return RGBAColor{hex(h[0]) * 17 / 255.0, hex(h[1]) * 17 / 255.0, hex(h[2]) * 17 / 255.0, 1};
    if (h.size() == 6 || h.size() == 8) {
      auto byte = [&](std::size_t i) { return (hex(h[i]) * 16 + hex(h[i + 1])) / 255.0; };
      return RGBAColor{byte(0), byte(2), byte(4), h.size() == 8 ? byte(6) : 1.0};
    }
    return std::nullopt;
  }
  if (v.starts_with("rgb(") || v.starts_with("rgba(")) {
    const auto open = v.find('('), close = v.rfind(')');
    if (close == std::string::npos || close < open) return std::nullopt;
    std::vector<double> parts;
    std::string_view rest = std::string_view(v).substr(open + 1, close - open - 1);
    while (!rest.empty()) {
      const auto comma = rest.find(',');
      const auto piece = trim(rest.substr(0, comma));
      auto n = parseDouble(piece);
      if (!n) return std::nullopt;
      parts.push_back(piece.ends_with("%") ? *n * 2.55 : *n);
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    if (parts.size() != 3 && parts.size() != 4) return std::nullopt;
    auto clamp = [](double x) { return std::clamp(x / 255.0, 0.0, 1.0); };
    return RGBAColor{clamp(parts[0]), clamp(parts[1]), clamp(parts[2]),
                     parts.size() == 4 ? std::clamp(parts[3], 0.0, 1.0) : 1.0};
  }
  return std::nullopt;
}

std::optional<NSTextAlignment> parseAlignment(std::string_view value) {
  const std::string v = lower(trim(value));
  if (v == "left" || v == "start") return NSTextAlignment::left;
  if (v == "right" || v == "end") return NSTextAlignment::right;
  if (v == "center") return NSTextAlignment::center;
  if (v == "justify") return NSTextAlignment::justified;
  return std::nullopt;
}

void applyDeclarations(std::string_view declarations, TextAttributes& a) {
  while (!declarations.empty()) {
    const auto semi = declarations.find(';');
    const std::string_view decl = declarations.substr(0, semi);
    declarations = semi == std::string_view::npos ? std::string_view() : declarations.substr(semi + 1);
    const auto colon = decl.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string property = lower(trim(decl.substr(0, colon)));
    std::string_view value = trim(decl.substr(colon + 1));
    if (const auto bang = value.find("!important"); bang != std::string_view::npos)
      value = trim(value.substr(0, bang));
    const std::string v = lower(value);
    const double inherited = a.fontSize.value_or(12.0);
    if (property == "font-size") {
      if (auto size = parseLength(value, inherited)) a.fontSize = size;
    } else if (property == "font-family") {
      std::string_view first = trim(value.substr(0, value.find(',')));
      if (first.size() >= 2 && (first.front() == '\'' || first.front() == '"'))
        first = first.substr(1, first.size() - 2);
      if (!first.empty()) a.fontFamily = std::string(first);
    } else if (property == "font-weight") {
      const auto n = parseDouble(v);
      a.bold = v == "bold" || v == "bolder" || (n && *n >= 600);
    } else if (property == "font-style") {
      a.italic = v == "italic" || v == "oblique";
    } else if (property == "text-decoration" || property == "text-decoration-line") {
      if (v.find("none") != std::string::npos) a.underline = a.strikethrough = false;
      if (v.find("underline") != std::string::npos) a.underline = true;
      if (v.find("line-through") != std::string::npos) a.strikethrough = true;
    } else if (property == "color") {
      if (auto c = parseColor(value)) a.foregroundColor = c;
    } else if (property == "text-align") {
      if (auto align = parseAlignment(value)) a.alignment = align;
    } else if (property == "line-height") {
      if (v == "normal") {
        a.lineHeight.reset();
      } else if (auto n = parseDouble(v); n && v.find_first_not_of("0123456789. ") == std::string::npos) {
        a.lineHeight = *n * inherited;  // a bare number multiplies the font size
      } else if (auto len = parseLength(value, inherited)) {
        a.lineHeight = len;
      }
    }
  }
}

struct StyleRule {
  std::string tag;        // empty = any element
  std::string className;  // empty = no class required
  std::string declarations;
};

std::vector<StyleRule> parseStyleSheet(std::string css) {
  // Drop comments first.
  for (auto start = css.find("/*"); start != std::string::npos; start = css.find("/*", start)) {
    const auto end = css.find("*/", start + 2);
    css.erase(start, end == std::string::npos ? std::string::npos : end + 2 - start);
  }
  std::vector<StyleRule> rules;
  std::size_t pos = 0;
  while (pos < css.size()) {
    const auto open = css.find('{', pos);
    if (open == std::string::npos) break;
    const std::string selectors(trim(std::string_view(css).substr(pos, open - pos)));
    if (!selectors.empty() && selectors.front() == '@') {
      // At-rules (media queries and the like) are skipped whole.
      int depth = 0;
      std::size_t i = open;
      for (; i < css.size(); ++i) {
        if (css[i] == '{') ++depth;
        if (css[i] == '}' && --depth == 0) break;
      }
      pos = i + 1;
      continue;
    }
    const auto close = css.find('}', open);
    const std::string body =
        css.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    std::string_view list = selectors;
    while (true) {
      const auto comma = list.find(',');
      const std::string selector = lower(trim(list.substr(0, comma)));
      // Only simple selectors: "tag", ".class", "tag.class", "*".
      if (!selector.empty() && selector.find_first_of(" >+~[:#") == std::string::npos) {
        StyleRule rule;
        const auto dot = selector.find('.');
        rule.tag = selector.substr(0, dot);
        if (rule.tag == "*") rule.tag.clear();
        if (dot != std::string::npos) rule.className = selector.substr(dot + 1);
        rule.declarations = body;
        rules.push_back(std::move(rule));
      }
      if (comma == std::string_view::npos) break;
      list.remove_prefix(comma + 1);
    }
    if (close == std::string::npos) break;
    pos = close + 1;
  }
  return rules;
}

std::string attribute(xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  if (!value) return {};
  std::string out(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return out;
}

bool isBlock(const std::string& tag) {
  static const char* const kBlocks[] = {
      "p",  "div",        "h1",  "h2", "h3",    "h4",      "h5",      "h6",     "ul",     "ol",
      "li", "blockquote", "pre", "tr", "table", "section", "article", "header", "footer", "address",
      "dl", "dt",         "dd",  "hr", "form",  "nav",     "main",    "figure"};
  return std::find(std::begin(kBlocks), std::end(kBlocks), tag) != std::end(kBlocks);
}

class Walker {
 public:
  explicit Walker(std::vector<StyleRule> rules) : rules_(std::move(rules)) {}

  void walk(xmlNode* node, const TextAttributes& inherited, bool preformatted) {
    for (xmlNode* child = node; child; child = child->next) {
      if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
        appendText(reinterpret_cast<const char*>(child->content ? child->content : BAD_CAST ""), inherited,
                   preformatted);
      } else if (child->type == XML_ELEMENT_NODE) {
        element(child, inherited, preformatted);
      }
    }
  }

  NSAttributedString result() {
    NSMutableAttributedString out;
    for (auto& [text, attributes] : pieces_) out.append(NSAttributedString(std::move(text), attributes));
    return out;
  }

 private:
  void element(xmlNode* node, TextAttributes attributes, bool preformatted) {
    const std::string tag = lower(reinterpret_cast<const char*>(node->name));
    if (tag == "head" || tag == "script" || tag == "style" || tag == "title" || tag == "meta" ||
        tag == "template" || tag == "noscript") {
      return;
    }
    if (tag == "br") {
      newline(attributes, true);
      return;
    }
    const double size = attributes.fontSize.value_or(12.0);
    if (tag == "b" || tag == "strong" || tag == "th") attributes.bold = true;
    if (tag == "i" || tag == "em" || tag == "cite" || tag == "var" || tag == "dfn") attributes.italic = true;
    if (tag == "u" || tag == "ins") attributes.underline = true;
    if (tag == "s" || tag == "strike" || tag == "del") attributes.strikethrough = true;
    if (tag.size() == 2 && tag[0] == 'h' && tag[1] >= '1' && tag[1] <= '6') {
      static constexpr double kScale[] = {2.0, 1.5, 1.17, 1.0, 0.83, 0.67};
      attributes.bold = true;
      attributes.fontSize = size * kScale[tag[1] - '1'];
    }
    if (tag == "a") {
      const std::string href = attribute(node, "href");
      if (!href.empty()) {
        attributes.link = href;
        attributes.underline = true;
      }
    }
    if (tag == "font") {
      if (auto c = parseColor(attribute(node, "color"))) attributes.foregroundColor = c;
      const std::string face = attribute(node, "face");
      if (!face.empty())
        attributes.fontFamily = std::string(trim(std::string_view(face).substr(0, face.find(','))));
      if (const auto n = parseDouble(attribute(node, "size"))) {
        static constexpr double kSizes[] = {10, 13, 16, 18, 24, 32, 48};
        const int index = std::clamp(static_cast<int>(*n), 1, 7) - 1;
        attributes.fontSize = kSizes[index];
      }
    }
    if (const std::string align = attribute(node, "align"); !align.empty()) {
      if (auto a = parseAlignment(align)) attributes.alignment = a;
    }
    const std::string classes = " " + lower(attribute(node, "class")) + " ";
    for (const auto& rule : rules_) {
      if (!rule.tag.empty() && rule.tag != tag) continue;
      if (!rule.className.empty() && classes.find(" " + rule.className + " ") == std::string::npos) continue;
      applyDeclarations(rule.declarations, attributes);
    }
    applyDeclarations(attribute(node, "style"), attributes);

    const bool block = isBlock(tag);
    if (block) newline(attributes, false);
    if (tag == "ul" || tag == "ol") lists_.push_back(tag == "ol" ? 1 : 0);
    if (tag == "li") {
      std::string marker = "•\t";
      if (!lists_.empty() && lists_.back() > 0) marker = std::to_string(lists_.back()++) + ".\t";
      pendingSpace_ = false;
      push(marker, attributes);
      afterMarker_ = true;
    }
    walk(node->children, attributes, preformatted || tag == "pre");
    if (tag == "ul" || tag == "ol") lists_.pop_back();
    if (block) newline(attributes, false);
  }

  // A line break: forced (<br>) always adds one; a block boundary only ends
  // a line that has text on it.
  void newline(const TextAttributes& attributes, bool forced) {
    pendingSpace_ = false;
    if (forced || !atLineStart()) push("\n", attributes);
  }

  bool atLineStart() const { return pieces_.empty() || pieces_.back().first.back() == '\n'; }

  void appendText(std::string_view text, const TextAttributes& attributes, bool preformatted) {
    if (preformatted) {
      if (!text.empty()) push(std::string(text), attributes);
      return;
    }
    std::string out;
    for (char c : text) {
      if (std::isspace(static_cast<unsigned char>(c))) {
        pendingSpace_ = true;
        continue;
      }
      if (pendingSpace_ && !(out.empty() && (atLineStart() || afterMarker_))) out.push_back(' ');
      pendingSpace_ = false;
      out.push_back(c);
    }
    if (!out.empty()) push(std::move(out), attributes);
  }

  void push(std::string text, const TextAttributes& attributes) {
    afterMarker_ = false;
    if (!pieces_.empty() && pieces_.back().second == attributes) {
      pieces_.back().first += text;
    } else {
      pieces_.emplace_back(std::move(text), attributes);
    }
  }

  std::vector<StyleRule> rules_;
  std::vector<std::pair<std::string, TextAttributes>> pieces_;
  std::vector<int> lists_;  // 0 for a bullet list, else the next number
  bool pendingSpace_ = false;
  bool afterMarker_ = false;  // a list marker was the last thing written
};

void collectStyles(xmlNode* node, std::string& css) {
  for (; node; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    if (lower(reinterpret_cast<const char*>(node->name)) == "style") {
      xmlChar* text = xmlNodeGetContent(node);
      if (text) {
        css += reinterpret_cast<const char*>(text);
        css += "\n";
        xmlFree(text);
      }
    } else {
      collectStyles(node->children, css);
    }
  }
}

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

}  // namespace

NSAttributedString NSAttributedString::fromHTML(const Data& data) {
  std::string html = data.rawString();
  if (html.empty()) throw NSError(NSCocoaErrorDomain, kHTMLReadCorrupt, "The HTML document is empty.");
  if (!isValidUTF8(html)) {
    throw NSError(NSCocoaErrorDomain, kHTMLReadCorrupt, "The HTML document is not valid UTF-8 text.");
  }
  // A fragment gets an explicit body, so the parser does not wrap its bare
  // text in an implied paragraph (which would add a line break).
  const std::string head = lower(std::string_view(html).substr(0, 4096));
  if (head.find("<html") == std::string::npos && head.find("<body") == std::string::npos)
    html = "<body>" + html;
  // The parser's globals must be set up once before threads use it.
  static std::once_flag initOnce;
  std::call_once(initOnce, [] { xmlInitParser(); });
  std::unique_ptr<xmlDoc, DocFree> doc(
      htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                     HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET));
  if (!doc) throw NSError(NSCocoaErrorDomain, kHTMLReadCorrupt, "The HTML document could not be read.");
  xmlNode* root = xmlDocGetRootElement(doc.get());
  std::string css;
  collectStyles(root, css);
  TextAttributes defaults;
  defaults.fontFamily = "Times New Roman";
  defaults.fontSize = 12.0;
  defaults.foregroundColor = RGBAColor{0, 0, 0, 1};
  Walker walker(parseStyleSheet(std::move(css)));
  walker.walk(root, defaults, false);
  return walker.result();
}

}  // namespace foundation

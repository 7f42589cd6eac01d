#include "plugins/render/TextShaping.h"

#include <array>
#include <cmath>
#include <unordered_map>

namespace uikit::render {

namespace {

int pangoWeight(UIFont::Weight weight) {
  switch (weight) {
    case UIFont::Weight::ultraLight:
      return 200;  // Inter ExtraLight
    case UIFont::Weight::thin:
      return 100;  // Inter Thin
    case UIFont::Weight::light:
      return 300;
    case UIFont::Weight::regular:
      return 400;
    case UIFont::Weight::medium:
      return 500;
    case UIFont::Weight::semibold:
      return 600;
    case UIFont::Weight::bold:
      return 700;
    case UIFont::Weight::heavy:
      return 800;  // Inter ExtraBold
    case UIFont::Weight::black:
      return 900;
  }
  return 400;
}

struct FontKey {
  double size;
  int weight;
  bool operator==(const FontKey&) const = default;
};
struct FontKeyHash {
  std::size_t operator()(const FontKey& k) const {
    return std::hash<double>()(k.size) * 31 + std::size_t(k.weight);
  }
};

struct WidthKey {
  std::string text;
  double size;
  int weight;
  bool operator==(const WidthKey&) const = default;
};
struct WidthKeyHash {
  std::size_t operator()(const WidthKey& k) const {
    return std::hash<std::string>()(k.text) ^ (std::hash<double>()(k.size) * 31 + std::size_t(k.weight));
  }
};

// The symbols the screens name, and what draws each.
constexpr std::array<SymbolGlyph, 6> kSymbols{{
    {"chevron.right", "chevron_right", 0xE5CC},
    {"chevron.left", "chevron_left", 0xE5CB},
    {"checkmark.circle.fill", "check_circle", 0xE86C},
    {"person.crop.circle", "account_circle", 0xE853},
    {"camera.fill", "photo_camera", 0xE412},
    {"bolt.fill", "flash_on", 0xE3E7},
}};

}  // namespace

std::mutex& pangoLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

PangoContext* sharedContext() {
  static PangoContext* context = [] {
    // Never freed: the plugin is never unloaded.
    PangoFontMap* map = pango_cairo_font_map_new();
    PangoContext* ctx = pango_font_map_create_context(map);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(ctx, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(ctx, FALSE);
    return ctx;
  }();
  return context;
}

const PangoFontDescription* fontDescription(const UIFont& font) {
  static auto* cache = new std::unordered_map<FontKey, PangoFontDescription*, FontKeyHash>;
  double size = font.pointSize();
  if (!std::isfinite(size) || size < 0.5) size = 0.5;
  if (size > 2000) size = 2000;
  const FontKey key{size, pangoWeight(font.weight())};
  auto it = cache->find(key);
  if (it != cache->end()) return it->second;
  if (cache->size() > 256) {
    for (auto& [k, d] : *cache) pango_font_description_free(d);
    cache->clear();
  }
  PangoFontDescription* d = pango_font_description_new();
  pango_font_description_set_family(d, "Inter");
  pango_font_description_set_weight(d, static_cast<PangoWeight>(key.weight));
  pango_font_description_set_absolute_size(d, size * PANGO_SCALE);
  cache->emplace(key, d);
  return d;
}

void setLayoutText(PangoLayout* layout, const std::string& text) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    return;
  }
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  pango_layout_set_text(layout, valid, -1);
  g_free(valid);
}

double shapedWidthLocked(const std::string& text, const UIFont& font) {
  PangoLayout* layout = pango_layout_new(sharedContext());
  pango_layout_set_font_description(layout, fontDescription(font));
  pango_layout_set_single_paragraph_mode(layout, TRUE);
  setLayoutText(layout, text);
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  g_object_unref(layout);
  return static_cast<double>(logical.width) / PANGO_SCALE;
}

double shapedWidth(const std::string& text, const UIFont& font) {
  std::lock_guard<std::mutex> guard(pangoLock());
  static auto* cache = new std::unordered_map<WidthKey, double, WidthKeyHash>;
  const bool cacheable = text.size() <= 256;
  WidthKey key;
  if (cacheable) {
    key = {text, font.pointSize(), static_cast<int>(font.weight())};
    auto it = cache->find(key);
    if (it != cache->end()) return it->second;
  }
  const double width = shapedWidthLocked(text, font);
  if (cacheable) {
    if (cache->size() > 8192) cache->clear();
    cache->emplace(std::move(key), width);
  }
  return width;
}

const SymbolGlyph* symbolGlyph(const std::string& symbolName) {
  for (const auto& s : kSymbols) {
    if (symbolName == s.symbolName) return &s;
  }
  return nullptr;
}

}  // namespace uikit::render

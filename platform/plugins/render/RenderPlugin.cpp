// The rendering plugin: draws view trees with Cairo and Pango. The platform
// library loads it on the first snapshot or window (UIRendering.cpp) and
// reaches it only through the table that morvik_render_plugin() answers.
//
// A render walks the layer tree once to note what every layer shows (a
// fingerprint of its properties, its place in device pixels and the clip
// and opacity it inherits), compares that with the previous render, and
// redraws only the union of the regions whose fingerprint changed, skipping
// subtrees outside them.
#include "uikit/RenderPlugin.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "morvik/platform/quartz/CAGradientLayer.h"
#include "morvik/platform/quartz/CAShapeLayer.h"
#include "morvik/platform/uikit/UIBarButtonItem.h"
#include "morvik/platform/uikit/UIButton.h"
#include "morvik/platform/uikit/UIImageView.h"
#include "morvik/platform/uikit/UILabel.h"
#include "morvik/platform/uikit/UINavigationController.h"
#include "morvik/platform/uikit/UITextView.h"
#include "plugins/render/TextShaping.h"
#include "plugins/render/VideoFrame.h"

namespace uikit::render {

namespace {

using quartz::CALayer;
using quartz::CGColor;
using quartz::CGFloat;
using quartz::CGPoint;
using quartz::CGRect;

bool finite(double v) { return std::isfinite(v); }

// --- Fingerprints ---------------------------------------------------------

struct Hasher {
  std::uint64_t h = 1469598103934665603ull;
  void bytes(const void* p, std::size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
  }
  void add(double v) { bytes(&v, sizeof v); }
  void add(std::uint64_t v) { bytes(&v, sizeof v); }
  void add(const void* p) { add(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p))); }
  void add(const std::string& s) {
    // Long texts: their length and a sample are enough to see a change
    // between frames, without hashing megabytes every frame.
    add(static_cast<std::uint64_t>(s.size()));
    if (s.size() <= 4096) {
      bytes(s.data(), s.size());
    } else {
      bytes(s.data(), 2048);
      bytes(s.data() + s.size() - 2048, 2048);
    }
  }
  void add(const CGColor& c) {
    add(c.red);
    add(c.green);
    add(c.blue);
    add(c.alpha);
  }
  void add(const std::optional<CGColor>& c) {
    add(static_cast<std::uint64_t>(c.has_value()));
    if (c) add(*c);
  }
};

// --- Geometry --------------------------------------------------------------

struct Box {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool empty() const { return !(x1 > x0 && y1 > y0); }
  Box united(const Box& o) const {
    if (empty()) return o;
    if (o.empty()) return *this;
    return {std::min(x0, o.x0), std::min(y0, o.y0), std::max(x1, o.x1), std::max(y1, o.y1)};
  }
  Box intersected(const Box& o) const {
    Box r{std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
    return r.empty() ? Box{} : r;
  }
  bool intersects(const Box& o) const { return !intersected(o).empty(); }
  Box outset(double d) const { return empty() ? *this : Box{x0 - d, y0 - d, x1 + d, y1 + d}; }
  Box rounded() const {
    return empty() ? *this : Box{std::floor(x0), std::floor(y0), std::ceil(x1), std::ceil(y1)};
  }
};

Box deviceBox(const cairo_matrix_t& m, double x, double y, double w, double h) {
  double xs[4] = {x, x + w, x, x + w}, ys[4] = {y, y, y + h, y + h};
  Box b{1e300, 1e300, -1e300, -1e300};
  for (int i = 0; i < 4; ++i) {
    double dx = xs[i], dy = ys[i];
    cairo_matrix_transform_point(&m, &dx, &dy);
    b.x0 = std::min(b.x0, dx);
    b.y0 = std::min(b.y0, dy);
    b.x1 = std::max(b.x1, dx);
    b.y1 = std::max(b.y1, dy);
  }
  if (!finite(b.x0) || !finite(b.y0) || !finite(b.x1) || !finite(b.y1)) return {};
  return b;
}

// What a layer shows at present (its presentation values where animated).
struct LayerGeometry {
  CGRect bounds;
  cairo_matrix_t local;  // layer coordinates -> superlayer coordinates
  float opacity = 1;
  double cornerRadius = 0;
  double borderWidth = 0;
  float shadowOpacity = 0;
  bool valid = false;
};

template <class T>
std::optional<T> presented(const CALayer& layer, const char* key) {
  auto v = layer.presentationValue(key);
  if (auto* p = std::get_if<T>(&v)) return *p;
  return std::nullopt;
}

LayerGeometry geometryOf(const CALayer& layer) {
  LayerGeometry g;
  g.bounds = presented<CGRect>(layer, "bounds").value_or(layer.bounds());
  CGPoint position = presented<CGPoint>(layer, "position").value_or(layer.position());
  // An animation of one coordinate moves only that one.
  if (auto x = presented<double>(layer, "position.x"); x && *x != layer.position().x) position.x = *x;
  if (auto y = presented<double>(layer, "position.y"); y && *y != layer.position().y) position.y = *y;
  const CGPoint anchor = layer.anchorPoint();
  auto t = layer.affineTransform();
  // A running rotation animation turns the layer about its anchor on top of its model transform.
  if (auto rotation = presented<double>(layer, "transform.rotation.z")) {
    const double delta = *rotation - std::atan2(t.b, t.a);
    if (finite(delta) && std::fabs(delta) > 1e-12)
      t = quartz::CGAffineTransform::makeRotation(delta).concatenating(t);
  }
  g.opacity = layer.presentationOpacity();
  g.cornerRadius = presented<double>(layer, "cornerRadius").value_or(layer.cornerRadius());
  g.borderWidth = presented<double>(layer, "borderWidth").value_or(layer.borderWidth());
  g.shadowOpacity =
      static_cast<float>(presented<double>(layer, "shadowOpacity").value_or(layer.shadowOpacity()));
  const double w = g.bounds.size.width, h = g.bounds.size.height;
  const double values[] = {g.bounds.origin.x,
                           g.bounds.origin.y,
                           w,
                           h,
                           position.x,
                           position.y,
                           anchor.x,
                           anchor.y,
                           t.a,
                           t.b,
                           t.c,
                           t.d,
                           t.tx,
                           t.ty,
                           g.opacity,
                           g.cornerRadius,
                           g.borderWidth};
  for (double v : values) {
    if (!finite(v)) return g;  // drawn as nothing, as a degenerate transform is
  }
  if (w < 0 || h < 0 || std::fabs(w) > 1e7 || std::fabs(h) > 1e7) return g;
  cairo_matrix_t translate, transform, offset;
  cairo_matrix_init_translate(&translate, position.x, position.y);
  cairo_matrix_init(&transform, t.a, t.b, t.c, t.d, t.tx, t.ty);
  cairo_matrix_init_translate(&offset, -(g.bounds.origin.x + anchor.x * w),
                              -(g.bounds.origin.y + anchor.y * h));
  // local = offset, then transform, then translate (Cairo multiplies a x b = a then b).
  cairo_matrix_multiply(&g.local, &offset, &transform);
  cairo_matrix_multiply(&g.local, &g.local, &translate);
  // A transform that cannot be inverted shows nothing.
  cairo_matrix_t check = g.local;
  g.valid = cairo_matrix_invert(&check) == CAIRO_STATUS_SUCCESS;
  return g;
}

double clampedRadius(double r, double w, double h) {
  if (!(r > 0)) return 0;
  return std::min({r, w / 2, h / 2});
}

void roundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  r = clampedRadius(r, w, h);
  if (r <= 0) {
    cairo_rectangle(cr, x, y, w, h);
    return;
  }
  // The platform's continuous corners are close to circular arcs at these sizes.
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

void setColor(cairo_t* cr, const CGColor& c, double alpha = 1) {
  cairo_set_source_rgba(cr, std::clamp(c.red, 0.0, 1.0), std::clamp(c.green, 0.0, 1.0),
                        std::clamp(c.blue, 0.0, 1.0), std::clamp(c.alpha * alpha, 0.0, 1.0));
}

void appendPath(cairo_t* cr, const quartz::CGPath& path) {
  using T = quartz::CGPathElementType;
  bool open = false;
  for (const auto& e : path.elements()) {
    bool ok = true;
    for (const auto& p : e.points) ok = ok && finite(p.x) && finite(p.y);
    if (!ok) continue;
    switch (e.type) {
      case T::moveToPoint:
        if (!e.points.empty()) cairo_move_to(cr, e.points[0].x, e.points[0].y), open = true;
        break;
      case T::addLineToPoint:
        if (!e.points.empty()) cairo_line_to(cr, e.points[0].x, e.points[0].y);
        break;
      case T::addQuadCurveToPoint:
        if (e.points.size() >= 2) {
          double x0, y0;
          if (!open || !cairo_has_current_point(cr)) break;
          cairo_get_current_point(cr, &x0, &y0);
          const auto& c = e.points[0];
          const auto& p = e.points[1];
          cairo_curve_to(cr, x0 + 2.0 / 3 * (c.x - x0), y0 + 2.0 / 3 * (c.y - y0),
                         p.x + 2.0 / 3 * (c.x - p.x), p.y + 2.0 / 3 * (c.y - p.y), p.x, p.y);
        }
        break;
      case T::addCurveToPoint:
        if (e.points.size() >= 3)
          cairo_curve_to(cr, e.points[0].x, e.points[0].y, e.points[1].x, e.points[1].y, e.points[2].x,
                         e.points[2].y);
        break;
      case T::closeSubpath:
        cairo_close_path(cr);
        break;
    }
  }
}

// --- Images ----------------------------------------------------------------

// Cairo surfaces for bitmaps, converted once and kept while drawn.
class ImageCache {
 public:
  ~ImageCache() {
    for (auto& [k, e] : entries_) cairo_surface_destroy(e.surface);
  }
  cairo_surface_t* surface(const quartz::CGImageRef& image) {
    if (!image || image->width() == 0 || image->height() == 0 || image->width() > 16384 ||
        image->height() > 16384 || !image->data())
      return nullptr;
    auto it = entries_.find(image.get());
    if (it != entries_.end() && it->second.image == image) {
      it->second.used = true;
      return it->second.surface;
    }
    cairo_surface_t* s = convert(*image);
    if (!s) return nullptr;
    if (it != entries_.end()) {
      cairo_surface_destroy(it->second.surface);
      entries_.erase(it);
    }
    entries_[image.get()] = {image, s, true};
    return s;
  }
  // Drops what the last render did not draw.
  void sweep() {
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (!it->second.used) {
        cairo_surface_destroy(it->second.surface);
        it = entries_.erase(it);
      } else {
        it->second.used = false;
        ++it;
      }
    }
  }

 private:
  static cairo_surface_t* convert(const quartz::CGImage& image) {
    const int w = static_cast<int>(image.width()), h = static_cast<int>(image.height());
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(s);
      return nullptr;
    }
    cairo_surface_flush(s);
    unsigned char* dst = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* src = image.data() + static_cast<std::size_t>(y) * image.bytesPerRow();
      auto* out = reinterpret_cast<std::uint32_t*>(dst + static_cast<std::size_t>(y) * stride);
      for (int x = 0; x < w; ++x) {
        std::uint32_t a, r, g, b;
        switch (image.pixelFormat()) {
          case quartz::CGImagePixelFormat::gray8:
            a = 255, r = g = b = src[x];
            break;
          case quartz::CGImagePixelFormat::bgra8:  // premultiplied already
            b = src[4 * x], g = src[4 * x + 1], r = src[4 * x + 2], a = src[4 * x + 3];
            r = std::min(r, a), g = std::min(g, a), b = std::min(b, a);
            break;
          default:  // rgba8, straight alpha
            a = src[4 * x + 3];
            r = (src[4 * x] * a + 127) / 255, g = (src[4 * x + 1] * a + 127) / 255,
            b = (src[4 * x + 2] * a + 127) / 255;
            break;
        }
        out[x] = (a << 24) | (r << 16) | (g << 8) | b;
      }
    }
    cairo_surface_mark_dirty(s);
    return s;
  }
  struct Entry {
    quartz::CGImageRef image;
    cairo_surface_t* surface = nullptr;
    bool used = false;
  };
  std::unordered_map<const quartz::CGImage*, Entry> entries_;
};

// Maps the unit square of what is shown to the unit square of the stored
// pixels for each orientation (s, t from u, v).
cairo_matrix_t orientationMatrix(UIImage::Orientation o) {
  cairo_matrix_t m;
  using O = UIImage::Orientation;
  switch (o) {
    case O::up:
      cairo_matrix_init(&m, 1, 0, 0, 1, 0, 0);
      break;
    case O::down:
      cairo_matrix_init(&m, -1, 0, 0, -1, 1, 1);
      break;
    case O::right:
      cairo_matrix_init(&m, 0, -1, 1, 0, 0, 1);
      break;  // s = v, t = 1 - u
    case O::left:
      cairo_matrix_init(&m, 0, 1, -1, 0, 1, 0);
      break;  // s = 1 - v, t = u
    case O::upMirrored:
      cairo_matrix_init(&m, -1, 0, 0, 1, 1, 0);
      break;
    case O::downMirrored:
      cairo_matrix_init(&m, 1, 0, 0, -1, 0, 1);
      break;
    case O::leftMirrored:
      cairo_matrix_init(&m, 0, 1, 1, 0, 0, 0);
      break;  // s = v, t = u
    case O::rightMirrored:
      cairo_matrix_init(&m, 0, -1, -1, 0, 1, 1);
      break;  // s = 1 - v, t = 1 - u
  }
  return m;
}

// Where content of `size` goes in `bounds` under a content mode.
CGRect placeContent(UIViewContentMode mode, quartz::CGSize size, const CGRect& bounds) {
  const double bw = bounds.size.width, bh = bounds.size.height, w = size.width, h = size.height;
  const double bx = bounds.origin.x, by = bounds.origin.y;
  switch (mode) {
    case UIViewContentMode::scaleToFill:
    case UIViewContentMode::redraw:
      return bounds;
    case UIViewContentMode::scaleAspectFit:
    case UIViewContentMode::scaleAspectFill: {
      const double sx = bw / w, sy = bh / h;
      const double s = mode == UIViewContentMode::scaleAspectFit ? std::min(sx, sy) : std::max(sx, sy);
      return {{bx + (bw - w * s) / 2, by + (bh - h * s) / 2}, {w * s, h * s}};
    }
    default:
      break;
  }
  double x = bx + (bw - w) / 2, y = by + (bh - h) / 2;
  switch (mode) {
    case UIViewContentMode::top:
      y = by;
      break;
    case UIViewContentMode::bottom:
      y = by + bh - h;
      break;
    case UIViewContentMode::left:
      x = bx;
      break;
    case UIViewContentMode::right:
      x = bx + bw - w;
      break;
    case UIViewContentMode::topLeft:
      x = bx, y = by;
      break;
    case UIViewContentMode::topRight:
      x = bx + bw - w, y = by;
      break;
    case UIViewContentMode::bottomLeft:
      x = bx, y = by + bh - h;
      break;
    case UIViewContentMode::bottomRight:
      x = bx + bw - w, y = by + bh - h;
      break;
    default:
      break;
  }
  return {{x, y}, {w, h}};
}

// --- Text ------------------------------------------------------------------

double alignedX(NSTextAlignment alignment, double lineWidth, double boxWidth) {
  switch (alignment) {
    case NSTextAlignment::center:
      return (boxWidth - lineWidth) / 2;
    case NSTextAlignment::right:
      return boxWidth - lineWidth;
    default:
      return 0;
  }
}

// One line in a box `lineHeight` tall whose top is at y (Pango's logical
// line centred in it, as the platform centres a line in its fragment).
void drawLine(cairo_t* cr, const std::string& text, const UIFont& font, double x, double y, double lineHeight,
              const CGColor& color, PangoAttrList* attributes = nullptr) {
  std::lock_guard<std::mutex> guard(pangoLock());
  PangoContext* ctx = sharedContext();
  pango_cairo_update_context(cr, ctx);
  PangoLayout* layout = pango_layout_new(ctx);
  pango_layout_set_font_description(layout, fontDescription(font));
  pango_layout_set_single_paragraph_mode(layout, TRUE);
  setLayoutText(layout, text);
  if (attributes) pango_layout_set_attributes(layout, attributes);
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  const double h = static_cast<double>(logical.height) / PANGO_SCALE;
  setColor(cr, color);
  cairo_move_to(cr, x, y + (lineHeight - h) / 2);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
}

// Colours and underlines of an attributed string's runs over one line that
// starts at `offset` bytes of the whole string.
PangoAttrList* lineAttributes(const foundation::NSAttributedString& text, std::size_t offset,
                              std::size_t length, const CGColor& linkColor) {
  PangoAttrList* list = nullptr;
  for (const auto& run : text.runs()) {
    const std::size_t start = run.range.location, end = run.range.location + run.range.length;
    if (end <= offset || start >= offset + length) continue;
    const auto s = static_cast<guint>(std::max(start, offset) - offset);
    const auto e = static_cast<guint>(std::min(end, offset + length) - offset);
    auto add = [&](PangoAttribute* a) {
      if (!list) list = pango_attr_list_new();
      a->start_index = s;
      a->end_index = e;
      pango_attr_list_insert(list, a);
    };
    std::optional<CGColor> color;
    if (run.attributes.foregroundColor) {
      const auto& c = *run.attributes.foregroundColor;
      color = CGColor{c.red, c.green, c.blue, c.alpha};
    }
    if (run.attributes.link && !color) color = linkColor;
    if (color) {
      auto to16 = [](double v) { return static_cast<guint16>(std::clamp(v, 0.0, 1.0) * 65535); };
      add(pango_attr_foreground_new(to16(color->red), to16(color->green), to16(color->blue)));
    }
    if (run.attributes.underline || run.attributes.link)
      add(pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (run.attributes.strikethrough) add(pango_attr_strikethrough_new(TRUE));
    if (run.attributes.bold) add(pango_attr_weight_new(PANGO_WEIGHT_BOLD));
  }
  return list;
}

// A pressed button shows its title and image dimmed, as the platform does.
double pressedAlpha(const UIView& content) {
  auto* button = dynamic_cast<const UIButton*>(content.superview().get());
  if (!button || !button->isHighlighted()) return 1;
  return button->buttonType() == UIButton::ButtonType::system ? 0.3 : 0.6;
}

void drawLabel(cairo_t* cr, const UILabel& label, const CGRect& bounds) {
  const auto lines = label.renderedLines();
  if (lines.empty()) return;
  const UIFont font = label.font().withSize(label.effectivePointSize());
  const double lh = font.lineHeight();
  const double block = lh * static_cast<double>(lines.size());
  double y = bounds.origin.y + std::max(0.0, (bounds.size.height - block) / 2);
  CGColor color = label.textColor().cgColor();
  if (!label.isEnabled()) color = color.copy(color.alpha * 0.45);
  color = color.copy(color.alpha * pressedAlpha(label));
  const auto& attributed = label.attributedText();
  const std::string whole = attributed ? attributed->string() : std::string();
  std::size_t searchFrom = 0;
  for (const auto& line : lines) {
    if (y >= bounds.origin.y + bounds.size.height + lh) break;
    const double w = shapedWidth(line, font);
    const double x = bounds.origin.x + alignedX(label.textAlignment(), w, bounds.size.width);
    PangoAttrList* attrs = nullptr;
    if (attributed && !attributed->runs().empty()) {
      // Runs apply where the line sits in the whole string.
      const auto at = whole.find(line, searchFrom);
      if (at != std::string::npos) {
        attrs = lineAttributes(*attributed, at, line.size(), label.tintColor().cgColor());
        searchFrom = at + line.size();
      }
    }
    drawLine(cr, line, font, x, y, lh, color, attrs);
    if (attrs) pango_attr_list_unref(attrs);
    y += lh;
  }
}

void drawCaret(cairo_t* cr, const UIView& view, double x, double y, double height) {
  setColor(cr, view.tintColor().cgColor());
  cairo_rectangle(cr, x, y, 2, height);
  cairo_fill(cr);
}

void drawTextField(cairo_t* cr, const UITextField& field, const CGRect& bounds) {
  const auto& text = field.text();
  const bool empty = !text || text->empty();
  const UIFont& font = field.font();
  const double lh = font.lineHeight();
  const double y = bounds.origin.y + (bounds.size.height - lh) / 2;
  const std::string shown = empty ? field.placeholder().value_or("") : *text;
  const double w = shown.empty() ? 0 : shapedWidth(shown, font);
  double x = bounds.origin.x + alignedX(field.textAlignment(), w, bounds.size.width);
  // Text longer than the field scrolls so that its end (and the caret) shows.
  if (!empty && field.isFirstResponder() && w + 2 > bounds.size.width)
    x = bounds.origin.x + bounds.size.width - w - 2;
  cairo_save(cr);
  cairo_rectangle(cr, bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height);
  cairo_clip(cr);
  if (!shown.empty()) {
    const CGColor color = empty ? UIColor::placeholderText().cgColor() : field.textColor().cgColor();
    const std::string line = empty ? layoutText(shown, font, 1, bounds.size.width).lines.front() : shown;
    drawLine(cr, line, font, x, y, lh, color);
  }
  if (field.isFirstResponder()) drawCaret(cr, field, empty ? x : x + w, y + lh * 0.1, lh * 0.8);
  cairo_restore(cr);
}

void drawTextView(cairo_t* cr, const UITextView& view, const CGRect& bounds) {
  const UIFont font = view.font().value_or(UIFont::systemFont(12));
  const auto inset = view.textContainerInset();
  constexpr double kPadding = 5;  // the text container's line fragment padding
  const double width = bounds.size.width - inset.left - inset.right - 2 * kPadding;
  if (!(width > 0)) return;
  const auto layout = layoutText(view.text(), font, 0, width, NSLineBreakMode::byWordWrapping);
  const double lh = font.lineHeight();
  // Laid out from the content's top: bounds.origin is the scroll offset.
  double y = inset.top;
  const double bottom = bounds.origin.y + bounds.size.height;
  for (const auto& line : layout.lines) {
    if (y > bottom) break;
    if (y + lh >= bounds.origin.y) {
      const double w = shapedWidth(line, font);
      drawLine(cr, line, font, inset.left + kPadding + alignedX(view.textAlignment(), w, width), y, lh,
               view.textColor().cgColor());
    }
    y += lh;
  }
  if (view.isFirstResponder() && view.isEditable()) {
    const std::string last = layout.lines.empty() ? std::string() : layout.lines.back();
    const double caretY = layout.lines.empty() ? inset.top : y - lh;
    drawCaret(cr, view, inset.left + kPadding + shapedWidth(last, font), caretY + lh * 0.1, lh * 0.8);
  }
}

// A symbol image: its Material icon filling the image's square.
bool drawSymbol(cairo_t* cr, const UIImage& image, const CGRect& rect, const CGColor& color) {
  const SymbolGlyph* glyph = symbolGlyph(image.symbolName());
  if (!glyph || glyph->codePoint == 0) return false;
  char utf8[5] = {};
  const char32_t cp = glyph->codePoint;
  utf8[0] = static_cast<char>(0xE0 | (cp >> 12));
  utf8[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  utf8[2] = static_cast<char>(0x80 | (cp & 0x3F));
  const double size = std::min(rect.size.width, rect.size.height);
  if (!(size > 0)) return true;
  std::lock_guard<std::mutex> guard(pangoLock());
  PangoContext* ctx = sharedContext();
  pango_cairo_update_context(cr, ctx);
  PangoLayout* layout = pango_layout_new(ctx);
  PangoFontDescription* d = pango_font_description_new();
  pango_font_description_set_family(d, "Material Icons");
  pango_font_description_set_absolute_size(d, size * PANGO_SCALE);
  pango_layout_set_font_description(layout, d);
  pango_font_description_free(d);
  pango_layout_set_text(layout, utf8, 3);
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  const double w = static_cast<double>(logical.width) / PANGO_SCALE,
               h = static_cast<double>(logical.height) / PANGO_SCALE;
  setColor(cr, color);
  cairo_move_to(cr, rect.origin.x + (rect.size.width - w) / 2, rect.origin.y + (rect.size.height - h) / 2);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
  return true;
}

// --- Navigation bar --------------------------------------------------------

// The navigation controller whose own view this is, when its bar shows.
UINavigationController* shownNavigation(const UIView& view) {
  auto owner = view.owningViewController();
  auto* nav = dynamic_cast<UINavigationController*>(owner.get());
  if (!nav || nav->isNavigationBarHidden() || !nav->topViewController()) return nullptr;
  return nav;
}

std::string titleOf(const UIViewController& controller) {
  if (controller.navigationItem().title) return *controller.navigationItem().title;
  return controller.title().value_or("");
}

std::string barItemTitle(const UIBarButtonItem& item) {
  if (item.title) return *item.title;
  if (!item.systemItem()) return {};
  using S = UIBarButtonItem::SystemItem;
  switch (*item.systemItem()) {
    case S::done:
      return "Done";
    case S::cancel:
      return "Cancel";
    case S::edit:
      return "Edit";
    case S::save:
      return "Save";
    default:
      return {};
  }
}

void hashNavigation(Hasher& h, UINavigationController& nav) {
  const auto& top = *nav.topViewController();
  h.add(&top), h.add(titleOf(top)), h.add(static_cast<std::uint64_t>(nav.viewControllers().size()));
  for (const auto* item :
       {top.navigationItem().leftBarButtonItem.get(), top.navigationItem().rightBarButtonItem.get()}) {
    h.add(item);
    if (item) h.add(barItemTitle(*item)), h.add(static_cast<std::uint64_t>(item->isEnabled));
  }
  h.add(static_cast<std::uint64_t>(top.navigationItem().hidesBackButton));
  h.add(static_cast<std::uint64_t>(nav.highlightedBarButton()));
  h.add(nav.view()->safeAreaInsets().top);
}

// The bar as the platform shows it at the top of a scrolled-up screen: no
// background, the title in the middle, the items in the tint colour.
void drawNavigationBar(cairo_t* cr, UINavigationController& nav, const CGRect& bounds) {
  const auto& top = *nav.topViewController();
  const double y = bounds.origin.y + nav.view()->safeAreaInsets().top;
  constexpr double kHeight = UINavigationController::kNavigationBarHeight;
  const double width = bounds.size.width;
  const CGColor tint = nav.view()->tintColor().cgColor();
  const UIFont itemFont = UIFont::systemFont(17);
  const std::string title = titleOf(top);
  if (!title.empty()) {
    const UIFont font = UIFont::systemFont(17, UIFont::Weight::semibold);
    const auto line = layoutText(title, font, 1, width * 0.6).lines.front();
    const double w = shapedWidth(line, font);
    drawLine(cr, line, font, bounds.origin.x + (width - w) / 2, y + (kHeight - font.lineHeight()) / 2,
             font.lineHeight(), UIColor::label().cgColor());
  }
  using BarButton = UINavigationController::BarButton;
  // A pressed button is drawn dimmed as a whole (disc and cross alike).
  auto pressed = [&](BarButton button, const std::function<void()>& draw) {
    if (nav.highlightedBarButton() != button) return draw();
    cairo_push_group(cr);
    draw();
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, 0.3);
  };
  auto drawItem = [&](const UIBarButtonItem& item, bool leading) {
    const CGColor color = item.isEnabled ? (item.tintColor ? item.tintColor->cgColor() : tint)
                                         : UIColor::tertiaryLabel().cgColor();
    if (item.systemItem() == UIBarButtonItem::SystemItem::close) {
      // A grey disc with a cross, 30 points across.
      const double cx = leading ? bounds.origin.x + 16 + 15 : bounds.origin.x + width - 16 - 15;
      const double cy = y + kHeight / 2;
      cairo_arc(cr, cx, cy, 15, 0, 2 * M_PI);
      setColor(cr, UIColor::systemGray5().cgColor());
      cairo_fill(cr);
      cairo_set_line_width(cr, 2.2);
      cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
      cairo_move_to(cr, cx - 5, cy - 5), cairo_line_to(cr, cx + 5, cy + 5);
      cairo_move_to(cr, cx + 5, cy - 5), cairo_line_to(cr, cx - 5, cy + 5);
      setColor(cr, UIColor::secondaryLabel().cgColor());
      cairo_stroke(cr);
      return;
    }
    const std::string text = barItemTitle(item);
    if (text.empty()) return;
    const UIFont font = item.style == UIBarButtonItem::Style::done
                            ? UIFont::systemFont(17, UIFont::Weight::semibold)
                            : itemFont;
    const double w = shapedWidth(text, font);
    const double x = leading ? bounds.origin.x + 16 : bounds.origin.x + width - 16 - w;
    drawLine(cr, text, font, x, y + (kHeight - font.lineHeight()) / 2, font.lineHeight(), color);
  };
  const auto& items = top.navigationItem();
  if (items.leftBarButtonItem) {
    pressed(BarButton::leading, [&] { drawItem(*items.leftBarButtonItem, true); });
  } else if (nav.viewControllers().size() > 1 && !items.hidesBackButton) {
    pressed(BarButton::leading, [&] {
      // The back button: a chevron and the word "Back".
      const double cy = y + kHeight / 2;
      cairo_set_line_width(cr, 3);
      cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
      cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
      cairo_move_to(cr, bounds.origin.x + 18, cy - 10);
      cairo_line_to(cr, bounds.origin.x + 10, cy);
      cairo_line_to(cr, bounds.origin.x + 18, cy + 10);
      setColor(cr, tint);
      cairo_stroke(cr);
      drawLine(cr, "Back", itemFont, bounds.origin.x + 26, y + (kHeight - itemFont.lineHeight()) / 2,
               itemFont.lineHeight(), tint);
    });
  }
  if (items.rightBarButtonItem)
    pressed(BarButton::trailing, [&] { drawItem(*items.rightBarButtonItem, false); });
}

// --- The renderer ----------------------------------------------------------

struct Item {
  std::uint64_t fingerprint = 0;
  Box box;  // device pixels, clipped
};

// Shadows are blurred once per shape and size, then reused.
struct ShadowKey {
  int w, h;
  double radius, blur;
  bool operator==(const ShadowKey&) const = default;
};
struct ShadowKeyHash {
  std::size_t operator()(const ShadowKey& k) const {
    return std::hash<int>()(k.w) * 73856093u ^ std::hash<int>()(k.h) * 19349663u ^
           std::hash<double>()(k.radius) ^ std::hash<double>()(k.blur) * 7;
  }
};

void boxBlur(std::vector<std::uint8_t>& a, int w, int h, int stride, int r) {
  if (r <= 0) return;
  std::vector<std::uint8_t> line(static_cast<std::size_t>(std::max(w, h)));
  const int d = 2 * r + 1;
  for (int pass = 0; pass < 3; ++pass) {
    for (int y = 0; y < h; ++y) {
      std::uint8_t* row = a.data() + static_cast<std::size_t>(y) * stride;
      int sum = 0;
      for (int i = -r; i <= r; ++i) sum += (i >= 0 && i < w) ? row[i] : 0;
      for (int x = 0; x < w; ++x) {
        line[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(sum / d);
        const int out = x - r, in = x + r + 1;
        sum += (in < w ? row[in] : 0) - (out >= 0 ? row[out] : 0);
      }
      std::memcpy(row, line.data(), static_cast<std::size_t>(w));
    }
    for (int x = 0; x < w; ++x) {
      int sum = 0;
      for (int i = -r; i <= r; ++i)
        sum += (i >= 0 && i < h) ? a[static_cast<std::size_t>(i) * stride + x] : 0;
      for (int y = 0; y < h; ++y) {
        line[static_cast<std::size_t>(y)] = static_cast<std::uint8_t>(sum / d);
        const int out = y - r, in = y + r + 1;
        sum += (in < h ? a[static_cast<std::size_t>(in) * stride + x] : 0) -
               (out >= 0 ? a[static_cast<std::size_t>(out) * stride + x] : 0);
      }
      for (int y = 0; y < h; ++y)
        a[static_cast<std::size_t>(y) * stride + x] = line[static_cast<std::size_t>(y)];
    }
  }
}

struct ScaledKey {
  const quartz::CGImage* image;
  int orientation, w, h;
  bool operator==(const ScaledKey&) const = default;
};
struct ScaledKeyHash {
  std::size_t operator()(const ScaledKey& k) const {
    return std::hash<const void*>()(k.image) ^ (std::size_t(k.w) * 73856093u) ^
           (std::size_t(k.h) * 19349663u) ^ std::size_t(k.orientation);
  }
};

class Renderer {
 public:
  ~Renderer() {
    for (auto& [k, s] : shadows_) cairo_surface_destroy(s.surface);
    for (auto& [k, s] : scaled_) cairo_surface_destroy(s.surface);
  }
  void invalidate() { items_.clear(), full_ = true; }
  // Frames pushed for a layer (ViewRenderer::setVideoFrame); each is
  // converted once, in the render that follows.
  void setVideoFrame(const CALayer& layer, const NV12Frame* frame) {
    if (!frame) {
      pushed_.erase(&layer);
      return;
    }
    auto& pushed = pushed_[&layer];
    pushed.layer = const_cast<CALayer&>(layer).weak_from_this();
    pushed.frame = *frame;
    pushed.fresh = true;
    ++pushed.serial;
  }
  std::vector<CGRect> render(UIView& view, double scale, const RenderBuffer& into);

 private:
  struct Shadow {
    cairo_surface_t* surface = nullptr;
    std::vector<std::uint8_t> pixels;
    bool used = false;
  };

  void indexViews(UIView& view) {
    views_[view.layer().get()] = &view;
    for (const auto& sub : view.subviews()) indexViews(*sub);
  }
  UIView* viewOf(const CALayer* layer) const {
    auto it = views_.find(layer);
    return it == views_.end() ? nullptr : it->second;
  }
  // Notes every layer's fingerprint and place; answers the subtree's box.
  Box collect(const CALayer& layer, const cairo_matrix_t& parent, const Box& clip, double alpha,
              std::uint64_t index, std::unordered_map<const CALayer*, Item>& out);
  std::uint64_t contentFingerprint(const CALayer& layer, const LayerGeometry& g) const;
  void draw(cairo_t* cr, const CALayer& layer, const Box& damage);
  void drawShadow(cairo_t* cr, const CALayer& layer, const LayerGeometry& g, bool hasShape);
  void drawContent(cairo_t* cr, const CALayer& layer, const LayerGeometry& g);
  void drawImage(cairo_t* cr, const UIImage& image, const CGRect& rect, const std::optional<CGColor>& tint);
  // The frame `layer` shows, and whether its planes may be read now.
  const NV12Frame* layerVideo(const CALayer& layer, std::uint64_t& generation,
                              bool* readable = nullptr) const {
    if (auto it = pushed_.find(&layer); it != pushed_.end() && it->second.layer.lock().get() == &layer) {
      generation = it->second.serial;
      if (readable) *readable = it->second.fresh;
      return &it->second.frame;
    }
    if (readable) *readable = true;
    return nullptr;
  }
  void drawVideo(cairo_t* cr, const CALayer& layer, const CGRect& bounds);

  // One converted frame per video layer, kept while the frame lasts: a
  // redraw of part of the layer does not convert the frame again.
  struct VideoPixels {
    std::uint64_t generation = 0;
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
    bool used = false;
  };
  std::unordered_map<const CALayer*, VideoPixels> videoPixels_;

  std::unordered_map<const CALayer*, UIView*> views_;
  std::unordered_map<const CALayer*, Item> items_;
  std::unordered_map<const CALayer*, Box> subtreeBoxes_;
  std::unordered_map<ShadowKey, Shadow, ShadowKeyHash> shadows_;
  struct Scaled {
    quartz::CGImageRef image;  // keeps the key's address from being reused
    cairo_surface_t* surface = nullptr;
    bool used = false;
  };
  std::unordered_map<ScaledKey, Scaled, ScaledKeyHash> scaled_;
  // Frames pushed for layers (setVideoFrame); `fresh` until converted, after
  // which the planes may be gone and only the converted pixels are used.
  struct Pushed {
    std::weak_ptr<CALayer> layer;
    NV12Frame frame;
    std::uint64_t serial = 0;
    bool fresh = false;
  };
  std::unordered_map<const CALayer*, Pushed> pushed_;
  ImageCache images_;
  const UIView* lastView_ = nullptr;
  double lastScale_ = 0;
  int lastWidth_ = 0, lastHeight_ = 0;
  const std::uint8_t* lastPixels_ = nullptr;
  bool full_ = true;
};

std::uint64_t Renderer::contentFingerprint(const CALayer& layer, const LayerGeometry& g) const {
  Hasher h;
  h.add(g.bounds.size.width), h.add(g.bounds.size.height), h.add(g.bounds.origin.x), h.add(g.bounds.origin.y);
  h.add(static_cast<double>(g.opacity)), h.add(g.cornerRadius), h.add(g.borderWidth);
  h.add(static_cast<double>(g.shadowOpacity));
  h.add(static_cast<std::uint64_t>(layer.masksToBounds()));
  h.add(layer.backgroundColor()), h.add(layer.borderColor()), h.add(layer.shadowColor());
  h.add(layer.shadowRadius()), h.add(layer.shadowOffset().width), h.add(layer.shadowOffset().height);
  h.add(layer.contents().get()), h.add(static_cast<std::uint64_t>(layer.contentsGravity()));
  h.add(layer.mask().get());
  if (std::uint64_t generation = 0; layerVideo(layer, generation)) h.add(generation);
  if (auto* shape = dynamic_cast<const quartz::CAShapeLayer*>(&layer)) {
    if (shape->path()) {
      for (const auto& e : shape->path()->elements()) {
        h.add(static_cast<std::uint64_t>(e.type));
        for (const auto& p : e.points) h.add(p.x), h.add(p.y);
      }
    }
    h.add(shape->fillColor()), h.add(shape->strokeColor()), h.add(shape->lineWidth());
    h.add(presented<double>(layer, "strokeStart").value_or(shape->strokeStart()));
    h.add(presented<double>(layer, "strokeEnd").value_or(shape->strokeEnd()));
    for (double d : shape->lineDashPattern()) h.add(d);
    h.add(shape->lineDashPhase());
    h.add(static_cast<std::uint64_t>(shape->lineCap()) * 16 +
          static_cast<std::uint64_t>(shape->lineJoin()) * 4 + static_cast<std::uint64_t>(shape->fillRule()));
  }
  if (auto* gradient = dynamic_cast<const quartz::CAGradientLayer*>(&layer)) {
    for (const auto& c : gradient->colors()) h.add(c);
    if (gradient->locations())
      for (double l : *gradient->locations()) h.add(l);
    h.add(gradient->startPoint().x), h.add(gradient->startPoint().y);
    h.add(gradient->endPoint().x), h.add(gradient->endPoint().y);
  }
  const UIView* view = viewOf(&layer);
  if (!view) return h.h;
  if (auto* nav = shownNavigation(*view)) hashNavigation(h, *nav);
  if (auto* button = dynamic_cast<const UIButton*>(view->superview().get()))
    h.add(static_cast<std::uint64_t>(button->isHighlighted()));
  if (auto* label = dynamic_cast<const UILabel*>(view)) {
    if (label->attributedText()) {
      h.add(label->attributedText()->string());
      h.add(static_cast<std::uint64_t>(label->attributedText()->runs().size()));
    } else {
      h.add(label->text().value_or(std::string("\x01")));
    }
    h.add(label->font().pointSize()), h.add(static_cast<std::uint64_t>(label->font().weight()));
    h.add(label->textColor().cgColor()), h.add(static_cast<std::uint64_t>(label->textAlignment()));
    h.add(static_cast<std::uint64_t>(label->numberOfLines())),
        h.add(static_cast<std::uint64_t>(label->lineBreakMode()));
    h.add(static_cast<std::uint64_t>(label->isEnabled())), h.add(label->effectivePointSize());
    h.add(label->tintColor().cgColor());
  } else if (auto* imageView = dynamic_cast<const UIImageView*>(view)) {
    h.add(imageView->image().get()), h.add(static_cast<std::uint64_t>(imageView->contentMode()));
    h.add(imageView->tintColor().cgColor());
  } else if (auto* field = dynamic_cast<const UITextField*>(view)) {
    h.add(field->text().value_or(std::string("\x01"))),
        h.add(field->placeholder().value_or(std::string("\x01")));
    h.add(field->font().pointSize()), h.add(static_cast<std::uint64_t>(field->font().weight()));
    h.add(field->textColor().cgColor()), h.add(static_cast<std::uint64_t>(field->textAlignment()));
    h.add(static_cast<std::uint64_t>(field->isFirstResponder())), h.add(field->tintColor().cgColor());
  } else if (auto* text = dynamic_cast<const UITextView*>(view)) {
    h.add(text->text()), h.add(text->font().value_or(UIFont::systemFont(12)).pointSize());
    h.add(text->textColor().cgColor()), h.add(static_cast<std::uint64_t>(text->isFirstResponder()));
    h.add(text->textContainerInset().top), h.add(text->textContainerInset().left);
  } else if (auto* input = dynamic_cast<const UITextInput*>(view); input && view->isFirstResponder()) {
    const CGRect caret = input->caretRect();
    h.add(caret.minX()), h.add(caret.minY()), h.add(caret.height()), h.add(view->tintColor().cgColor());
  }
  return h.h;
}

Box Renderer::collect(const CALayer& layer, const cairo_matrix_t& parent, const Box& clip, double alpha,
                      std::uint64_t index, std::unordered_map<const CALayer*, Item>& out) {
  if (layer.isHidden()) return {};
  const LayerGeometry g = geometryOf(layer);
  if (!g.valid || g.opacity <= 0) return {};
  cairo_matrix_t m;
  cairo_matrix_multiply(&m, &g.local, &parent);
  const double w = g.bounds.size.width, h = g.bounds.size.height;
  Box own = deviceBox(m, g.bounds.origin.x, g.bounds.origin.y, w, h);
  if (auto* shape = dynamic_cast<const quartz::CAShapeLayer*>(&layer); shape && shape->path()) {
    const auto pb = shape->path()->boundingBox();
    if (finite(pb.origin.x) && finite(pb.size.width)) {
      const double half = shape->lineWidth() / 2 + shape->miterLimit() * shape->lineWidth() / 2 + 1;
      own = own.united(deviceBox(m, pb.origin.x - half, pb.origin.y - half, pb.size.width + 2 * half,
                                 pb.size.height + 2 * half));
    }
  }
  if (g.shadowOpacity > 0) {
    const auto off = layer.shadowOffset();
    const double radius = finite(layer.shadowRadius()) ? std::clamp(layer.shadowRadius(), 0.0, 100.0) : 0.0;
    const double spread = radius * 2 + 2;
    own = own.united(deviceBox(m, g.bounds.origin.x + off.width - spread,
                               g.bounds.origin.y + off.height - spread, w + 2 * spread, h + 2 * spread));
  }
  own = own.outset(1).intersected(clip);
  Hasher fp;
  fp.add(contentFingerprint(layer, g));
  const double matrix[] = {m.xx,
                           m.yx,
                           m.xy,
                           m.yy,
                           m.x0,
                           m.y0,
                           clip.x0,
                           clip.y0,
                           clip.x1,
                           clip.y1,
                           alpha * g.opacity,
                           static_cast<double>(index)};
  fp.bytes(matrix, sizeof matrix);
  out[&layer] = {fp.h, own};
  Box subtree = own;
  Box childClip = clip;
  if (layer.masksToBounds())
    childClip = deviceBox(m, g.bounds.origin.x, g.bounds.origin.y, w, h).outset(1).intersected(clip);
  if (const auto& mask = layer.mask()) collect(*mask, m, Box{-1e9, -1e9, 1e9, 1e9}, 1, 0, out);
  std::uint64_t i = 0;
  for (const auto& sub : layer.sublayers())
    subtree = subtree.united(collect(*sub, m, childClip, alpha * g.opacity, i++, out));
  subtreeBoxes_[&layer] = subtree;
  return subtree;
}

void Renderer::drawImage(cairo_t* cr, const UIImage& image, const CGRect& rect,
                         const std::optional<CGColor>& tint) {
  if (!(rect.size.width > 0 && rect.size.height > 0)) return;
  if (image.isSymbolImage() && tint && drawSymbol(cr, image, rect, *tint)) return;
  cairo_surface_t* s = images_.surface(image.cgImage());
  if (!s) return;
  const double pw = static_cast<double>(image.cgImage()->width()),
               ph = static_cast<double>(image.cgImage()->height());
  // Pattern space from user space: user -> unit shown -> unit stored -> pixels.
  cairo_matrix_t toUnit, orient, toPixels, m;
  cairo_matrix_init(&toUnit, 1 / rect.size.width, 0, 0, 1 / rect.size.height,
                    -rect.origin.x / rect.size.width, -rect.origin.y / rect.size.height);
  orient = orientationMatrix(image.imageOrientation());
  cairo_matrix_init_scale(&toPixels, pw, ph);
  cairo_matrix_multiply(&m, &toUnit, &orient);
  cairo_matrix_multiply(&m, &m, &toPixels);
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(s);
  cairo_pattern_set_matrix(pattern, &m);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
  cairo_matrix_t ctm;
  cairo_get_matrix(cr, &ctm);
  const double dw = rect.size.width * ctm.xx, dh = rect.size.height * ctm.yy;
  const bool axisAligned = ctm.xy == 0 && ctm.yx == 0 && ctm.xx > 0 && ctm.yy > 0;
  if (axisAligned && dw >= 1 && dh >= 1 && dw * dh <= 4e6) {
    // Filtered once at the size it is shown at, then only copied: scaling
    // with a good filter costs more than everything else on a screen.
    const ScaledKey key{image.cgImage().get(), static_cast<int>(image.imageOrientation()),
                        static_cast<int>(std::lround(dw)), static_cast<int>(std::lround(dh))};
    auto& scaled = scaled_[key];
    if (!scaled.surface) {
      scaled.image = image.cgImage();
      scaled.surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, key.w, key.h);
      cairo_t* sc = cairo_create(scaled.surface);
      cairo_scale(sc, key.w / rect.size.width, key.h / rect.size.height);
      cairo_translate(sc, -rect.origin.x, -rect.origin.y);
      cairo_set_source(sc, pattern);
      cairo_paint(sc);
      cairo_destroy(sc);
    }
    scaled.used = true;
    double x = rect.origin.x, y = rect.origin.y;
    cairo_matrix_transform_point(&ctm, &x, &y);
    cairo_pattern_t* copy = cairo_pattern_create_for_surface(scaled.surface);
    cairo_matrix_t place;
    cairo_matrix_init(&place, key.w / dw, 0, 0, key.h / dh, -x * key.w / dw, -y * key.h / dh);
    cairo_pattern_set_matrix(copy, &place);
    const bool aligned = std::fabs(x - std::round(x)) < 1e-3 && std::fabs(y - std::round(y)) < 1e-3 &&
                         std::fabs(dw - key.w) < 1e-3 && std::fabs(dh - key.h) < 1e-3;
    cairo_pattern_set_filter(copy, aligned ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_BILINEAR);
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_rectangle(cr, x, y, dw, dh);
    cairo_clip(cr);
    if (tint) {
      setColor(cr, *tint);
      cairo_mask(cr, copy);
    } else {
      cairo_set_source(cr, copy);
      cairo_paint(cr);
    }
    cairo_restore(cr);
    cairo_pattern_destroy(copy);
    cairo_pattern_destroy(pattern);
    return;
  }
  cairo_save(cr);
  cairo_rectangle(cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
  cairo_clip(cr);
  if (tint) {
    setColor(cr, *tint);
    cairo_mask(cr, pattern);
  } else {
    cairo_set_source(cr, pattern);
    cairo_paint(cr);
  }
  cairo_restore(cr);
  cairo_pattern_destroy(pattern);
}

void Renderer::drawShadow(cairo_t* cr, const CALayer& layer, const LayerGeometry& g, bool hasShape) {
  if (!(g.shadowOpacity > 0) || !layer.shadowColor() || !hasShape) return;
  const double w = g.bounds.size.width, h = g.bounds.size.height;
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  // Blurred in device pixels when the layer is only scaled and moved;
  // otherwise a sharp shadow is drawn (no screen rotates a shadowed layer).
  const bool axisAligned = m.xy == 0 && m.yx == 0 && m.xx > 0 && m.yy > 0;
  const auto off = layer.shadowOffset();
  const CGColor color = layer.shadowColor()->copy(layer.shadowColor()->alpha * g.shadowOpacity);
  if (!axisAligned) {
    cairo_save(cr);
    cairo_translate(cr, off.width, off.height);
    roundedRect(cr, g.bounds.origin.x, g.bounds.origin.y, w, h, g.cornerRadius);
    setColor(cr, color);
    cairo_fill(cr);
    cairo_restore(cr);
    return;
  }
  // Beyond a few hundred pixels a blur is a faint haze: capped there.
  const double radius = layer.shadowRadius();
  const double blur = std::min(finite(radius) ? std::max(0.0, radius) : 0.0, 100.0) * m.xx;
  const int r = static_cast<int>(std::lround(blur / 2));
  const int pad = 3 * r + 2;
  const int dw = static_cast<int>(std::ceil(w * m.xx)), dh = static_cast<int>(std::ceil(h * m.yy));
  if (dw <= 0 || dh <= 0 || dw > 8192 || dh > 8192) return;
  const ShadowKey key{dw, dh, clampedRadius(g.cornerRadius, w, h) * m.xx, blur};
  auto& shadow = shadows_[key];
  if (!shadow.surface) {
    const int sw = dw + 2 * pad, sh = dh + 2 * pad;
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, sw);
    shadow.pixels.assign(static_cast<std::size_t>(stride) * sh, 0);
    cairo_surface_t* shape =
        cairo_image_surface_create_for_data(shadow.pixels.data(), CAIRO_FORMAT_A8, sw, sh, stride);
    cairo_t* sc = cairo_create(shape);
    roundedRect(sc, pad, pad, dw, dh, key.radius);
    cairo_set_source_rgba(sc, 0, 0, 0, 1);
    cairo_fill(sc);
    cairo_destroy(sc);
    cairo_surface_flush(shape);
    boxBlur(shadow.pixels, sw, sh, stride, r);
    cairo_surface_mark_dirty(shape);
    shadow.surface = shape;
  }
  shadow.used = true;
  double x = g.bounds.origin.x + off.width, y = g.bounds.origin.y + off.height;
  cairo_matrix_transform_point(&m, &x, &y);
  cairo_save(cr);
  cairo_identity_matrix(cr);
  setColor(cr, color);
  cairo_mask_surface(cr, shadow.surface, std::round(x) - pad, std::round(y) - pad);
  cairo_restore(cr);
}

void Renderer::drawVideo(cairo_t* cr, const CALayer& layer, const CGRect& bounds) {
  std::uint64_t generation = 0;
  bool readable = true;
  const NV12Frame* frame = layerVideo(layer, generation, &readable);
  if (!frame) return;
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  const Box box =
      deviceBox(m, bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height).rounded();
  const double bw = box.x1 - box.x0, bh = box.y1 - box.y0;
  if (box.empty() || bw > 16384 || bh > 16384) return;
  const int w = static_cast<int>(bw), h = static_cast<int>(bh);
  auto& video = videoPixels_[&layer];
  video.used = true;
  if (video.generation != generation || video.width != w || video.height != h || video.pixels.empty()) {
    // A pushed frame already converted has let its planes go: nothing to
    // convert again (at another size) until the next frame.
    if (!readable) return;
    // Every pixel is written by the conversion: no clearing first.
    video.pixels.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    if (!drawNV12(*frame, RenderBuffer{video.pixels.data(), w, h, w * 4}, 0, 0, w, h)) return;
    video.generation = generation, video.width = w, video.height = h;
    if (auto it = pushed_.find(&layer); it != pushed_.end()) it->second.fresh = false;
  }
  cairo_surface_t* surface =
      // Opaque: copied, not blended.
      cairo_image_surface_create_for_data(video.pixels.data(), CAIRO_FORMAT_RGB24, w, h, w * 4);
  cairo_save(cr);
  cairo_identity_matrix(cr);
  cairo_set_source_surface(cr, surface, box.x0, box.y0);
  cairo_rectangle(cr, box.x0, box.y0, bw, bh);
  cairo_fill(cr);
  cairo_restore(cr);
  cairo_surface_destroy(surface);
}

void Renderer::drawContent(cairo_t* cr, const CALayer& layer, const LayerGeometry& g) {
  const CGRect bounds = g.bounds;
  const double w = bounds.size.width, h = bounds.size.height;
  drawVideo(cr, layer, bounds);
  if (auto* gradient = dynamic_cast<const quartz::CAGradientLayer*>(&layer);
      gradient && !gradient->colors().empty()) {
    const auto s = gradient->startPoint(), e = gradient->endPoint();
    if (finite(s.x) && finite(s.y) && finite(e.x) && finite(e.y)) {
      cairo_pattern_t* p = cairo_pattern_create_linear(bounds.origin.x + s.x * w, bounds.origin.y + s.y * h,
                                                       bounds.origin.x + e.x * w, bounds.origin.y + e.y * h);
      const auto& colors = gradient->colors();
      const auto& locations = gradient->locations();
      for (std::size_t i = 0; i < colors.size(); ++i) {
        double at = colors.size() == 1 ? 0 : static_cast<double>(i) / static_cast<double>(colors.size() - 1);
        if (locations && i < locations->size() && finite((*locations)[i]))
          at = std::clamp((*locations)[i], 0.0, 1.0);
        const auto& c = colors[i];
        cairo_pattern_add_color_stop_rgba(p, at, c.red, c.green, c.blue, c.alpha);
      }
      roundedRect(cr, bounds.origin.x, bounds.origin.y, w, h, g.cornerRadius);
      cairo_set_source(cr, p);
      cairo_fill(cr);
      cairo_pattern_destroy(p);
    }
  }
  if (const auto& contents = layer.contents()) {
    auto image = UIImage::make(contents);
    if (image) {
      UIViewContentMode mode = UIViewContentMode::scaleToFill;
      switch (layer.contentsGravity()) {
        case CALayer::ContentsGravity::resizeAspect:
          mode = UIViewContentMode::scaleAspectFit;
          break;
        case CALayer::ContentsGravity::resizeAspectFill:
          mode = UIViewContentMode::scaleAspectFill;
          break;
        case CALayer::ContentsGravity::center:
          mode = UIViewContentMode::center;
          break;
        default:
          break;
      }
      drawImage(cr, *image, placeContent(mode, image->size(), bounds), std::nullopt);
    }
  }
  if (auto* shape = dynamic_cast<const quartz::CAShapeLayer*>(&layer); shape && shape->path()) {
    cairo_new_path(cr);
    appendPath(cr, *shape->path());
    if (shape->fillColor()) {
      cairo_set_fill_rule(cr, shape->fillRule() == quartz::CAShapeLayerFillRule::evenOdd
                                  ? CAIRO_FILL_RULE_EVEN_ODD
                                  : CAIRO_FILL_RULE_WINDING);
      setColor(cr, *shape->fillColor());
      cairo_fill_preserve(cr);
    }
    const double start =
        std::clamp(presented<double>(layer, "strokeStart").value_or(shape->strokeStart()), 0.0, 1.0);
    const double end =
        std::clamp(presented<double>(layer, "strokeEnd").value_or(shape->strokeEnd()), 0.0, 1.0);
    const double lineWidth = shape->lineWidth();
    if (shape->strokeColor() && lineWidth > 0 && finite(lineWidth) && end > start) {
      cairo_set_line_width(cr, lineWidth);
      cairo_set_line_cap(cr, shape->lineCap() == quartz::CAShapeLayerLineCap::round    ? CAIRO_LINE_CAP_ROUND
                             : shape->lineCap() == quartz::CAShapeLayerLineCap::square ? CAIRO_LINE_CAP_SQUARE
                                                                                       : CAIRO_LINE_CAP_BUTT);
      cairo_set_line_join(cr, shape->lineJoin() == quartz::CAShapeLayerLineJoin::round ? CAIRO_LINE_JOIN_ROUND
                              : shape->lineJoin() == quartz::CAShapeLayerLineJoin::bevel
                                  ? CAIRO_LINE_JOIN_BEVEL
                                  : CAIRO_LINE_JOIN_MITER);
      cairo_set_miter_limit(cr, std::max(1.0, shape->miterLimit()));
      std::vector<double> dashes;
      bool anyLength = false;
      for (double d : shape->lineDashPattern()) {
        if (!finite(d) || d < 0) {
          dashes.clear();
          anyLength = false;
          break;
        }
        dashes.push_back(d);
        anyLength = anyLength || d > 0;
      }
      if (start > 0 || end < 1) {
        // A part of the path: one dash as long as that part, starting where it starts.
        double length = 0;
        cairo_path_t* flat = cairo_copy_path_flat(cr);
        double px = 0, py = 0, sx = 0, sy = 0;
        for (int i = 0; i < flat->num_data; i += flat->data[i].header.length) {
          const auto& d = flat->data[i];
          if (d.header.type == CAIRO_PATH_MOVE_TO) {
            px = sx = flat->data[i + 1].point.x, py = sy = flat->data[i + 1].point.y;
          } else if (d.header.type == CAIRO_PATH_LINE_TO) {
            const double x = flat->data[i + 1].point.x, y = flat->data[i + 1].point.y;
            length += std::hypot(x - px, y - py), px = x, py = y;
          } else if (d.header.type == CAIRO_PATH_CLOSE_PATH) {
            length += std::hypot(sx - px, sy - py), px = sx, py = sy;
          }
        }
        cairo_path_destroy(flat);
        const double on = (end - start) * length, off = length + 1;
        const double pattern[2] = {on, off};
        cairo_set_dash(cr, pattern, 2, on + off - start * length);
      } else if (anyLength) {
        cairo_set_dash(cr, dashes.data(), static_cast<int>(dashes.size()), shape->lineDashPhase());
      }
      setColor(cr, *shape->strokeColor());
      cairo_stroke_preserve(cr);
      cairo_set_dash(cr, nullptr, 0, 0);
    }
    cairo_new_path(cr);
  }
  const UIView* view = viewOf(&layer);
  if (!view) return;
  if (auto* label = dynamic_cast<const UILabel*>(view)) {
    drawLabel(cr, *label, bounds);
  } else if (auto* imageView = dynamic_cast<const UIImageView*>(view)) {
    const auto& image = imageView->image();
    if (image && image->size().width > 0 && image->size().height > 0) {
      const bool templated =
          image->renderingMode() == UIImage::RenderingMode::alwaysTemplate ||
          (image->renderingMode() == UIImage::RenderingMode::automatic && image->isSymbolImage());
      std::optional<CGColor> tint;
      if (templated) tint = imageView->tintColor().cgColor();
      const double alpha = pressedAlpha(*imageView);
      if (alpha < 1) cairo_push_group(cr);
      drawImage(cr, *image, placeContent(imageView->contentMode(), image->size(), bounds), tint);
      if (alpha < 1) {
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, alpha);
      }
    }
  } else if (auto* field = dynamic_cast<const UITextField*>(view)) {
    drawTextField(cr, *field, bounds);
  } else if (auto* text = dynamic_cast<const UITextView*>(view)) {
    drawTextView(cr, *text, bounds);
  } else if (auto* input = dynamic_cast<const UITextInput*>(view); input && view->isFirstResponder()) {
    const CGRect caret = input->caretRect();
    drawCaret(cr, *view, caret.minX(), caret.minY(), caret.height());
  }
}

void Renderer::draw(cairo_t* cr, const CALayer& layer, const Box& damage) {
  auto item = items_.find(&layer);
  if (item == items_.end()) return;  // hidden, transparent or degenerate
  auto sub = subtreeBoxes_.find(&layer);
  if (sub == subtreeBoxes_.end() || !sub->second.intersects(damage)) return;
  const LayerGeometry g = geometryOf(layer);
  cairo_save(cr);
  cairo_transform(cr, &g.local);
  const bool group = g.opacity < 1 || layer.mask();
  if (group) {
    // A group is as large as the clip: bound it by what this subtree covers.
    const Box& extent = sub->second;
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_rectangle(cr, std::floor(extent.x0), std::floor(extent.y0),
                    std::ceil(extent.x1) - std::floor(extent.x0),
                    std::ceil(extent.y1) - std::floor(extent.y0));
    cairo_restore(cr);
    cairo_clip(cr);
    cairo_push_group(cr);
  }
  const CGRect b = g.bounds;
  const bool background = layer.backgroundColor() && layer.backgroundColor()->alpha > 0;
  const auto* shape = dynamic_cast<const quartz::CAShapeLayer*>(&layer);
  if (item->second.box.intersects(damage)) {
    drawShadow(cr, layer, g, background || shape);
    if (background) {
      roundedRect(cr, b.origin.x, b.origin.y, b.size.width, b.size.height, g.cornerRadius);
      setColor(cr, *layer.backgroundColor());
      cairo_fill(cr);
    }
  }
  cairo_save(cr);
  if (layer.masksToBounds()) {
    roundedRect(cr, b.origin.x, b.origin.y, b.size.width, b.size.height, g.cornerRadius);
    cairo_clip(cr);
  }
  if (item->second.box.intersects(damage)) drawContent(cr, layer, g);
  // Later sublayers are in front; a higher zPosition is in front of all lower.
  const auto& subs = layer.sublayers();
  std::vector<const CALayer*> order;
  order.reserve(subs.size());
  for (const auto& s : subs) order.push_back(s.get());
  std::stable_sort(order.begin(), order.end(),
                   [](const CALayer* a, const CALayer* c) { return a->zPosition() < c->zPosition(); });
  for (const CALayer* s : order) draw(cr, *s, damage);
  if (const UIView* view = viewOf(&layer); view && item->second.box.intersects(damage)) {
    if (auto* nav = shownNavigation(*view)) drawNavigationBar(cr, *nav, b);
  }
  cairo_restore(cr);
  if (g.borderWidth > 0 && layer.borderColor() && item->second.box.intersects(damage)) {
    const double bw = std::min(g.borderWidth, std::min(b.size.width, b.size.height) / 2);
    if (bw > 0) {
      roundedRect(cr, b.origin.x + bw / 2, b.origin.y + bw / 2, b.size.width - bw, b.size.height - bw,
                  std::max(0.0, g.cornerRadius - bw / 2));
      cairo_set_line_width(cr, bw);
      setColor(cr, *layer.borderColor());
      cairo_stroke(cr);
    }
  }
  if (group) {
    cairo_pattern_t* content = cairo_pop_group(cr);
    if (const auto& mask = layer.mask()) {
      // The mask's alpha, in this layer's coordinates, decides what shows.
      cairo_push_group(cr);
      draw(cr, *mask, Box{-1e9, -1e9, 1e9, 1e9});
      cairo_pattern_t* maskPattern = cairo_pop_group(cr);
      cairo_push_group(cr);
      cairo_set_source(cr, content);
      cairo_mask(cr, maskPattern);
      cairo_pattern_t* masked = cairo_pop_group(cr);
      cairo_set_source(cr, masked);
      cairo_paint_with_alpha(cr, std::clamp<double>(g.opacity, 0, 1));
      cairo_pattern_destroy(masked);
      cairo_pattern_destroy(maskPattern);
    } else {
      cairo_set_source(cr, content);
      cairo_paint_with_alpha(cr, std::clamp<double>(g.opacity, 0, 1));
    }
    cairo_pattern_destroy(content);
  }
  cairo_restore(cr);
}

std::vector<CGRect> Renderer::render(UIView& view, double scale, const RenderBuffer& into) {
  const CALayer& root = *view.layer();
  if (&view != lastView_ || scale != lastScale_ || into.width != lastWidth_ || into.height != lastHeight_ ||
      into.pixels != lastPixels_) {
    full_ = true;
    lastView_ = &view, lastScale_ = scale, lastWidth_ = into.width, lastHeight_ = into.height;
    lastPixels_ = into.pixels;
  }
  views_.clear();
  indexViews(view);
  std::erase_if(pushed_, [](const auto& entry) { return entry.second.layer.expired(); });
  // The view's bounds fill the buffer: its own placement in a superview is not applied.
  // The view's bounds fill the buffer: base is the matrix P under the root
  // such that the root's own local matrix, then P, maps its bounds origin to
  // pixel 0 at `scale` (its placement in a superview is not applied).
  const LayerGeometry rootGeometry = geometryOf(root);
  cairo_matrix_t base;
  cairo_matrix_init_scale(&base, scale, scale);
  if (rootGeometry.valid) {
    cairo_matrix_t inverse = rootGeometry.local, target, s;
    cairo_matrix_invert(&inverse);
    cairo_matrix_init_translate(&target, -rootGeometry.bounds.origin.x, -rootGeometry.bounds.origin.y);
    cairo_matrix_init_scale(&s, scale, scale);
    cairo_matrix_multiply(&target, &target, &s);
    cairo_matrix_multiply(&base, &inverse, &target);
  }
  const Box screen{0, 0, static_cast<double>(into.width), static_cast<double>(into.height)};
  std::unordered_map<const CALayer*, Item> now;
  subtreeBoxes_.clear();
  collect(root, base, screen, 1, 0, now);

  std::vector<Box> damage;
  if (full_) {
    damage.push_back(screen);
  } else {
    for (const auto& [layer, item] : now) {
      auto old = items_.find(layer);
      if (old == items_.end()) {
        damage.push_back(item.box);
      } else if (old->second.fingerprint != item.fingerprint) {
        damage.push_back(item.box.united(old->second.box));
      }
    }
    for (const auto& [layer, item] : items_) {
      if (!now.count(layer)) damage.push_back(item.box);
    }
  }
  items_ = std::move(now);
  // A few rectangles: overlapping ones merge; many become their union.
  std::vector<Box> merged;
  for (Box b : damage) {
    b = b.rounded().intersected(screen);
    if (b.empty()) continue;
    bool joined = true;
    while (joined) {
      joined = false;
      for (auto it = merged.begin(); it != merged.end(); ++it) {
        if (it->outset(8).intersects(b)) {
          b = b.united(*it);
          merged.erase(it);
          joined = true;
          break;
        }
      }
    }
    merged.push_back(b);
  }
  if (merged.size() > 16) {
    Box all;
    for (const auto& b : merged) all = all.united(b);
    merged = {all};
  }
  full_ = false;
  std::vector<CGRect> out;
  if (merged.empty()) {
    images_.sweep();
    for (auto& [layer, pushed] : pushed_) pushed.fresh = false;
    return out;
  }

  cairo_surface_t* surface = cairo_image_surface_create_for_data(into.pixels, CAIRO_FORMAT_ARGB32, into.width,
                                                                 into.height, into.stride);
  cairo_t* cr = cairo_create(surface);
  for (auto& [k, s] : shadows_) s.used = false;
  for (auto& [k, v] : videoPixels_) v.used = false;
  for (auto& [k, s] : scaled_) s.used = false;
  for (const auto& box : merged) {
    cairo_save(cr);
    cairo_rectangle(cr, box.x0, box.y0, box.x1 - box.x0, box.y1 - box.y0);
    cairo_clip(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_set_matrix(cr, &base);
    // The root's own matrix is applied by draw().
    draw(cr, root, box);
    cairo_restore(cr);
    out.push_back({{box.x0 / scale, box.y0 / scale}, {(box.x1 - box.x0) / scale, (box.y1 - box.y0) / scale}});
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  cairo_surface_destroy(surface);
  images_.sweep();
  // A pushed frame's planes are valid only through the render that follows it.
  for (auto& [layer, pushed] : pushed_) pushed.fresh = false;
  // A video layer not redrawn this time may be gone: its frame is dropped
  // (it is converted again if the layer shows once more).
  for (auto it = videoPixels_.begin(); it != videoPixels_.end();) {
    it = it->second.used || pushed_.count(it->first) ? std::next(it) : videoPixels_.erase(it);
  }
  // Scaled copies not drawn this time are kept within a budget of 8 million
  // pixels (a damaged region may leave out an image still on screen); beyond
  // it they go, and every frame's new camera picture does not pile up.
  double cached = 0;
  for (const auto& [k, v] : scaled_) cached += double(k.w) * k.h;
  for (auto it = scaled_.begin(); it != scaled_.end() && cached > 8e6;) {
    if (!it->second.used) {
      cached -= double(it->first.w) * it->first.h;
      cairo_surface_destroy(it->second.surface);
      it = scaled_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = shadows_.begin(); it != shadows_.end();) {
    if (!it->second.used && shadows_.size() > 64) {
      cairo_surface_destroy(it->second.surface);
      it = shadows_.erase(it);
    } else {
      ++it;
    }
  }
  return out;
}

// --- The table -------------------------------------------------------------

void* createRenderer() { return new Renderer; }
void destroyRenderer(void* r) { delete static_cast<Renderer*>(r); }
void invalidateRenderer(void* r) { static_cast<Renderer*>(r)->invalidate(); }
void setRendererVideo(void* r, const CALayer& layer, const NV12Frame* frame) {
  static_cast<Renderer*>(r)->setVideoFrame(layer, frame);
}
std::vector<CGRect> renderTree(void* r, UIView& view, double scale, const RenderBuffer& into) {
  return static_cast<Renderer*>(r)->render(view, scale, into);
}

const uikit::detail::RenderPlugin kPlugin = [] {
  uikit::detail::RenderPlugin p;
  p.createRenderer = createRenderer;
  p.destroyRenderer = destroyRenderer;
  p.invalidate = invalidateRenderer;
  p.render = renderTree;
  p.textWidth = shapedWidth;
  p.drawVideoFrame = drawNV12;
  p.setVideoFrame = setRendererVideo;
  return p;
}();

}  // namespace

}  // namespace uikit::render

extern "C" __attribute__((visibility("default"))) const uikit::detail::RenderPlugin* morvik_render_plugin() {
  return &uikit::render::kPlugin;
}

// Text in the rendering plugin: Pango on one private Cairo font map, under
// one lock (measurement may run on any thread, drawing on the main one).
#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>

#include <mutex>
#include <string>

#include "morvik/platform/uikit/UIFont.h"

namespace uikit::render {

// The lock around every Pango call of the plugin.
std::mutex& pangoLock();
// A context on the plugin's font map with metrics that do not depend on the
// scale (no hinting), so that widths measured at scale 1 hold when drawn at 2 or 3.
PangoContext* sharedContext();
// Inter at the font's size and weight (cached; owned by the cache).
const PangoFontDescription* fontDescription(const UIFont& font);
// Sets the layout's text; invalid UTF-8 is shown as U+FFFD, as the platform
// shows undecodable bytes.
void setLayoutText(PangoLayout* layout, const std::string& text);
// Shaped width of one line; call with pangoLock() held.
double shapedWidthLocked(const std::string& text, const UIFont& font);
// The same, taking the lock; cached.
double shapedWidth(const std::string& text, const UIFont& font);

// Material Design icon for a symbol name: the glyph's code point in the
// "Material Icons" font, or 0 when the symbol is drawn from our own paths
// (drawSymbolPath) or unknown.
struct SymbolGlyph {
  const char* symbolName;
  const char* materialName;  // the icon's name in the font (for readers)
  char32_t codePoint;        // 0: our own vector path
};
const SymbolGlyph* symbolGlyph(const std::string& symbolName);

}  // namespace uikit::render

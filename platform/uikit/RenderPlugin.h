// Internal: the table of entry points that the rendering plugin
// (libmorvik_platform_render.so, Cairo + Pango) hands the platform library.
// The plugin exports one C function, morvik_render_plugin(), answering this
// table; the library calls nothing else in it. Both sides are built from the
// same sources, and `abi` guards against a stale plugin beside the library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "morvik/platform/uikit/UIFont.h"
#include "morvik/platform/uikit/UIRendering.h"

namespace quartz {
class CALayer;
}

namespace uikit::detail {

struct RenderPlugin {
  static constexpr int kAbi = 4;
  int abi = kAbi;
  void* (*createRenderer)() = nullptr;
  void (*destroyRenderer)(void* renderer) = nullptr;
  void (*invalidate)(void* renderer) = nullptr;
  // Draws (see ViewRenderer::render); the tree is already laid out.
  std::vector<quartz::CGRect> (*render)(void* renderer, UIView& view, double scale,
                                        const RenderBuffer& into) = nullptr;
  // The shaped width of one line of text, in points (any thread).
  double (*textWidth)(const std::string& text, const UIFont& font) = nullptr;
  bool (*drawVideoFrame)(const NV12Frame& frame, const RenderBuffer& into, int x, int y, int width,
                         int height) = nullptr;
  // See ViewRenderer::setVideoFrame (null: no picture).
  void (*setVideoFrame)(void* renderer, const quartz::CALayer& layer, const NV12Frame* frame) = nullptr;
};

// Loads the plugin on first call; null when it cannot be loaded.
const RenderPlugin* renderPlugin();
// The plugin once loaded, without loading it (null before).
const RenderPlugin* loadedRenderPlugin();

}  // namespace uikit::detail

extern "C" {
using MorvikRenderPluginEntry = const uikit::detail::RenderPlugin* (*)();
}

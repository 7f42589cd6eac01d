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

// Video a desktop window shows in layers (a camera preview layer's frames),
// drawn by the renderer as the layer's content, scaled to fill it.
struct LayerVideo {
  // The frame to show in `layer` now (valid until the render returns), or
  // null; `generation` changes whenever the frame does, so a new frame
  // damages the layer and an unchanged one costs nothing.
  const NV12Frame* (*frame)(void* context, const quartz::CALayer& layer, std::uint64_t& generation) = nullptr;
  void* context = nullptr;
};

struct RenderPlugin {
  static constexpr int kAbi = 3;
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
  // The renderer's source of layer video (none by default).
  void (*setLayerVideo)(void* renderer, const LayerVideo& video) = nullptr;
  // See ViewRenderer::setVideoFrame (null: no picture); shown before the source's.
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

#include "morvik/platform/uikit/UIRendering.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/PluginLoader.h"
#include "morvik/platform/uikit/UIView.h"
#include "quartz/ImageCodec.h"
#include "uikit/RenderPlugin.h"

namespace uikit {

namespace detail {

namespace {
std::atomic<const RenderPlugin*> loadedPlugin{nullptr};
}

const RenderPlugin* loadedRenderPlugin() { return loadedPlugin.load(std::memory_order_acquire); }

const RenderPlugin* renderPlugin() {
  static std::once_flag once;
  std::call_once(once, [] {
    constexpr const char* kName = "libmorvik_platform_render.so";
    void* handle = foundation::detail::loadPlugin(kName);
    auto entry = reinterpret_cast<MorvikRenderPluginEntry>(
        foundation::detail::pluginSymbol(handle, "morvik_render_plugin"));
    const RenderPlugin* plugin = entry ? entry() : nullptr;
    if (!plugin || plugin->abi != RenderPlugin::kAbi) {
      std::fprintf(stderr, "[Rendering] %s could not be loaded: views are not drawn\n", kName);
      return;
    }
    loadedPlugin.store(plugin, std::memory_order_release);
  });
  return loadedRenderPlugin();
}

}  // namespace detail

namespace {

bool usableBuffer(const RenderBuffer& b) {
  return b.pixels && b.width > 0 && b.height > 0 && b.stride >= 4 * b.width && b.stride % 4 == 0;
}

// Text measured by the estimate until now is measured again with the
// plugin's shaping: every intrinsic size in the tree is recomputed.
void invalidateText(UIView& view) {
  view.invalidateIntrinsicContentSize();
  view.setNeedsLayout();
  for (const auto& sub : view.subviews()) invalidateText(*sub);
}

UIView& rootOfTree(UIView& view) {
  UIView* top = &view;
  while (auto super = top->superview()) top = super.get();
  return *top;
}

// Trees laid out again since the plugin's metrics took over: each once, so
// that drawing a screen again does not disturb its layout (main thread only).
bool relaidSinceLoad(UIView& root) {
  static std::vector<std::weak_ptr<UIView>> relaid;
  std::erase_if(relaid, [](const std::weak_ptr<UIView>& w) { return w.expired(); });
  for (const auto& w : relaid) {
    if (w.lock().get() == &root) return true;
  }
  relaid.push_back(root.weak_from_this());
  return false;
}

struct RendererState {
  void* plugin = nullptr;
};

}  // namespace

bool renderingAvailable() { return detail::renderPlugin() != nullptr; }

ViewRenderer::ViewRenderer() = default;

ViewRenderer::~ViewRenderer() {
  auto* state = static_cast<RendererState*>(state_);
  if (!state) return;
  if (state->plugin) detail::loadedRenderPlugin()->destroyRenderer(state->plugin);
  delete state;
}

void ViewRenderer::invalidate() {
  auto* state = static_cast<RendererState*>(state_);
  if (state && state->plugin) detail::loadedRenderPlugin()->invalidate(state->plugin);
}

void ViewRenderer::setVideoFrame(const quartz::CALayer& layer, const std::optional<NV12Frame>& frame) {
  const auto* plugin = detail::renderPlugin();
  if (!plugin) return;
  if (!state_) state_ = new RendererState{plugin->createRenderer()};
  auto* state = static_cast<RendererState*>(state_);
  if (state->plugin) plugin->setVideoFrame(state->plugin, layer, frame ? &*frame : nullptr);
}

std::vector<quartz::CGRect> ViewRenderer::render(UIView& view, quartz::CGFloat scale,
                                                 const RenderBuffer& into) {
  const auto* plugin = detail::renderPlugin();
  if (!plugin || !usableBuffer(into) || !(scale > 0) || !std::isfinite(scale)) return {};
  if (!state_) state_ = new RendererState{plugin->createRenderer()};
  auto* state = static_cast<RendererState*>(state_);
  if (!state->plugin) return {};
  if (UIView& root = rootOfTree(view); !relaidSinceLoad(root)) invalidateText(root);
  view.layoutIfNeeded();
  return plugin->render(state->plugin, view, scale, into);
}

std::optional<foundation::Data> pngData(const RenderBuffer& pixels) {
  if (!usableBuffer(pixels)) return std::nullopt;
  // Premultiplied words to straight-alpha BGRA (the same byte order on
  // little-endian machines).
  cv::Mat straight(pixels.height, pixels.width, CV_8UC4);
  for (int r = 0; r < pixels.height; ++r) {
    const auto* in =
        reinterpret_cast<const std::uint32_t*>(pixels.pixels + static_cast<std::size_t>(r) * pixels.stride);
    auto* p = straight.ptr<std::uint8_t>(r);
    for (int c = 0; c < pixels.width; ++c, p += 4) {
      const std::uint32_t word = in[c];
      const unsigned a = word >> 24;
      unsigned red = (word >> 16) & 0xff, green = (word >> 8) & 0xff, blue = word & 0xff;
      if (a != 0 && a != 255) {
        red = std::min(255u, (red * 255 + a / 2) / a);
        green = std::min(255u, (green * 255 + a / 2) / a);
        blue = std::min(255u, (blue * 255 + a / 2) / a);
      }
      p[0] = static_cast<std::uint8_t>(blue);
      p[1] = static_cast<std::uint8_t>(green);
      p[2] = static_cast<std::uint8_t>(red);
      p[3] = static_cast<std::uint8_t>(a);
    }
  }
  auto png = quartz::codec::encodePNG(straight);
  if (png.empty()) return std::nullopt;
  return foundation::Data(std::move(png));
}

std::optional<foundation::Data> snapshotPNG(UIView& view, quartz::CGFloat scale) {
  if (!(scale > 0) || !std::isfinite(scale) || scale > 16) return std::nullopt;
  if (!renderingAvailable()) return std::nullopt;
  // Laid out first: the size to snapshot may come from the layout.
  view.layoutIfNeeded();
  const auto size = view.bounds().size;
  const double w = std::ceil(size.width * scale - 1e-6), h = std::ceil(size.height * scale - 1e-6);
  if (!(w >= 1 && h >= 1) || w * h > 64e6) return std::nullopt;
  std::vector<std::uint32_t> words(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
  RenderBuffer buffer{reinterpret_cast<std::uint8_t*>(words.data()), static_cast<int>(w), static_cast<int>(h),
                      4 * static_cast<int>(w)};
  ViewRenderer renderer;
  renderer.render(view, scale, buffer);
  return pngData(buffer);
}

bool writeSnapshotPNG(UIView& view, quartz::CGFloat scale, const std::filesystem::path& to) {
  auto png = snapshotPNG(view, scale);
  if (!png) return false;
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png->bytes()), static_cast<std::streamsize>(png->count()));
  return static_cast<bool>(out.flush());
}

bool drawVideoFrame(const NV12Frame& frame, const RenderBuffer& into, int x, int y, int width, int height) {
  const auto* plugin = detail::renderPlugin();
  if (!plugin || !usableBuffer(into)) return false;
  return plugin->drawVideoFrame(frame, into, x, y, width, height);
}

}  // namespace uikit

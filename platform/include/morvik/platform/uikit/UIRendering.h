// Drawing a view tree into pixels, as the platform's display does.
//
// The drawing itself (Cairo for layers, Pango/HarfBuzz/fontconfig for text)
// lives in the rendering plugin, libmorvik_platform_render.so, loaded beside
// the platform library the first time anything here draws: hosts that never
// show or snapshot a view never load it. Main thread only, like the views.
//
// What is drawn: each view's layer tree as the screens set it (background,
// border, corner radius, masksToBounds, shadow, opacity and hidden as seen at
// present, affine transforms, layer contents, CAShapeLayer, CAGradientLayer),
// the content of labels, buttons, image views (content mode, template
// images tinted), text fields and text views. The system font is Inter;
// symbol images come from one table of Material Design icons and paths of ours.
//
// Text metrics: once the plugin is loaded, every text is measured with the
// shaping that draws it, and a tree is laid out again before its first
// drawing. Without the plugin, the fixed metrics model of UIFont.h holds.
//
// Hit-testing stays with the views (UIView::hitTest); nothing here handles input.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <morvik/platform/foundation/Data.h>
#include <morvik/platform/quartz/CALayer.h>
#include <morvik/platform/quartz/CGGeometry.h>
#include <morvik/platform/quartz/CGImage.h>

namespace uikit {

class UIView;

// Pixels to draw into, in Cairo's ARGB32 format: one native-endian 32-bit
// word per pixel, 0xAARRGGBB with premultiplied alpha (B, G, R, A bytes in
// memory on little-endian machines, as SDL's ARGB8888 textures take them).
// Rows are `stride` bytes apart (at least 4 x width, a multiple of 4).
struct RenderBuffer {
  std::uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
};

// A camera frame in NV12 (a Y plane, then interleaved Cb Cr at half
// resolution, video range BT.601 as the cameras deliver), to be shown upright
// after turning it as `orientation` says.
struct NV12Frame {
  const std::uint8_t* y = nullptr;
  std::size_t yStride = 0;
  const std::uint8_t* cbcr = nullptr;
  std::size_t cbcrStride = 0;
  int width = 0;
  int height = 0;
  quartz::CGImagePropertyOrientation orientation = quartz::CGImagePropertyOrientation::up;
};

// Loads the rendering plugin if needed; false when it cannot be loaded (a
// message on stderr says why, once).
bool renderingAvailable();

// Draws one view tree again and again into the same buffer, redrawing only
// what changed. The view's bounds fill the buffer from its top-left corner,
// `scale` pixels per point (a 390 x 844 window at scale 2 needs 780 x 1688
// pixels). The first render, and any render after invalidate(), a change of
// scale, buffer (address or size) or view, draws everything; later ones
// compare what each layer shows with the previous render and redraw only the
// damaged regions, so the buffer must still hold the previous render.
class ViewRenderer {
 public:
  ViewRenderer();
  ~ViewRenderer();
  ViewRenderer(const ViewRenderer&) = delete;
  ViewRenderer& operator=(const ViewRenderer&) = delete;

  // Lays the tree out (layoutIfNeeded), then draws. Answers the regions
  // redrawn, in the view's points (empty when nothing changed, or when the
  // plugin is missing or the buffer is unusable: nothing is drawn then).
  std::vector<quartz::CGRect> render(UIView& view, quartz::CGFloat scale, const RenderBuffer& into);
  // The next render draws everything.
  void invalidate();
  // Shows a camera frame as the picture of `layer` (the preview layer of a
  // capture screen), filling its bounds and cropped at the centre as the
  // video fills a preview (aspect fill), under the layer's sublayers. The
  // next render redraws that region. The frame's planes must stay valid
  // until that render has returned; later renders reuse what it converted.
  // Nothing (std::nullopt) removes the picture.
  void setVideoFrame(const quartz::CALayer& layer, const std::optional<NV12Frame>& frame);

 private:
  void* state_ = nullptr;
};

// The view drawn at `scale` (a one-off ViewRenderer into a new buffer of
// ceil(size x scale) pixels), as PNG bytes. Nothing when the plugin is
// missing or the view is empty.
std::optional<foundation::Data> snapshotPNG(UIView& view, quartz::CGFloat scale);
// The same, written to a file; false on any failure.
bool writeSnapshotPNG(UIView& view, quartz::CGFloat scale, const std::filesystem::path& to);
// PNG bytes of pixels a renderer drew (alpha kept); nothing for an unusable
// buffer. Any thread: a host may draw on the main thread and encode elsewhere.
std::optional<foundation::Data> pngData(const RenderBuffer& pixels);

// Draws a camera frame into `rect` (pixels of the buffer), scaled to fill it
// and cropped at the centre (aspect fill, as the preview layer shows video).
// The fast path for live previews: no layer tree is walked. False when the
// plugin is missing or the input is unusable (nothing drawn).
bool drawVideoFrame(const NV12Frame& frame, const RenderBuffer& into, int x, int y, int width, int height);

}  // namespace uikit

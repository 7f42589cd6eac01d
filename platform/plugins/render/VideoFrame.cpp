#include "plugins/render/VideoFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace uikit::render {

namespace {

using O = quartz::CGImagePropertyOrientation;

bool swapsAxes(O o) { return o == O::left || o == O::right || o == O::leftMirrored || o == O::rightMirrored; }

// BT.601 video range to RGB in 16.16 fixed point, by table: one lookup per
// term instead of a multiplication.
struct Tables {
  int y[256], rCr[256], gCb[256], gCr[256], bCb[256];
  std::uint8_t clamp[1024];  // index v + 384 for v in -384 .. 639
  Tables() {
    for (int i = 0; i < 256; ++i) {
      y[i] = (i - 16) * 76309 + 32768;
      rCr[i] = 104597 * (i - 128);
      gCb[i] = -25675 * (i - 128);
      gCr[i] = -53279 * (i - 128);
      bCb[i] = 132201 * (i - 128);
    }
    for (int i = 0; i < 1024; ++i) clamp[i] = static_cast<std::uint8_t>(std::clamp(i - 384, 0, 255));
  }
};
const Tables& tables() {
  static const Tables t;
  return t;
}

inline std::uint32_t pixel(const Tables& t, int y, int cb, int cr) {
  const int c = t.y[y];
  const std::uint32_t r = t.clamp[((c + t.rCr[cr]) >> 16) + 384];
  const std::uint32_t g = t.clamp[((c + t.gCb[cb] + t.gCr[cr]) >> 16) + 384];
  const std::uint32_t b = t.clamp[((c + t.bCb[cb]) >> 16) + 384];
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

}  // namespace

bool drawNV12(const NV12Frame& f, const RenderBuffer& into, int x, int y, int width, int height) {
  if (!f.y || !f.cbcr || f.width < 2 || f.height < 2 || f.yStride < static_cast<std::size_t>(f.width) ||
      f.cbcrStride < static_cast<std::size_t>(f.width + (f.width & 1)) || width <= 0 || height <= 0)
    return false;
  const int raw = static_cast<int>(f.orientation);
  if (raw < 1 || raw > 8) return false;
  // Shown size after turning, and the aspect-fill scale from shown to output.
  const bool swap = swapsAxes(f.orientation);
  const int shownW = swap ? f.height : f.width, shownH = swap ? f.width : f.height;
  const double scale = std::max(static_cast<double>(width) / shownW, static_cast<double>(height) / shownH);
  const double offX = (shownW * scale - width) / 2, offY = (shownH * scale - height) / 2;
  // Clip the output rectangle to the buffer.
  const int x0 = std::max(0, x), y0 = std::max(0, y);
  const int x1 = std::min(into.width, x + width), y1 = std::min(into.height, y + height);
  if (x0 >= x1 || y0 >= y1) return true;
  // For each output column and row: the shown coordinate (nearest sample).
  std::vector<int> colShown(static_cast<std::size_t>(x1 - x0)), rowShown(static_cast<std::size_t>(y1 - y0));
  for (int cx = x0; cx < x1; ++cx)
    colShown[static_cast<std::size_t>(cx - x0)] =
        std::clamp(static_cast<int>((cx - x + 0.5 + offX) / scale), 0, shownW - 1);
  for (int cy = y0; cy < y1; ++cy)
    rowShown[static_cast<std::size_t>(cy - y0)] =
        std::clamp(static_cast<int>((cy - y + 0.5 + offY) / scale), 0, shownH - 1);
  // Shown (u, v) to stored (s, t), per orientation (EXIF meaning).
  auto stored = [&](int u, int v, int& s, int& t) {
    const int W = f.width - 1, H = f.height - 1;
    switch (f.orientation) {
      case O::up:
        s = u, t = v;
        break;
      case O::upMirrored:
        s = W - u, t = v;
        break;
      case O::down:
        s = W - u, t = H - v;
        break;
      case O::downMirrored:
        s = u, t = H - v;
        break;
      case O::leftMirrored:
        s = v, t = u;
        break;
      case O::right:
        s = v, t = H - u;
        break;
      case O::rightMirrored:
        s = W - v, t = H - u;
        break;
      case O::left:
        s = W - v, t = u;
        break;
    }
  };
  const Tables& tab = tables();
  if (!swap) {
    std::vector<int> cols(colShown.size());
    for (std::size_t i = 0; i < cols.size(); ++i) {
      int s = 0, t = 0;
      stored(colShown[i], 0, s, t);
      cols[i] = s;
    }
    for (int cy = y0; cy < y1; ++cy) {
      int s = 0, t = 0;
      stored(0, rowShown[static_cast<std::size_t>(cy - y0)], s, t);
      const std::uint8_t* ly = f.y + static_cast<std::size_t>(t) * f.yStride;
      const std::uint8_t* lc = f.cbcr + static_cast<std::size_t>(t / 2) * f.cbcrStride;
      auto* out =
          reinterpret_cast<std::uint32_t*>(into.pixels + static_cast<std::size_t>(cy) * into.stride) + x0;
      for (std::size_t i = 0; i < cols.size(); ++i) {
        const int c = cols[i];
        const int ci = c & ~1;
        out[i] = pixel(tab, ly[c], lc[ci], lc[ci + 1]);
      }
    }
    return true;
  }
  // Turned frames: an output row walks down a stored column.
  std::vector<int> rows(colShown.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    int s = 0, t = 0;
    stored(colShown[i], 0, s, t);
    rows[i] = t;
  }
  std::vector<std::size_t> yOff(rows.size()), cOff(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    yOff[i] = static_cast<std::size_t>(rows[i]) * f.yStride;
    cOff[i] = static_cast<std::size_t>(rows[i] / 2) * f.cbcrStride;
  }
  // In tiles, so that the stored rows a tile reads stay in the cache.
  constexpr int kTile = 64;
  std::vector<int> rowS(static_cast<std::size_t>(y1 - y0));
  for (int cy = y0; cy < y1; ++cy) {
    int s = 0, t = 0;
    stored(0, rowShown[static_cast<std::size_t>(cy - y0)], s, t);
    rowS[static_cast<std::size_t>(cy - y0)] = s;
  }
  for (int ty = y0; ty < y1; ty += kTile) {
    for (std::size_t tx = 0; tx < rows.size(); tx += kTile) {
      const std::size_t txEnd = std::min(rows.size(), tx + kTile);
      for (int cy = ty; cy < std::min(y1, ty + kTile); ++cy) {
        const int s = rowS[static_cast<std::size_t>(cy - y0)];
        const int si = s & ~1;
        auto* out =
            reinterpret_cast<std::uint32_t*>(into.pixels + static_cast<std::size_t>(cy) * into.stride) + x0;
        for (std::size_t i = tx; i < txEnd; ++i) {
          const std::uint8_t* lc = f.cbcr + cOff[i] + si;
          out[i] = pixel(tab, f.y[yOff[i] + s], lc[0], lc[1]);
        }
      }
    }
  }
  return true;
}

}  // namespace uikit::render

#include "plugins/render/VideoFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace uikit::render {

namespace {

using O = quartz::CGImagePropertyOrientation;

bool swapsAxes(O o) { return o == O::left || o == O::right || o == O::leftMirrored || o == O::rightMirrored; }

// BT.601 video range to RGB in 16.16 fixed point.
inline std::uint32_t pixel(int y, int cb, int cr) {
  const int c = (y - 16) * 76309;
  const int d = cb - 128, e = cr - 128;
  const int r = (c + 104597 * e + 32768) >> 16;
  const int g = (c - 25675 * d - 53279 * e + 32768) >> 16;
  const int b = (c + 132201 * d + 32768) >> 16;
  auto clamp = [](int v) { return static_cast<std::uint32_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  return 0xFF000000u | (clamp(r) << 16) | (clamp(g) << 8) | clamp(b);
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
        out[i] = pixel(ly[c], lc[ci], lc[ci + 1]);
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
  for (int cy = y0; cy < y1; ++cy) {
    int s = 0, t = 0;
    stored(0, rowShown[static_cast<std::size_t>(cy - y0)], s, t);
    const int si = s & ~1;
    auto* out =
        reinterpret_cast<std::uint32_t*>(into.pixels + static_cast<std::size_t>(cy) * into.stride) + x0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const std::uint8_t* lc = f.cbcr + cOff[i] + si;
      out[i] = pixel(f.y[yOff[i] + s], lc[0], lc[1]);
    }
  }
  return true;
}

}  // namespace uikit::render

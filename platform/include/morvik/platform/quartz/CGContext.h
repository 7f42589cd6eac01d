// A bitmap drawing context: premultiplied BGRA, 8 bits per component.
// User space has its origin at the top left with y down, in points; the base
// transform scales points to pixels. Not thread-safe: one thread draws into a
// context at a time (different contexts on different threads are fine).
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include <morvik/platform/quartz/CGColor.h>
#include <morvik/platform/quartz/CGGeometry.h>
#include <morvik/platform/quartz/CGImage.h>
#include <morvik/platform/quartz/CGPath.h>

namespace quartz {

class CGContext {
 public:
  // A transparent (or, when opaque, black) bitmap of the given size in
  // pixels; `scale` pixels per point. Sizes of 0 give a context that draws
  // nothing and makes no image.
  CGContext(std::size_t pixelWidth, std::size_t pixelHeight, CGFloat scale = 1, bool opaque = false);
  ~CGContext();
  CGContext(const CGContext&) = delete;
  CGContext& operator=(const CGContext&) = delete;

  std::size_t width() const { return width_; }    // pixels
  std::size_t height() const { return height_; }  // pixels
  CGFloat scale() const { return scale_; }
  bool isOpaque() const { return opaque_; }

  // Current transformation matrix (user space to pixels).
  CGAffineTransform ctm() const { return state_.ctm; }
  void translateBy(CGFloat x, CGFloat y);
  void scaleBy(CGFloat x, CGFloat y);
  void rotate(CGFloat by);  // radians; positive turns clockwise on screen (y down)
  void concatenate(const CGAffineTransform& transform);
  void saveGState();
  void restoreGState();  // unmatched restores are ignored

  void setFillColor(const CGColor& color);
  void setAlpha(CGFloat alpha);
  // Fills a rectangle (user space) with the fill colour, source-over.
  void fill(const CGRect& rect);
  // Fills a path (user space) with the fill colour.
  void fillPath(const CGPath& path, CGPathFillRule rule = CGPathFillRule::winding);
  // Draws the image so that its first row is at the top of `rect` (user
  // space) and it fills the rectangle, source-over, bilinear filtering.
  void draw(const CGImage& image, const CGRect& in);

  // A snapshot of the pixels (premultiplied BGRA); null for an empty context.
  CGImageRef makeImage() const;
  // Direct pixel access for readers (BGRA rows of bytesPerRow()).
  const std::uint8_t* data() const;
  std::size_t bytesPerRow() const { return width_ * 4; }

 private:
  struct State {
    CGAffineTransform ctm;
    CGColor fill = CGColor::black();
    CGFloat alpha = 1;
  };
  std::size_t width_, height_;
  CGFloat scale_;
  bool opaque_;
  std::vector<std::uint8_t> pixels_;
  State state_;
  std::vector<State> stack_;
};

}  // namespace quartz

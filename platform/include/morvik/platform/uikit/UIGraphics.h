// Image contexts for redrawing images: a stack of bitmap contexts per thread
// (UIGraphicsBeginImageContextWithOptions style) and UIGraphicsImageRenderer.
// User space is in points, origin top left, y down. Each thread has its own
// context stack, so background queues may redraw images.
#pragma once

#include <functional>
#include <memory>

#include <morvik/platform/quartz/CGContext.h>
#include <morvik/platform/quartz/UIBezierPath.h>
#include <morvik/platform/uikit/UIImage.h>

namespace uikit {

// UIBezierPath lives in the quartz layer; UIKit code names it from here too.
using quartz::UIBezierPath;

// Pushes a new context of `size` points; a scale of 0 means 1 (there is no
// screen scale here). A size with no pixels pushes a context that yields no image.
void UIGraphicsBeginImageContextWithOptions(quartz::CGSize size, bool opaque, quartz::CGFloat scale);
// The calling thread's top context; null when none.
quartz::CGContext* UIGraphicsGetCurrentContext();
// The top context's pixels as an image of the context's scale; null when
// there is no context or it has no pixels.
std::shared_ptr<UIImage> UIGraphicsGetImageFromCurrentImageContext();
// Pops the top context; does nothing when none.
void UIGraphicsEndImageContext();

struct UIGraphicsImageRendererFormat {
  quartz::CGFloat scale = 1;
  bool opaque = false;
};

class UIGraphicsImageRendererContext {
 public:
  explicit UIGraphicsImageRendererContext(quartz::CGContext& context) : context_(context) {}
  quartz::CGContext& cgContext() const { return context_; }
  // Fills a rectangle with the context's current fill colour.
  void fill(const quartz::CGRect& rect) const { context_.fill(rect); }

 private:
  quartz::CGContext& context_;
};

class UIGraphicsImageRenderer {
 public:
  explicit UIGraphicsImageRenderer(quartz::CGSize size, UIGraphicsImageRendererFormat format = {});
  // Runs the actions with the new context pushed as current, then answers
  // the image (null when the size has no pixels).
  std::shared_ptr<UIImage> image(const std::function<void(UIGraphicsImageRendererContext&)>& actions) const;

 private:
  quartz::CGSize size_;
  UIGraphicsImageRendererFormat format_;
};

}  // namespace uikit

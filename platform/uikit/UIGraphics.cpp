#include <morvik/platform/uikit/UIGraphics.h>

#include <cmath>
#include <vector>

namespace uikit {

namespace {

// Each thread draws into its own stack of contexts.
thread_local std::vector<std::unique_ptr<quartz::CGContext>> contexts;

std::size_t pixels(quartz::CGFloat points, quartz::CGFloat scale) {
  const double v = points * scale;
  if (!(v > 0) || !std::isfinite(v)) return 0;
  return static_cast<std::size_t>(std::ceil(v - 1e-9));
}

quartz::CGFloat effectiveScale(quartz::CGFloat scale) {
  return scale > 0 && std::isfinite(scale) ? scale : 1;
}

}  // namespace

void UIGraphicsBeginImageContextWithOptions(quartz::CGSize size, bool opaque, quartz::CGFloat scale) {
  const quartz::CGFloat s = effectiveScale(scale);
  contexts.push_back(
      std::make_unique<quartz::CGContext>(pixels(size.width, s), pixels(size.height, s), s, opaque));
}

quartz::CGContext* UIGraphicsGetCurrentContext() {
  return contexts.empty() ? nullptr : contexts.back().get();
}

std::shared_ptr<UIImage> UIGraphicsGetImageFromCurrentImageContext() {
  if (contexts.empty()) return nullptr;
  const quartz::CGContext& c = *contexts.back();
  return UIImage::make(c.makeImage(), c.scale(), UIImage::Orientation::up);
}

void UIGraphicsEndImageContext() {
  if (!contexts.empty()) contexts.pop_back();
}

UIGraphicsImageRenderer::UIGraphicsImageRenderer(quartz::CGSize size, UIGraphicsImageRendererFormat format)
    : size_(size), format_(format) {}

std::shared_ptr<UIImage> UIGraphicsImageRenderer::image(
    const std::function<void(UIGraphicsImageRendererContext&)>& actions) const {
  UIGraphicsBeginImageContextWithOptions(size_, format_.opaque, format_.scale);
  // Pops the context even when the actions throw.
  struct Pop {
    ~Pop() { UIGraphicsEndImageContext(); }
  } pop;
  UIGraphicsImageRendererContext context(*UIGraphicsGetCurrentContext());
  if (actions) actions(context);
  return UIGraphicsGetImageFromCurrentImageContext();
}

}  // namespace uikit

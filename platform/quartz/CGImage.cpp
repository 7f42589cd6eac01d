#include <morvik/platform/quartz/CGImage.h>

#include <algorithm>
#include <vector>

namespace quartz {

CGImage::CGImage(std::size_t width, std::size_t height, std::size_t bytesPerRow, CGImagePixelFormat format,
                 const std::uint8_t* data, std::shared_ptr<const void> owner)
    : width_(width),
      height_(height),
      bytesPerRow_(bytesPerRow),
      format_(format),
      data_(data),
      owner_(std::move(owner)) {}

std::size_t CGImage::bytesPerPixel() const { return format_ == CGImagePixelFormat::gray8 ? 1 : 4; }

std::shared_ptr<CGImage> CGImage::make(std::size_t width, std::size_t height, CGImagePixelFormat format) {
  const std::size_t bpp = format == CGImagePixelFormat::gray8 ? 1 : 4;
  auto storage = std::make_shared<std::vector<std::uint8_t>>(width * height * bpp, 0);
  auto image = std::make_shared<CGImage>(width, height, width * bpp, format, storage->data(), storage);
  image->mutable_ = storage->data();
  return image;
}

std::shared_ptr<CGImage> CGImage::cropping(std::size_t x, std::size_t y, std::size_t w, std::size_t h) const {
  if (x >= width_ || y >= height_ || w == 0 || h == 0) return nullptr;
  const std::size_t cw = std::min(w, width_ - x), ch = std::min(h, height_ - y);
  const std::uint8_t* start = data_ + y * bytesPerRow_ + x * bytesPerPixel();
  return std::make_shared<CGImage>(cw, ch, bytesPerRow_, format_, start, owner_);
}

}  // namespace quartz

#include "morvik/platform/corevideo/CoreVideo.h"

#include <stdexcept>
#include <vector>

namespace corevideo {

namespace {
std::size_t alignUp(std::size_t v, std::size_t a) { return (v + a - 1) / a * a; }
}  // namespace

std::shared_ptr<CVPixelBuffer> CVPixelBuffer::create(std::size_t width, std::size_t height, OSType format) {
  auto buffer = std::shared_ptr<CVPixelBuffer>(new CVPixelBuffer());
  buffer->width_ = width;
  buffer->height_ = height;
  buffer->format_ = format;
  buffer->owned_ = true;
  std::size_t total = 0;
  if (format == kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange ||
      format == kCVPixelFormatType_420YpCbCr8BiPlanarFullRange) {
    // Rows aligned to 64 bytes, as camera buffers usually are.
    const std::size_t stride = alignUp(width == 0 ? 1 : width, 64);
    const std::size_t chromaW = (width + 1) / 2, chromaH = (height + 1) / 2;
    buffer->planeCount_ = 2;
    buffer->planes_[0] = {nullptr, width, height, stride};
    buffer->planes_[1] = {nullptr, chromaW, chromaH, stride};
    total = stride * height + stride * chromaH;
  } else if (format == kCVPixelFormatType_32BGRA) {
    const std::size_t stride = alignUp(width * 4 == 0 ? 4 : width * 4, 64);
    buffer->planeCount_ = 1;
    buffer->planes_[0] = {nullptr, width, height, stride};
    total = stride * height;
  } else {
    throw std::invalid_argument("CVPixelBuffer: unsupported pixel format");
  }
  auto storage = std::make_shared<std::vector<std::uint8_t>>(total, std::uint8_t{0});
  std::uint8_t* base = storage->data();
  buffer->planes_[0].base = base;
  if (buffer->planeCount_ == 2) buffer->planes_[1].base = base + buffer->planes_[0].bytesPerRow * height;
  buffer->owner_ = std::move(storage);
  return buffer;
}

std::shared_ptr<CVPixelBuffer> CVPixelBuffer::wrapPlanes(std::size_t width, std::size_t height, OSType format,
                                                         const CVPlane* planes, std::size_t planeCount,
                                                         std::shared_ptr<const void> owner) {
  if (planes == nullptr || planeCount == 0 || planeCount > 2) {
    throw std::invalid_argument("CVPixelBuffer: one or two planes expected");
  }
  auto buffer = std::shared_ptr<CVPixelBuffer>(new CVPixelBuffer());
  buffer->width_ = width;
  buffer->height_ = height;
  buffer->format_ = format;
  buffer->planeCount_ = planeCount;
  for (std::size_t i = 0; i < planeCount; ++i) buffer->planes_[i] = planes[i];
  buffer->owner_ = std::move(owner);
  return buffer;
}

std::uint8_t* CVPixelBuffer::mutablePlaneBase(std::size_t index) const {
  if (!owned_ || index >= planeCount_) return nullptr;
  // The storage was allocated by create() and belongs to this buffer.
  return const_cast<std::uint8_t*>(planes_[index].base);
}

}  // namespace corevideo

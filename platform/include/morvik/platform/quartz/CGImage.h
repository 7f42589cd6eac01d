// Core Graphics bitmap images: immutable, shared, 8 bits per component.
// An image may view memory owned by someone else (a camera frame, a decoded
// file); `owner` keeps that memory alive for as long as any copy of the image
// exists, so handing an image to OpenCV, dlib, ZXing or Tesseract needs no copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quartz {

// Orientation of image data, with the platform's raw values.
enum class CGImagePropertyOrientation : std::uint32_t {
  up = 1,
  upMirrored = 2,
  down = 3,
  downMirrored = 4,
  leftMirrored = 5,
  right = 6,
  rightMirrored = 7,
  left = 8,
};

enum class CGImagePixelFormat {
  gray8,  // 1 byte per pixel
  bgra8,  // 4 bytes per pixel, B G R A in memory (OpenCV's order), alpha premultiplied
  rgba8,  // 4 bytes per pixel, R G B A in memory
};

class CGImage {
 public:
  // Copies nothing: `data` must stay valid while `owner` lives.
  CGImage(std::size_t width, std::size_t height, std::size_t bytesPerRow, CGImagePixelFormat format,
          const std::uint8_t* data, std::shared_ptr<const void> owner);

  // Allocates a new zeroed image that this object owns.
  static std::shared_ptr<CGImage> make(std::size_t width, std::size_t height, CGImagePixelFormat format);

  std::size_t width() const { return width_; }
  std::size_t height() const { return height_; }
  std::size_t bytesPerRow() const { return bytesPerRow_; }
  std::size_t bitsPerComponent() const { return 8; }
  std::size_t bytesPerPixel() const;
  CGImagePixelFormat pixelFormat() const { return format_; }
  const std::uint8_t* data() const { return data_; }
  // Writable access for the creator of an owned image (make()); null for views.
  std::uint8_t* mutableData() const { return mutable_; }
  // Crops share memory with the source (a view); null when the rectangle
  // (in pixels, origin top left) does not intersect the image.
  std::shared_ptr<CGImage> cropping(std::size_t x, std::size_t y, std::size_t w, std::size_t h) const;

 private:
  std::size_t width_, height_, bytesPerRow_;
  CGImagePixelFormat format_;
  const std::uint8_t* data_;
  std::uint8_t* mutable_ = nullptr;
  std::shared_ptr<const void> owner_;
};

using CGImageRef = std::shared_ptr<CGImage>;

}  // namespace quartz

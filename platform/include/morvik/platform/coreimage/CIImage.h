// Core Image: immutable image recipes (CIImage) and a context that renders
// them to bitmaps (CIContext).
//
// Coordinates are Core Image's: origin at the lower left of the source image,
// y growing upward, in pixels. A CIImage is a cheap value sharing its source;
// it may be used from any thread. A CIContext may be shared between threads.
#pragma once

#include <memory>

#include "morvik/platform/corevideo/CoreVideo.h"
#include "morvik/platform/quartz/CGGeometry.h"
#include "morvik/platform/quartz/CGImage.h"

namespace coreimage {

class CIImage {
 public:
  // The empty image (extent empty; renders nothing).
  CIImage() = default;
  // CIImage(cgImage:) and CIImage(cvPixelBuffer:): the source is shared, not copied.
  explicit CIImage(quartz::CGImageRef cgImage);
  explicit CIImage(corevideo::CVPixelBufferRef cvPixelBuffer);

  // The part of the source the image covers: (0, 0, width, height) for a
  // whole source, narrowed by cropping.
  quartz::CGRect extent() const { return extent_; }
  bool isEmpty() const { return extent_.isEmpty(); }

  // The image limited to `to` (intersected with the extent; fractional edges
  // are kept in the extent and rounded outward when rendering).
  CIImage cropped(const quartz::CGRect& to) const;

  // The sources (one of them is set unless the image is empty).
  const quartz::CGImageRef& cgImage() const { return cgImage_; }
  const corevideo::CVPixelBufferRef& pixelBuffer() const { return pixelBuffer_; }
  // Size of the whole source in pixels.
  quartz::CGSize sourceSize() const;

 private:
  quartz::CGImageRef cgImage_;
  corevideo::CVPixelBufferRef pixelBuffer_;
  quartz::CGRect extent_ = quartz::CGRect::null();
};

class CIContext : public std::enable_shared_from_this<CIContext> {
 public:
  CIContext() = default;
  static std::shared_ptr<CIContext> make() { return std::make_shared<CIContext>(); }

  // Renders the part `from` (Core Image coordinates) of the image to a new
  // bitmap: grey sources give gray8, colour sources bgra8. `from` is
  // intersected with the image's extent and rounded outward to whole pixels;
  // null when nothing is left or the source cannot be read.
  quartz::CGImageRef createCGImage(const CIImage& image, const quartz::CGRect& from) const;
};

}  // namespace coreimage

// Core Video pixel buffers. A CVPixelBuffer is a reference-counted frame
// (shared_ptr) holding one or two planes; camera frames are NV12 (biplanar
// 4:2:0: a full-size Y plane, then a half-size interleaved CbCr plane).
// Planes may view memory owned by someone else (zero copy); `owner` keeps it
// alive. Lock/unlock of the base address exist for fidelity and do nothing.
//
// A layer of its own, below the camera (avf), image analysis (vision) and
// image rendering (coreimage) layers, which all take pixel buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace corevideo {

using OSType = std::uint32_t;
inline constexpr OSType kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange = 0x34323076;  // '420v'
inline constexpr OSType kCVPixelFormatType_420YpCbCr8BiPlanarFullRange = 0x34323066;   // '420f'
inline constexpr OSType kCVPixelFormatType_32BGRA = 0x42475241;                        // 'BGRA'

struct CVPlane {
  const std::uint8_t* base = nullptr;
  std::size_t width = 0;  // in samples of this plane (CbCr pairs count once)
  std::size_t height = 0;
  std::size_t bytesPerRow = 0;
};

class CVPixelBuffer {
 public:
  // Allocates an owned buffer of the format (NV12 video/full range or BGRA).
  static std::shared_ptr<CVPixelBuffer> create(std::size_t width, std::size_t height, OSType format);
  // Views planes owned elsewhere; copies nothing.
  static std::shared_ptr<CVPixelBuffer> wrapPlanes(std::size_t width, std::size_t height, OSType format,
                                                   const CVPlane* planes, std::size_t planeCount,
                                                   std::shared_ptr<const void> owner);

  std::size_t width() const { return width_; }
  std::size_t height() const { return height_; }
  OSType pixelFormatType() const { return format_; }
  bool isPlanar() const { return planeCount_ > 1; }
  std::size_t planeCount() const { return planeCount_; }
  const CVPlane& plane(std::size_t index) const { return planes_[index]; }
  std::uint8_t* mutablePlaneBase(std::size_t index) const;  // null for views
  std::size_t bytesPerRowOfPlane(std::size_t index) const { return planes_[index].bytesPerRow; }
  std::size_t widthOfPlane(std::size_t index) const { return planes_[index].width; }
  std::size_t heightOfPlane(std::size_t index) const { return planes_[index].height; }

 private:
  CVPixelBuffer() = default;
  std::size_t width_ = 0, height_ = 0, planeCount_ = 0;
  OSType format_ = 0;
  CVPlane planes_[2]{};
  bool owned_ = false;
  std::shared_ptr<const void> owner_;
};

using CVPixelBufferRef = std::shared_ptr<CVPixelBuffer>;
using CVImageBuffer = CVPixelBuffer;

inline void CVPixelBufferLockBaseAddress(const CVPixelBufferRef&, int) {}
inline void CVPixelBufferUnlockBaseAddress(const CVPixelBufferRef&, int) {}

}  // namespace corevideo

// Pixel buffers now live in the corevideo layer (<morvik/platform/corevideo.h>);
// this header keeps their avf:: names for code written against it.
#pragma once

#include "morvik/platform/corevideo/CoreVideo.h"

namespace avf {

using corevideo::CVImageBuffer;
using corevideo::CVPixelBuffer;
using corevideo::CVPixelBufferLockBaseAddress;
using corevideo::CVPixelBufferRef;
using corevideo::CVPixelBufferUnlockBaseAddress;
using corevideo::CVPlane;
using corevideo::kCVPixelFormatType_32BGRA;
using corevideo::kCVPixelFormatType_420YpCbCr8BiPlanarFullRange;
using corevideo::kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange;
using corevideo::OSType;

}  // namespace avf

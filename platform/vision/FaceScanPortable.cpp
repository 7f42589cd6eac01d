// The face scan's portable build, for processors without AVX2 (or without
// the plugin). The only file of the library that compiles dlib's detector;
// the sanitizer builds leave it uninstrumented (see platform/CMakeLists.txt).
#include "vision/FaceScan.h"

namespace vision::detail {

void* portableFaceScannerNew(unsigned long levels) { return facescan::create(levels); }

void portableFaceScannerDelete(void* scanner) { facescan::destroy(scanner); }

long portableFaceScannerScan(void* scanner, const unsigned char* pixels, long width, long height,
                             long bytesPerRow, long* boxes, long maxBoxes) {
  return facescan::scan(scanner, pixels, width, height, bytesPerRow, boxes, maxBoxes);
}

}  // namespace vision::detail

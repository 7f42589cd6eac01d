// dlib's HOG face scan compiled for processors with AVX2: a plugin that the
// platform library loads (platform/vision/Faces.cpp) only on a processor that
// has it, so the library itself still runs on any x86-64. Its symbols stay
// inside it (hidden, bound here): the library's own, portable copies of the
// same dlib templates are never replaced by these, nor these by those.
#include "vision/FaceScan.h"

namespace facescan = vision::detail::facescan;

extern "C" {

__attribute__((visibility("default"))) void* morvik_faces_scanner_new(unsigned long levels) {
  return facescan::create(levels);
}

__attribute__((visibility("default"))) void morvik_faces_scanner_delete(void* scanner) {
  facescan::destroy(scanner);
}

__attribute__((visibility("default"))) long morvik_faces_scanner_scan(void* scanner,
                                                                      const unsigned char* pixels, long width,
                                                                      long height, long bytesPerRow,
                                                                      long* boxes, long maxBoxes) {
  return facescan::scan(scanner, pixels, width, height, bytesPerRow, boxes, maxBoxes);
}

}  // extern "C"

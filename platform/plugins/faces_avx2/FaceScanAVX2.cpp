// dlib's HOG face scan compiled for processors with AVX2: a plugin that the
// platform library loads (platform/vision/Faces.cpp) only on a processor that
// has it, so the library itself still runs on any x86-64. Its symbols stay
// inside it (hidden, bound here): the library's own, portable copies of the
// same dlib templates are never replaced by these, nor these by those.
#include <dlib/opencv/cv_image.h>

#include <opencv2/core.hpp>

#include "vision/FaceScan.h"

namespace {

// Read once per process (about 0.3 s) and never destroyed, like the library's models.
const dlib::frontal_face_detector& prototype() {
  static const auto* detector = new dlib::frontal_face_detector(dlib::get_frontal_face_detector());
  return *detector;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void* morvik_faces_scanner_new(unsigned long levels) {
  try {
    return new dlib::frontal_face_detector(vision::detail::withPyramidLevels(prototype(), levels));
  } catch (...) {
    return nullptr;
  }
}

__attribute__((visibility("default"))) void morvik_faces_scanner_delete(void* scanner) {
  delete static_cast<dlib::frontal_face_detector*>(scanner);
}

__attribute__((visibility("default"))) long morvik_faces_scanner_scan(void* scanner,
                                                                      const unsigned char* pixels, long width,
                                                                      long height, long bytesPerRow,
                                                                      long* boxes, long maxBoxes) {
  if (!scanner || !pixels || width <= 0 || height <= 0 || bytesPerRow < width) return -1;
  try {
    const cv::Mat grey(int(height), int(width), CV_8UC1, const_cast<unsigned char*>(pixels),
                       std::size_t(bytesPerRow));
    const std::vector<dlib::rectangle> found =
        (*static_cast<dlib::frontal_face_detector*>(scanner))(dlib::cv_image<unsigned char>(grey));
    for (std::size_t i = 0; i < found.size() && long(i) < maxBoxes; ++i) {
      boxes[4 * i] = found[i].left();
      boxes[4 * i + 1] = found[i].top();
      boxes[4 * i + 2] = found[i].right();
      boxes[4 * i + 3] = found[i].bottom();
    }
    return long(found.size());
  } catch (...) {
    return -1;
  }
}

}  // extern "C"

// Internal: dlib's frontal face detector as Faces.cpp scans with it. Built
// twice: into the platform library for any x86-64 processor
// (FaceScanPortable.cpp), and into the plugin platform/plugins/faces_avx2 for
// processors with AVX2, where dlib's filters run on eight floats at a time
// instead of four (the same results, about a sixth sooner for a frame). Both
// builds share the code below and Faces.cpp calls either through the same
// entry points, so it never includes dlib's detector itself.
#pragma once

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>

#include <opencv2/core.hpp>
#include <vector>

namespace vision::detail {

// `detector`'s filters on at most `levels` pyramid levels (all of them when 0).
inline dlib::frontal_face_detector withPyramidLevels(const dlib::frontal_face_detector& detector,
                                                     unsigned long levels) {
  if (levels == 0) return detector;
  std::vector<dlib::frontal_face_detector::feature_vector_type> filters;
  for (unsigned long i = 0; i < detector.num_detectors(); ++i) filters.push_back(detector.get_w(i));
  dlib::frontal_face_detector::image_scanner_type scanner;
  scanner.copy_configuration(detector.get_scanner());
  scanner.set_max_pyramid_levels(levels);
  return dlib::frontal_face_detector(scanner, detector.get_overlap_tester(), filters);
}

// The entry points (the plugin's have C linkage and are looked up by name).
// morvik_faces_scanner_new(levels): a scanner of its own for one thread, on `levels` pyramid levels
//   (0: all); null when it cannot be made.
// morvik_faces_scanner_delete(scanner)
// morvik_faces_scanner_scan(scanner, pixels, width, height, bytesPerRow, boxes, maxBoxes): scans an
//   upright 8-bit grey image; writes up to maxBoxes boxes as left, top, right, bottom (inclusive
//   pixels, dlib's order: strongest first) and returns how many were found, or -1 when it failed.
using FaceScannerNew = void* (*)(unsigned long);
using FaceScannerDelete = void (*)(void*);
using FaceScannerScan = long (*)(void*, const unsigned char*, long, long, long, long*, long);

// The portable build's entry points, in the platform library.
void* portableFaceScannerNew(unsigned long levels);
void portableFaceScannerDelete(void* scanner);
long portableFaceScannerScan(void* scanner, const unsigned char* pixels, long width, long height,
                             long bytesPerRow, long* boxes, long maxBoxes);

// What both builds' entry points run.
namespace facescan {

// Read once per process (about 0.3 s) and never destroyed, like the landmark model: a worker may still
// scan while exit runs the static destructors.
inline const dlib::frontal_face_detector& prototype() {
  static const auto* detector = new dlib::frontal_face_detector(dlib::get_frontal_face_detector());
  return *detector;
}

inline void* create(unsigned long levels) {
  try {
    return new dlib::frontal_face_detector(withPyramidLevels(prototype(), levels));
  } catch (...) {
    return nullptr;
  }
}

inline void destroy(void* scanner) { delete static_cast<dlib::frontal_face_detector*>(scanner); }

inline long scan(void* scanner, const unsigned char* pixels, long width, long height, long bytesPerRow,
                 long* boxes, long maxBoxes) {
  if (!scanner || !pixels || width <= 0 || height <= 0 || bytesPerRow < width) return -1;
  if (maxBoxes > 0 && !boxes) return -1;
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

}  // namespace facescan

}  // namespace vision::detail

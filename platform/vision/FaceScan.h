// Internal: dlib's frontal face detector as Faces.cpp scans with it. Built
// twice: into the platform library for any x86-64 processor, and into the
// plugin platform/plugins/faces_avx2 for processors with AVX2, where dlib's
// filters run on eight floats at a time instead of four (the same results,
// about a sixth sooner for a frame).
#pragma once

#include <dlib/image_processing/frontal_face_detector.h>

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

// The plugin's entry points (C linkage, looked up by name).
// morvik_faces_scanner_new(levels): a scanner of its own for one thread, on `levels` pyramid levels
//   (0: all); null when it cannot be made.
// morvik_faces_scanner_delete(scanner)
// morvik_faces_scanner_scan(scanner, pixels, width, height, bytesPerRow, boxes, maxBoxes): scans an
//   upright 8-bit grey image; writes up to maxBoxes boxes as left, top, right, bottom (inclusive
//   pixels, dlib's order: strongest first) and returns how many were found, or -1 when it failed.
using FaceScannerNew = void* (*)(unsigned long);
using FaceScannerDelete = void (*)(void*);
using FaceScannerScan = long (*)(void*, const unsigned char*, long, long, long, long*, long);

}  // namespace vision::detail

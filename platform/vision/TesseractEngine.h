// Internal: Tesseract, the accurate text level's engine, behind a small
// interface so that nothing else in the layer needs its headers.
#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace tesseract {
class TessBaseAPI;
}

namespace vision::detail {

// An engine borrowed from the process's pool for one request on the calling
// thread. Engines cost 60-70 ms to start, so they are kept and handed from
// thread to thread; all are ended at exit, before Tesseract's own caches are
// torn down (which otherwise print leak warnings). The calling thread's
// OpenMP regions are made serial: Tesseract's teams, per calling thread,
// otherwise pile up and spin across engines.
class TesseractLease {
 public:
  // With `languageCorrection`, the dictionaries are loaded (chosen at start).
  explicit TesseractLease(bool languageCorrection);
  ~TesseractLease();
  TesseractLease(const TesseractLease&) = delete;
  TesseractLease& operator=(const TesseractLease&) = delete;

  // False when the English model could not be loaded.
  bool ok() const { return api_ != nullptr; }

  // Reads one straightened grey line; `confidence` 0 to 1.
  std::string readLine(const cv::Mat& line, float* confidence);

 private:
  tesseract::TessBaseAPI* api_ = nullptr;
  bool languageCorrection_;
};

}  // namespace vision::detail

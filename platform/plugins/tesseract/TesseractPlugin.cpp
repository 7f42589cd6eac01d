// Tesseract engines for the accurate text level, built as a plugin that the
// platform library loads when the accurate level first runs: Tesseract and
// what it links (Leptonica's image formats, ICU, OpenMP...) stay out of hosts
// that never read text that way. The platform's side is TesseractEngine.cpp.
#include <tesseract/baseapi.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Weak: the layer must not need OpenMP when Tesseract is built without it.
extern "C" void omp_set_max_active_levels(int) __attribute__((weak));

namespace vision::detail {

namespace {

void endEngine(tesseract::TessBaseAPI* api) {
  api->End();
  delete api;
}

struct Pool {
  std::mutex lock;
  std::vector<tesseract::TessBaseAPI*> idle[2];  // without, with language correction
  bool closed = false;
};

void closePool();

// Never destroyed: engines still lent at exit are ended by their borrower.
Pool& pool() {
  static Pool* p = new Pool;
  return *p;
}

void closePool() {
  Pool& p = pool();
  std::vector<tesseract::TessBaseAPI*> ending;
  {
    std::lock_guard<std::mutex> guard(p.lock);
    p.closed = true;
    for (auto& list : p.idle) {
      ending.insert(ending.end(), list.begin(), list.end());
      list.clear();
    }
  }
  for (auto* api : ending) endEngine(api);
}

tesseract::TessBaseAPI* startEngine(bool languageCorrection) {
  auto api = std::make_unique<tesseract::TessBaseAPI>();
  std::vector<std::string> names, values;
  if (!languageCorrection) {
    names = {"load_system_dawg", "load_freq_dawg"};
    values = {"0", "0"};
  }
  {
    // Init also writes Tesseract's process-wide parameters: one thread at a time.
    static std::mutex initLock;
    std::lock_guard<std::mutex> guard(initLock);
    if (api->Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY, nullptr, 0, &names, &values, false) != 0) {
      api->End();
      return nullptr;
    }
  }
  // Registered once an engine has started, and so after the caches Tesseract
  // builds on its first start: exit then ends the engines before the caches.
  static const bool closesAtExit = std::atexit(closePool) == 0;
  (void)closesAtExit;
  // A line read with low certainty is otherwise read a second time inverted
  // (light print on dark ground), which doubles the cost of every hard line.
  api->SetVariable("tessedit_do_invert", "0");
  return api.release();
}

std::string trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

}  // namespace

}  // namespace vision::detail

using vision::detail::pool;

extern "C" {

// An engine for one request on the calling thread, from the pool or newly
// started; null when the English model cannot be loaded.
__attribute__((visibility("default"))) void* morvik_tesseract_acquire(int languageCorrection) {
  // Tesseract parallelises inside a line with OpenMP teams of a fixed size;
  // each calling thread gets its own team whose workers spin while they wait,
  // so teams of many threads fight over the cores. Serial regions on the
  // calling thread cost nothing measurable and leave no threads behind.
  thread_local bool serial = false;
  if (!serial && omp_set_max_active_levels) {
    omp_set_max_active_levels(0);
    serial = true;
  }
  auto& p = pool();
  {
    std::lock_guard<std::mutex> guard(p.lock);
    auto& list = p.idle[languageCorrection ? 1 : 0];
    if (!list.empty()) {
      auto* api = list.back();
      list.pop_back();
      return api;
    }
  }
  return vision::detail::startEngine(languageCorrection != 0);
}

__attribute__((visibility("default"))) void morvik_tesseract_release(void* engine, int languageCorrection) {
  auto* api = static_cast<tesseract::TessBaseAPI*>(engine);
  if (!api) return;
  api->Clear();
  auto& p = pool();
  {
    std::lock_guard<std::mutex> guard(p.lock);
    if (!p.closed) {
      p.idle[languageCorrection ? 1 : 0].push_back(api);
      return;
    }
  }
  vision::detail::endEngine(api);
}

// Reads one straightened grey line (8-bit, `step` bytes a row); `confidence` 0 to 1.
__attribute__((visibility("default"))) void morvik_tesseract_read_line(void* engine,
                                                                       const unsigned char* pixels, int width,
                                                                       int height, int step,
                                                                       std::string* text, float* confidence) {
  auto* api = static_cast<tesseract::TessBaseAPI*>(engine);
  api->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
  api->SetImage(pixels, width, height, 1, step);
  api->SetSourceResolution(300);
  std::unique_ptr<char[]> utf8(api->GetUTF8Text());
  *confidence = std::clamp(api->MeanTextConf() / 100.0f, 0.0f, 1.0f);
  *text = utf8 ? vision::detail::trim(utf8.get()) : std::string();
}

}  // extern "C"

// The accurate text level's engine, reached through the plugin that holds
// Tesseract (platform/plugins/tesseract): loaded when the level first runs.
#include "vision/TesseractEngine.h"

#include <mutex>

#include "foundation/PluginLoader.h"
#include "morvik/platform/foundation/Console.h"

namespace vision::detail {

namespace {

struct Plugin {
  void* (*acquire)(int) = nullptr;
  void (*release)(void*, int) = nullptr;
  void (*readLine)(void*, const unsigned char*, int, int, int, std::string*, float*) = nullptr;
};

const Plugin& plugin() {
  static Plugin loaded;
  static std::once_flag once;
  std::call_once(once, [] {
    constexpr const char* kName = "libmorvik_vision_tesseract.so";
    void* handle = foundation::detail::loadPlugin(kName);
    using foundation::detail::pluginSymbol;
    Plugin p;
    p.acquire = reinterpret_cast<decltype(p.acquire)>(pluginSymbol(handle, "morvik_tesseract_acquire"));
    p.release = reinterpret_cast<decltype(p.release)>(pluginSymbol(handle, "morvik_tesseract_release"));
    p.readLine = reinterpret_cast<decltype(p.readLine)>(pluginSymbol(handle, "morvik_tesseract_read_line"));
    if (p.acquire && p.release && p.readLine) {
      loaded = p;
    } else {
      foundation::print(std::string("Accurate text recognition unavailable: ") + kName +
                        " could not be loaded");
    }
  });
  return loaded;
}

}  // namespace

TesseractLease::TesseractLease(bool languageCorrection) : languageCorrection_(languageCorrection) {
  if (plugin().acquire)
    api_ = static_cast<tesseract::TessBaseAPI*>(plugin().acquire(languageCorrection ? 1 : 0));
}

TesseractLease::~TesseractLease() {
  if (api_) plugin().release(api_, languageCorrection_ ? 1 : 0);
}

std::string TesseractLease::readLine(const cv::Mat& line, float* confidence) {
  std::string text;
  plugin().readLine(api_, line.data, line.cols, line.rows, static_cast<int>(line.step), &text, confidence);
  return text;
}

}  // namespace vision::detail

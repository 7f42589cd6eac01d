// Frame sources behind devices: generators and image folders here; video
// files (FFmpeg) and V4L2 cameras (OpenCV video I/O) in a plugin loaded on
// first use.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "Internal.h"
#include "foundation/PluginLoader.h"
#include "morvik/platform/foundation/Console.h"
#include "quartz/ImageCodec.h"

namespace avf::detail {

namespace {

// ----- Generator -------------------------------------------------------------------------

class GeneratorSource final : public FrameSource {
 public:
  explicit GeneratorSource(FrameGenerator g) : generator_(std::move(g)) {}

  CVPixelBufferRef next(std::int64_t index) override {
    VirtualFrame frame = generator_(index);
    if (auto* buffer = std::get_if<CVPixelBufferRef>(&frame)) {
      const auto& b = *buffer;
      if (!b) return nullptr;
      if (b->pixelFormatType() == kCVPixelFormatType_32BGRA) {
        cv::Mat bgra(static_cast<int>(b->height()), static_cast<int>(b->width()), CV_8UC4,
                     const_cast<std::uint8_t*>(b->plane(0).base), b->bytesPerRowOfPlane(0));
        auto bgr = std::make_shared<cv::Mat>();
        cv::cvtColor(bgra, *bgr, cv::COLOR_BGRA2BGR);
        return bgrToNV12({static_cast<std::size_t>(bgr->cols), static_cast<std::size_t>(bgr->rows),
                          bgr->step[0], bgr->data, bgr});
      }
      return b;  // NV12 as it is: no copy
    }
    return bgrToNV12(std::get<BGRFrame>(frame));
  }

 private:
  FrameGenerator generator_;
};

// A file's pixels as BGR; empty when unreadable.
cv::Mat readColour(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  cv::Mat decoded = quartz::codec::decodeImage(bytes.data(), bytes.size());
  if (decoded.channels() == 3) return decoded;
  cv::Mat bgr;
  if (decoded.channels() == 1) cv::cvtColor(decoded, bgr, cv::COLOR_GRAY2BGR);
  if (decoded.channels() == 4) cv::cvtColor(decoded, bgr, cv::COLOR_BGRA2BGR);
  return bgr;
}

// ----- Heavy sources, from the plugin ---------------------------------------------------------

struct HeavySources {
  FrameSource* (*videoFile)(const char*) = nullptr;
  FrameSource* (*realCamera)(int) = nullptr;
};

// Loaded once, kept for the process's life.
const HeavySources& heavySources() {
  static HeavySources sources;
  static std::once_flag once;
  std::call_once(once, [] {
    constexpr const char* kName = "libmorvik_platform_sources.so";
    void* plugin = foundation::detail::loadPlugin(kName);
    if (!plugin) {
      foundation::print(std::string("Video file and camera support unavailable: ") + kName +
                        " could not be loaded");
      return;
    }
    sources.videoFile = reinterpret_cast<FrameSource* (*)(const char*)>(
        foundation::detail::pluginSymbol(plugin, "morvik_make_video_file_source"));
    sources.realCamera = reinterpret_cast<FrameSource* (*)(int)>(
        foundation::detail::pluginSymbol(plugin, "morvik_make_real_camera_source"));
  });
  return sources;
}

// Found by scanning /dev without loading anything; the plugin comes in when
// the camera is first opened.
class RealCameraSource final : public FrameSource {
 public:
  explicit RealCameraSource(int index) : index_(index) {}

  bool openable() const override {
    const std::string path = "/dev/video" + std::to_string(index_);
    return ::access(path.c_str(), R_OK | W_OK) == 0;
  }

  bool open(int preferredWidth, int preferredHeight) override {
    if (!camera_) {
      const auto make = heavySources().realCamera;
      if (!make) return false;
      camera_.reset(make(index_));
      if (!camera_) return false;
    }
    return camera_->open(preferredWidth, preferredHeight);
  }

  void close() override {
    if (camera_) camera_->close();
  }

  CVPixelBufferRef next(std::int64_t index) override { return camera_ ? camera_->next(index) : nullptr; }

  bool rewind() override { return camera_ && camera_->rewind(); }

 private:
  int index_;
  std::unique_ptr<FrameSource> camera_;
};

// ----- Image folder ----------------------------------------------------------------------------

class ImageFolderSource final : public FrameSource {
 public:
  explicit ImageFolderSource(std::vector<std::string> files) : files_(std::move(files)) {}

  CVPixelBufferRef next(std::int64_t index) override {
    if (index < 0 || static_cast<std::size_t>(index) >= files_.size()) return nullptr;
    if (auto it = cache_.find(index); it != cache_.end()) return it->second;
    auto bgr = std::make_shared<cv::Mat>(readColour(files_[static_cast<std::size_t>(index)]));
    CVPixelBufferRef out;
    if (!bgr->empty()) {
      out = bgrToNV12({static_cast<std::size_t>(bgr->cols), static_cast<std::size_t>(bgr->rows), bgr->step[0],
                       bgr->data, bgr});
    }
    if (!out) {
      // An unreadable file shows as a black frame instead of ending the stream.
      out = CVPixelBuffer::create(640, 480, kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange);
      std::fill_n(out->mutablePlaneBase(0), out->bytesPerRowOfPlane(0) * 480, std::uint8_t{16});
      std::fill_n(out->mutablePlaneBase(1), out->bytesPerRowOfPlane(1) * 240, std::uint8_t{128});
    }
    cache_.emplace(index, out);
    return out;
  }

 private:
  std::vector<std::string> files_;
  std::map<std::int64_t, CVPixelBufferRef> cache_;
};

}  // namespace

std::unique_ptr<FrameSource> makeGeneratorSource(FrameGenerator generator) {
  return std::make_unique<GeneratorSource>(std::move(generator));
}

std::unique_ptr<FrameSource> makeVideoFileSource(const std::string& path) {
  const auto make = heavySources().videoFile;
  if (!make) return nullptr;
  return std::unique_ptr<FrameSource>(make(path.c_str()));
}

std::unique_ptr<FrameSource> makeImageFolderSource(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(path, ec)) {
    if (!entry.is_regular_file(ec)) continue;
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".bmp")
      files.push_back(entry.path().string());
  }
  if (files.empty()) return nullptr;
  std::sort(files.begin(), files.end());
  return std::make_unique<ImageFolderSource>(std::move(files));
}

std::unique_ptr<FrameSource> makeRealCameraSource(int index) {
  return std::make_unique<RealCameraSource>(index);
}

}  // namespace avf::detail

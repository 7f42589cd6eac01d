// Frame sources behind devices: generators, video files (FFmpeg), image
// folders and V4L2 cameras (OpenCV).
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "Internal.h"

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

// ----- Video file (FFmpeg) -----------------------------------------------------------------

struct FormatCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFreer {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

class VideoFileSource final : public FrameSource {
 public:
  bool load(const std::string& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return false;
    format_.reset(raw);
    if (avformat_find_stream_info(format_.get(), nullptr) < 0) return false;
    const AVCodec* codec = nullptr;
    stream_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream_ < 0 || codec == nullptr) return false;
    codec_.reset(avcodec_alloc_context3(codec));
    if (!codec_) return false;
    if (avcodec_parameters_to_context(codec_.get(), format_->streams[stream_]->codecpar) < 0) return false;
    codec_->thread_count = 1;  // one frame at a time: decoding stays on the delivering thread
    if (avcodec_open2(codec_.get(), codec, nullptr) < 0) return false;
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    return frame_ && packet_;
  }

  CVPixelBufferRef next(std::int64_t) override {
    for (;;) {
      const int r = avcodec_receive_frame(codec_.get(), frame_.get());
      if (r == 0) {
        auto out = convert(*frame_);
        av_frame_unref(frame_.get());
        if (out) return out;
        continue;
      }
      if (r == AVERROR_EOF) return nullptr;
      if (r != AVERROR(EAGAIN)) return nullptr;
      if (flushed_) return nullptr;
      // Feed the decoder: the next packet of our stream, or the flush at the end.
      for (;;) {
        const int rr = av_read_frame(format_.get(), packet_.get());
        if (rr < 0) {
          avcodec_send_packet(codec_.get(), nullptr);
          flushed_ = true;
          break;
        }
        const bool ours = packet_->stream_index == stream_;
        if (ours) avcodec_send_packet(codec_.get(), packet_.get());
        av_packet_unref(packet_.get());
        if (ours) break;
      }
    }
  }

  bool rewind() override {
    if (av_seek_frame(format_.get(), stream_, 0, AVSEEK_FLAG_BACKWARD) < 0) return false;
    avcodec_flush_buffers(codec_.get());
    flushed_ = false;
    return true;
  }

 private:
  CVPixelBufferRef convert(const AVFrame& f) {
    const int w = f.width & ~1, h = f.height & ~1;
    if (w <= 0 || h <= 0) return nullptr;
    sws_.reset(sws_getCachedContext(sws_.release(), f.width, f.height, static_cast<AVPixelFormat>(f.format),
                                    w, h, AV_PIX_FMT_NV12, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!sws_) return nullptr;
    auto out = CVPixelBuffer::create(w, h, kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange);
    std::uint8_t* dst[4] = {out->mutablePlaneBase(0), out->mutablePlaneBase(1), nullptr, nullptr};
    int dstStride[4] = {static_cast<int>(out->bytesPerRowOfPlane(0)),
                        static_cast<int>(out->bytesPerRowOfPlane(1)), 0, 0};
    sws_scale(sws_.get(), f.data, f.linesize, 0, f.height, dst, dstStride);
    return out;
  }

  std::unique_ptr<AVFormatContext, FormatCloser> format_;
  std::unique_ptr<AVCodecContext, CodecFreer> codec_;
  std::unique_ptr<AVFrame, FrameFreer> frame_;
  std::unique_ptr<AVPacket, PacketFreer> packet_;
  std::unique_ptr<SwsContext, SwsFreer> sws_;
  int stream_ = -1;
  bool flushed_ = false;
};

// ----- Image folder ----------------------------------------------------------------------------

class ImageFolderSource final : public FrameSource {
 public:
  explicit ImageFolderSource(std::vector<std::string> files) : files_(std::move(files)) {}

  CVPixelBufferRef next(std::int64_t index) override {
    if (index < 0 || static_cast<std::size_t>(index) >= files_.size()) return nullptr;
    if (auto it = cache_.find(index); it != cache_.end()) return it->second;
    auto bgr =
        std::make_shared<cv::Mat>(cv::imread(files_[static_cast<std::size_t>(index)], cv::IMREAD_COLOR));
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

// ----- V4L2 camera -------------------------------------------------------------------------------

class RealCameraSource final : public FrameSource {
 public:
  explicit RealCameraSource(int index) : index_(index) {}

  bool openable() const override {
    const std::string path = "/dev/video" + std::to_string(index_);
    return ::access(path.c_str(), R_OK | W_OK) == 0;
  }

  bool open(int preferredWidth, int preferredHeight) override {
    if (!capture_.open(index_, cv::CAP_V4L2)) return false;
    if (preferredWidth > 0 && preferredHeight > 0) {
      capture_.set(cv::CAP_PROP_FRAME_WIDTH, preferredWidth);
      capture_.set(cv::CAP_PROP_FRAME_HEIGHT, preferredHeight);
    }
    return capture_.isOpened();
  }

  void close() override { capture_.release(); }

  CVPixelBufferRef next(std::int64_t) override {
    auto bgr = std::make_shared<cv::Mat>();
    if (!capture_.isOpened() || !capture_.read(*bgr) || bgr->empty()) return nullptr;
    return bgrToNV12({static_cast<std::size_t>(bgr->cols), static_cast<std::size_t>(bgr->rows), bgr->step[0],
                      bgr->data, bgr});
  }

  bool rewind() override { return capture_.isOpened(); }

 private:
  int index_;
  cv::VideoCapture capture_;
};

}  // namespace

std::unique_ptr<FrameSource> makeGeneratorSource(FrameGenerator generator) {
  return std::make_unique<GeneratorSource>(std::move(generator));
}

std::unique_ptr<FrameSource> makeVideoFileSource(const std::string& path) {
  auto source = std::make_unique<VideoFileSource>();
  if (!source->load(path)) return nullptr;
  return source;
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

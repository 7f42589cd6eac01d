// Frame sources whose libraries are heavy: video files through FFmpeg and
// V4L2 cameras through OpenCV's video I/O. Built as a plugin that the
// platform library loads only when such a source is first asked for, so a
// host that never opens one never loads either library.
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

#include "avf/Internal.h"

namespace avf::detail {

namespace {

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

// ----- V4L2 camera -------------------------------------------------------------------------------

class RealCameraSource final : public FrameSource {
 public:
  explicit RealCameraSource(int index) : index_(index) {}

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

}  // namespace avf::detail

extern "C" {

__attribute__((visibility("default"))) avf::detail::FrameSource* morvik_make_video_file_source(
    const char* path) {
  auto source = std::make_unique<avf::detail::VideoFileSource>();
  if (!path || !source->load(path)) return nullptr;
  return source.release();
}

__attribute__((visibility("default"))) avf::detail::FrameSource* morvik_make_real_camera_source(int index) {
  return new avf::detail::RealCameraSource(index);
}

}  // extern "C"

#include "morvik/platform/avf/AVAssetReader.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "Media.h"

namespace avf {

namespace {

// One added output: its stream, and a decoder when it decodes.
struct OutputState {
  std::shared_ptr<AVAssetReaderTrackOutput> output;
  int stream = -1;
  bool decodes = false;
  OSType pixelFormat = 0;
  media::Codec decoder;
  std::shared_ptr<const CMFormatDescription> format;
  std::deque<media::Packet> waiting;  // demuxed ahead for this output
  std::int64_t packetsRead = 0;
  std::int64_t framesOut = 0;
  bool demuxEnded = false;
  bool flushed = false;
  bool done = false;  // every sample of this output has been handed out
  media::Sws scaler;
};

// Planes that must outlive the pixel buffer that views them.
struct FrameOwner {
  media::Frame frame;
  std::vector<std::uint8_t> chroma;
};

}  // namespace

struct AVAssetReader::Impl {
  std::shared_ptr<const AVURLAsset> asset;
  media::FormatInput format;
  mutable std::mutex m;  // guards everything below but status
  std::atomic<AVAssetReaderStatus> status{AVAssetReaderStatus::unknown};
  std::optional<foundation::NSError> error;
  std::vector<OutputState> outputs;
  media::Packet packet{av_packet_alloc()};
  bool demuxEnded = false;

  void fail(const std::string& message) {
    if (!error) error.emplace("AVFoundationErrorDomain", -11800, message);
    status = AVAssetReaderStatus::failed;
  }

  // Reads packets until one for `out` is waiting; false at the file's end or on failure.
  bool demuxFor(OutputState& out) {
    while (out.waiting.empty()) {
      if (demuxEnded) return false;
      const int r = av_read_frame(format.get(), packet.get());
      if (r == AVERROR_EOF || (r < 0 && avio_feof(format->pb) && format->pb->error == 0)) {
        demuxEnded = true;
        // QuickTime files list every sample, so a file cut short shows;
        // other containers' counts (AVI audio) are not sample counts.
        const bool listsSamples = std::strncmp(format->iformat->name, "mov,", 4) == 0;
        for (auto& o : outputs) {
          o.demuxEnded = true;
          const auto declared = listsSamples ? format->streams[o.stream]->nb_frames : 0;
          if (declared > 0 && o.packetsRead < declared) {
            fail("The file ends early: " + std::to_string(o.packetsRead) + " of " + std::to_string(declared) +
                 " samples could be read");
            return false;
          }
        }
        return false;
      }
      if (r < 0) {
        fail("The file cannot be read (" + media::errorText(r) + ")");
        return false;
      }
      bool taken = false;
      for (auto& o : outputs) {
        if (o.stream != packet->stream_index) continue;
        if ((packet->flags & AV_PKT_FLAG_CORRUPT) != 0) {
          av_packet_unref(packet.get());
          fail("The file's data is damaged");
          return false;
        }
        ++o.packetsRead;
        media::Packet copy(av_packet_alloc());
        av_packet_move_ref(copy.get(), packet.get());
        o.waiting.push_back(std::move(copy));
        taken = true;
        break;
      }
      if (!taken) av_packet_unref(packet.get());
    }
    return true;
  }

  CMSampleBufferRef passThrough(OutputState& out) {
    if (!demuxFor(out)) {
      if (status == AVAssetReaderStatus::reading) finished(out);
      return nullptr;
    }
    media::Packet p = std::move(out.waiting.front());
    out.waiting.pop_front();
    const AVRational tb = format->streams[out.stream]->time_base;
    auto bytes = std::make_shared<const CMBlockBuffer>(std::vector<std::uint8_t>(p->data, p->data + p->size));
    return CMSampleBuffer::make(std::move(bytes), out.format, media::timeFrom(p->pts, tb),
                                media::timeFrom(p->dts, tb), media::timeFrom(p->duration, tb));
  }

  CMSampleBufferRef decode(OutputState& out) {
    media::Frame frame(av_frame_alloc());
    while (true) {
      const int r = avcodec_receive_frame(out.decoder.get(), frame.get());
      const bool corrupt =
          r == 0 && (frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0);
      // A stream cut in mid-group starts with frames that lack their
      // references: those are dropped, as players do. Damage after the first
      // whole frame fails the read.
      if (corrupt && out.framesOut == 0) {
        av_frame_unref(frame.get());
        continue;
      }
      if (r == 0) break;
      if (r == AVERROR_EOF) {
        finished(out);
        return nullptr;
      }
      if (r != AVERROR(EAGAIN)) {
        fail("The video cannot be decoded (" + media::errorText(r) + ")");
        return nullptr;
      }
      if (demuxFor(out)) {
        media::Packet p = std::move(out.waiting.front());
        out.waiting.pop_front();
        const int s = avcodec_send_packet(out.decoder.get(), p.get());
        if (s < 0 && s != AVERROR(EAGAIN)) {
          fail("The video cannot be decoded (" + media::errorText(s) + ")");
          return nullptr;
        }
      } else {
        if (status != AVAssetReaderStatus::reading) return nullptr;
        if (out.flushed) {
          finished(out);
          return nullptr;
        }
        out.flushed = true;
        avcodec_send_packet(out.decoder.get(), nullptr);
      }
    }
    if (frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0) {
      fail("The video's data is damaged");
      return nullptr;
    }
    return toSampleBuffer(out, std::move(frame));
  }

  CMSampleBufferRef toSampleBuffer(OutputState& out, media::Frame frame) {
    const AVStream* stream = format->streams[out.stream];
    const AVRational tb = stream->time_base;
    const std::size_t w = static_cast<std::size_t>(frame->width), h = static_cast<std::size_t>(frame->height);
    auto owner = std::make_shared<FrameOwner>();
    CVPlane planes[2];
    const auto fmt = static_cast<AVPixelFormat>(frame->format);
    const std::size_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    if (fmt == AV_PIX_FMT_NV12) {
      planes[0] = {frame->data[0], w, h, static_cast<std::size_t>(frame->linesize[0])};
      planes[1] = {frame->data[1], cw, ch, static_cast<std::size_t>(frame->linesize[1])};
    } else if (fmt == AV_PIX_FMT_YUV420P || fmt == AV_PIX_FMT_YUVJ420P) {
      // The luma plane is viewed as it is; only the chroma is interleaved.
      owner->chroma.resize(cw * 2 * ch);
      for (std::size_t y = 0; y < ch; ++y) {
        const std::uint8_t* u = frame->data[1] + y * static_cast<std::size_t>(frame->linesize[1]);
        const std::uint8_t* v = frame->data[2] + y * static_cast<std::size_t>(frame->linesize[2]);
        std::uint8_t* uv = owner->chroma.data() + y * cw * 2;
        for (std::size_t x = 0; x < cw; ++x) {
          uv[2 * x] = u[x];
          uv[2 * x + 1] = v[x];
        }
      }
      planes[0] = {frame->data[0], w, h, static_cast<std::size_t>(frame->linesize[0])};
      planes[1] = {owner->chroma.data(), cw, ch, cw * 2};
    } else {
      out.scaler.reset(sws_getCachedContext(out.scaler.release(), frame->width, frame->height, fmt,
                                            frame->width, frame->height, AV_PIX_FMT_NV12, SWS_BICUBIC,
                                            nullptr, nullptr, nullptr));
      media::Frame nv12(av_frame_alloc());
      nv12->format = AV_PIX_FMT_NV12;
      nv12->width = frame->width;
      nv12->height = frame->height;
      if (!out.scaler || av_frame_get_buffer(nv12.get(), 0) < 0) {
        fail("The video's pixel format cannot be converted");
        return nullptr;
      }
      sws_scale(out.scaler.get(), frame->data, frame->linesize, 0, frame->height, nv12->data, nv12->linesize);
      av_frame_copy_props(nv12.get(), frame.get());
      frame = std::move(nv12);
      planes[0] = {frame->data[0], w, h, static_cast<std::size_t>(frame->linesize[0])};
      planes[1] = {frame->data[1], cw, ch, static_cast<std::size_t>(frame->linesize[1])};
    }
    // Timing: the decoder's best guess, else the previous frame's plus one frame.
    const double fps = stream->avg_frame_rate.num > 0 ? av_q2d(stream->avg_frame_rate) : 30.0;
    std::int64_t frameTicks =
        frame->pkt_duration > 0 ? frame->pkt_duration : av_rescale_q(1, av_inv_q(av_d2q(fps, 100000)), tb);
    std::int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) pts = out.framesOut * frameTicks;
    ++out.framesOut;
    owner->frame = std::move(frame);
    auto pixels = CVPixelBuffer::wrapPlanes(w, h, out.pixelFormat, planes, 2, owner);
    return CMSampleBuffer::make(std::move(pixels), media::timeFrom(pts, tb), media::timeFrom(frameTicks, tb));
  }

  // The reader completes once every output has handed out its last sample.
  void finished(OutputState& out) {
    out.done = true;
    for (const auto& o : outputs) {
      if (!o.done) return;
    }
    if (status == AVAssetReaderStatus::reading) status = AVAssetReaderStatus::completed;
  }
};

std::shared_ptr<AVAssetReaderTrackOutput> AVAssetReaderTrackOutput::make(
    std::shared_ptr<const AVAssetTrack> track, std::optional<CFDictionary> outputSettings) {
  return std::shared_ptr<AVAssetReaderTrackOutput>(
      new AVAssetReaderTrackOutput(std::move(track), std::move(outputSettings)));
}

CMSampleBufferRef AVAssetReaderTrackOutput::copyNextSampleBuffer() {
  auto reader = reader_.lock();
  return reader ? reader->next(index_) : nullptr;
}

std::shared_ptr<AVAssetReader> AVAssetReader::make(std::shared_ptr<const AVURLAsset> asset) {
  if (!asset) throw foundation::NSError("AVFoundationErrorDomain", -11800, "No asset to read");
  std::string error;
  auto format = asset->url().isFileURL() ? media::openInput(asset->url().path(), error) : nullptr;
  if (!format) {
    throw foundation::NSError("AVFoundationErrorDomain", -11800,
                              error.empty() ? "Only file URLs can be read" : error);
  }
  auto reader = std::shared_ptr<AVAssetReader>(new AVAssetReader());
  reader->impl_ = std::make_unique<Impl>();
  reader->impl_->asset = std::move(asset);
  reader->impl_->format = std::move(format);
  return reader;
}

AVAssetReader::~AVAssetReader() = default;

bool AVAssetReader::canAdd(const std::shared_ptr<AVAssetReaderTrackOutput>& output) const {
  if (!output || !output->track() || !output->reader_.expired()) return false;
  std::lock_guard lock(impl_->m);
  if (impl_->status != AVAssetReaderStatus::unknown) return false;
  const auto id = output->track()->trackID();
  if (id < 0 || static_cast<unsigned>(id) >= impl_->format->nb_streams) return false;
  for (const auto& o : impl_->outputs) {
    if (o.stream == id) return false;
  }
  const auto* track = impl_->format->streams[id]->codecpar;
  const bool video = track->codec_type == AVMEDIA_TYPE_VIDEO;
  if ((output->track()->mediaType() == AVMediaType::video) != video) return false;
  if (const auto& settings = output->outputSettings()) {
    const auto it = settings->find(kCVPixelBufferPixelFormatTypeKey);
    if (!video || it == settings->end()) return false;
    const auto format = it->second.integer();
    return format && (*format == kCVPixelFormatType_420YpCbCr8BiPlanarVideoRange ||
                      *format == kCVPixelFormatType_420YpCbCr8BiPlanarFullRange);
  }
  return true;
}

void AVAssetReader::add(const std::shared_ptr<AVAssetReaderTrackOutput>& output) {
  if (!canAdd(output)) return;
  std::lock_guard lock(impl_->m);
  OutputState state;
  state.output = output;
  state.stream = output->track()->trackID();
  if (const auto& settings = output->outputSettings()) {
    state.decodes = true;
    state.pixelFormat = static_cast<OSType>(*settings->at(kCVPixelBufferPixelFormatTypeKey).integer());
  }
  output->reader_ = weak_from_this();
  output->index_ = static_cast<int>(impl_->outputs.size());
  impl_->outputs.push_back(std::move(state));
}

bool AVAssetReader::startReading() {
  std::lock_guard lock(impl_->m);
  if (impl_->status != AVAssetReaderStatus::unknown) return impl_->status == AVAssetReaderStatus::reading;
  for (unsigned i = 0; i < impl_->format->nb_streams; ++i) {
    bool wanted = false;
    for (const auto& o : impl_->outputs) wanted = wanted || o.stream == static_cast<int>(i);
    impl_->format->streams[i]->discard = wanted ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  for (auto& o : impl_->outputs) {
    const AVStream* stream = impl_->format->streams[o.stream];
    if (!o.decodes) {
      const auto type =
          stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? AVMediaType::video : AVMediaType::audio;
      o.format = std::make_shared<const CMFormatDescription>(type, stream->codecpar, stream->time_base);
      continue;
    }
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    o.decoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!o.decoder || avcodec_parameters_to_context(o.decoder.get(), stream->codecpar) < 0) {
      impl_->fail("No decoder for the video's codec");
      return false;
    }
    o.decoder->thread_count = 0;  // one per core
    o.decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    // Damaged data fails the read instead of being concealed.
    o.decoder->err_recognition |= AV_EF_EXPLODE;
    o.decoder->pkt_timebase = stream->time_base;
    if (const int r = avcodec_open2(o.decoder.get(), codec, nullptr); r < 0) {
      impl_->fail("The video's decoder cannot be opened (" + media::errorText(r) + ")");
      return false;
    }
  }
  impl_->status = AVAssetReaderStatus::reading;
  return true;
}

void AVAssetReader::cancelReading() {
  std::lock_guard lock(impl_->m);
  const auto s = impl_->status.load();
  if (s == AVAssetReaderStatus::unknown || s == AVAssetReaderStatus::reading) {
    impl_->status = AVAssetReaderStatus::cancelled;
    for (auto& o : impl_->outputs) {
      o.waiting.clear();
      o.decoder.reset();
    }
  }
}

AVAssetReaderStatus AVAssetReader::status() const { return impl_->status.load(); }

std::optional<foundation::NSError> AVAssetReader::error() const {
  std::lock_guard lock(impl_->m);
  return impl_->error;
}

CMSampleBufferRef AVAssetReader::next(int outputIndex) {
  std::lock_guard lock(impl_->m);
  if (impl_->status != AVAssetReaderStatus::reading || outputIndex < 0 ||
      static_cast<std::size_t>(outputIndex) >= impl_->outputs.size()) {
    return nullptr;
  }
  auto& out = impl_->outputs[static_cast<std::size_t>(outputIndex)];
  if (out.done) return nullptr;
  return out.decodes ? impl_->decode(out) : impl_->passThrough(out);
}

}  // namespace avf

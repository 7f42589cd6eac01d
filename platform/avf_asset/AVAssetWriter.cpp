#include "morvik/platform/avf/AVAssetWriter.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "Media.h"

namespace avf {

namespace {

struct OutputFree {
  void operator()(AVFormatContext* c) const {
    if (c->pb != nullptr) avio_closep(&c->pb);
    avformat_free_context(c);
  }
};
using FormatOutput = std::unique_ptr<AVFormatContext, OutputFree>;

// Frames an encoding input may have waiting before it reports not ready: few,
// so memory stays near the encoder's own look-ahead.
constexpr int kVideoQueueLimit = 3;
constexpr int kPassThroughQueueLimit = 32;

// One packet put aside until the file's header can be written.
struct SpoolRecord {
  std::int64_t pts, dts, duration;
  std::int32_t size, flags, input, reserved;
};

// A hidden, random name beside the destination.
std::string hiddenName(const std::string& folder, const std::string& name) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char suffix[17];
  std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
  return folder + "/." + name + "." + suffix;
}

// A new hidden file with the mode a new file gets (0666 less the umask); -1
// with errno set on failure.
int createHiddenFile(const std::string& folder, const std::string& name, std::string& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = hiddenName(folder, name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

std::string parentFolder(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

CMTime cmTimeFromDictionary(const CFValue& value) {
  const auto* d = value.dictionary();
  if (d == nullptr) return CMTime::invalid();
  auto field = [&](const char* key) -> std::optional<std::int64_t> {
    const auto it = d->find(key);
    return it == d->end() ? std::nullopt : it->second.integer();
  };
  const auto v = field("value"), ts = field("timescale");
  if (!v || !ts || *ts <= 0 || *ts > INT32_MAX) return CMTime::invalid();
  return CMTimeMake(*v, static_cast<std::int32_t>(*ts));
}

}  // namespace

struct AVAssetWriterInput::State {
  AVMediaType mediaType = AVMediaType::video;
  std::optional<CFDictionary> settings;
  std::atomic<bool> realTime{false};
  mutable std::mutex m;  // transform and the request block
  quartz::CGAffineTransform transform;
  std::optional<dispatch::DispatchQueue> requestQueue;
  std::function<void()> requestBlock;
  std::atomic<bool> scheduled{false};
  std::weak_ptr<AVAssetWriter::Impl> writer;
  std::atomic<bool> finished{false};
  std::atomic<int> pending{0};
  int limit = kPassThroughQueueLimit;

  // Below: the writer's queue only.
  int index = -1;
  bool encodes = false;
  int width = 0, height = 0;
  std::int64_t bitrate = 0;
  media::Codec encoder;
  media::Sws scaler;
  int scalerSourceWidth = 0, scalerSourceHeight = 0;
  bool flushed = false;
  bool formatKnown = false;
  AVRational timeBase{1, 90000};
  std::shared_ptr<const CMFormatDescription> format;
  AVStream* stream = nullptr;
  std::int64_t shift = 0;
  std::int64_t lastPts = AV_NOPTS_VALUE;
  std::int64_t lastDts = AV_NOPTS_VALUE;

  bool isReady() const;
  void kick(const std::shared_ptr<State>& self);
  void clearRequest() {
    std::lock_guard lock(m);
    requestBlock = nullptr;
    requestQueue.reset();
  }
};

struct AVAssetWriter::Impl : std::enable_shared_from_this<AVAssetWriter::Impl> {
  foundation::URL url{foundation::URL::fileURLWithPath("/", true)};
  AVFileType fileType = AVFileType::mov;
  std::atomic<AVAssetWriterStatus> status{AVAssetWriterStatus::unknown};
  mutable std::mutex m;  // error and inputs
  std::optional<foundation::NSError> error;
  std::vector<std::shared_ptr<AVAssetWriterInput::State>> inputs;
  dispatch::DispatchQueue queue{"avf.AVAssetWriter.queue"};
  std::atomic<std::thread::id> queueThread{};

  // Below: set by startWriting(), then the writer's queue only.
  std::string destination;
  std::string tempPath;  // a named hidden file, where the folder cannot hold an unnamed one
  int unnamed = -1;      // the movie as an unnamed file (O_TMPFILE), given its name when complete
  FormatOutput out;
  int spool = -1;
  bool headerWritten = false;
  CMTime sessionStart = CMTime::zero();

  ~Impl() { cleanup(); }

  void run(std::function<void()> block) {
    queue.async([self = shared_from_this(), block = std::move(block)] {
      self->queueThread = std::this_thread::get_id();
      block();
      // A failure anywhere in the block leaves no partial file behind.
      if (const auto s = self->status.load();
          s == AVAssetWriterStatus::failed || s == AVAssetWriterStatus::cancelled) {
        self->cleanup();
      }
      self->queueThread = std::thread::id{};
    });
  }

  std::vector<std::shared_ptr<AVAssetWriterInput::State>> inputsCopy() const {
    std::lock_guard lock(m);
    return inputs;
  }

  void setError(const std::string& message) {
    std::lock_guard lock(m);
    if (!error) error.emplace("AVFoundationErrorDomain", -11800, message);
  }

  // Ends writing with an error; each feeder's block runs once more so it can see it.
  void fail(const std::string& message) {
    auto expected = AVAssetWriterStatus::writing;
    if (!status.compare_exchange_strong(expected, AVAssetWriterStatus::failed)) {
      expected = AVAssetWriterStatus::unknown;
      if (!status.compare_exchange_strong(expected, AVAssetWriterStatus::failed)) return;
    }
    setError(message);
    for (const auto& input : inputsCopy()) {
      std::optional<dispatch::DispatchQueue> q;
      std::function<void()> block;
      {
        std::lock_guard lock(input->m);
        q = input->requestQueue;
        block = std::move(input->requestBlock);
        input->requestBlock = nullptr;
      }
      if (q && block) q->async(std::move(block));
    }
  }

  // Releases FFmpeg and removes the unfinished file. Writer's queue (or no queue left).
  void cleanup() {
    for (const auto& input : inputs) {
      input->encoder.reset();
      input->scaler.reset();
    }
    out.reset();
    if (spool >= 0) ::close(spool);
    spool = -1;
    if (!tempPath.empty()) ::unlink(tempPath.c_str());
    tempPath.clear();
    // An unnamed file goes with its last descriptor: nothing is left behind.
    if (unnamed >= 0) ::close(unnamed);
    unnamed = -1;
  }

  bool moveIntoPlace(std::string& failure) {
    if (unnamed >= 0) return linkUnnamed(failure);
    if (::rename(tempPath.c_str(), destination.c_str()) == 0) return true;
    failure = std::strerror(errno);
    return false;
  }

  // Gives the finished unnamed file the destination's name: directly when the
  // name is free, else through a hidden name renamed over the old file.
  bool linkUnnamed(std::string& failure) {
    const std::string self = "/proc/self/fd/" + std::to_string(unnamed);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, destination.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != EEXIST) {
      failure = std::strerror(errno);
      return false;
    }
    const std::string folder = parentFolder(destination);
    const std::string name = destination.substr(destination.find_last_of('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::string hidden = hiddenName(folder, name);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        if (::rename(hidden.c_str(), destination.c_str()) == 0) return true;
        failure = std::strerror(errno);
        ::unlink(hidden.c_str());
        return false;
      }
      if (errno != EEXIST) break;
    }
    failure = std::strerror(errno);
    return false;
  }

  void writeToFile(AVAssetWriterInput::State& input, AVPacket* packet) {
    packet->stream_index = input.stream->index;
    av_packet_rescale_ts(packet, input.timeBase, input.stream->time_base);
    const int r = av_write_frame(out.get(), packet);
    av_packet_unref(packet);
    if (r < 0 || out->pb->error < 0) {
      fail("The movie cannot be written (" + media::errorText(r < 0 ? r : out->pb->error) + ")");
    }
  }

  bool writeAll(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
      const ssize_t n = ::write(spool, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        fail(std::string("The movie cannot be written (") + std::strerror(n < 0 ? errno : ENOSPC) + ")");
        return false;
      }
      p += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  bool readAll(void* data, std::size_t size) {
    auto* p = static_cast<std::uint8_t*>(data);
    while (size > 0) {
      const ssize_t n = ::read(spool, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  void writePacket(AVAssetWriterInput::State& input, AVPacket* packet) {
    if (status != AVAssetWriterStatus::writing) {
      av_packet_unref(packet);
      return;
    }
    if (headerWritten) {
      writeToFile(input, packet);
      return;
    }
    // The header needs every track's format; until then packets wait on disk.
    const SpoolRecord record{
        packet->pts, packet->dts, packet->duration, packet->size, packet->flags, input.index, 0};
    if (writeAll(&record, sizeof record)) writeAll(packet->data, static_cast<std::size_t>(packet->size));
    av_packet_unref(packet);
  }

  void tryWriteHeader() {
    if (headerWritten || status != AVAssetWriterStatus::writing) return;
    const auto all = inputsCopy();
    for (const auto& input : all) {
      if (!input->formatKnown && !input->finished) return;
    }
    int streams = 0;
    for (const auto& input : all) {
      if (!input->formatKnown) continue;
      AVStream* stream = avformat_new_stream(out.get(), nullptr);
      if (stream == nullptr) return fail("The movie's tracks cannot be made");
      if (input->encodes) {
        avcodec_parameters_from_context(stream->codecpar, input->encoder.get());
        stream->avg_frame_rate = input->encoder->framerate;
      } else {
        avcodec_parameters_copy(stream->codecpar, input->format->parameters.get());
        stream->codecpar->codec_tag = 0;  // the container picks its own tag
      }
      stream->time_base = input->timeBase;
      quartz::CGAffineTransform t;
      {
        std::lock_guard lock(input->m);
        t = input->transform;
      }
      if (input->mediaType == AVMediaType::video && !t.isIdentity()) {
        auto* matrix = reinterpret_cast<std::int32_t*>(
            av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(std::int32_t)));
        if (matrix != nullptr) {
          auto fixed = [](double v) { return static_cast<std::int32_t>(std::lround(v * 65536.0)); };
          const std::int32_t m[9] = {fixed(t.a), fixed(t.b),  0,           fixed(t.c), fixed(t.d),
                                     0,          fixed(t.tx), fixed(t.ty), 1 << 30};
          std::memcpy(matrix, m, sizeof m);
        }
      }
      input->stream = stream;
      ++streams;
    }
    if (streams == 0) return fail("No samples were written");
    if (const int r = avformat_write_header(out.get(), nullptr); r < 0) {
      // Most often a copied track whose codec the container cannot hold.
      std::string codecs;
      for (unsigned i = 0; i < out->nb_streams; ++i) {
        codecs += (i > 0 ? ", " : "") + std::string(avcodec_get_name(out->streams[i]->codecpar->codec_id));
      }
      return fail("The movie cannot be written with tracks of " + codecs + " (" + media::errorText(r) + ")");
    }
    headerWritten = true;
    // Replay what waited, in the order it came.
    if (::lseek(spool, 0, SEEK_SET) != 0) return fail("The movie cannot be written (spool)");
    media::Packet packet(av_packet_alloc());
    SpoolRecord record{};
    while (status == AVAssetWriterStatus::writing && readAll(&record, sizeof record)) {
      if (record.size < 0 || av_new_packet(packet.get(), record.size) < 0 ||
          !readAll(packet->data, static_cast<std::size_t>(record.size)) || record.input < 0 ||
          static_cast<std::size_t>(record.input) >= all.size()) {
        return fail("The movie cannot be written (spool)");
      }
      packet->pts = record.pts;
      packet->dts = record.dts;
      packet->duration = record.duration;
      packet->flags = record.flags;
      writeToFile(*all[static_cast<std::size_t>(record.input)], packet.get());
    }
    ::close(spool);
    spool = -1;
  }

  void drainEncoder(AVAssetWriterInput::State& input) {
    media::Packet packet(av_packet_alloc());
    while (status == AVAssetWriterStatus::writing) {
      const int r = avcodec_receive_packet(input.encoder.get(), packet.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
      if (r < 0) return fail("The video cannot be encoded (" + media::errorText(r) + ")");
      writePacket(input, packet.get());
    }
  }

  bool openEncoder(AVAssetWriterInput::State& input, const CMSampleBuffer& sample) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    input.encoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!input.encoder) {
      fail("No H.264 encoder is available");
      return false;
    }
    auto* c = input.encoder.get();
    // 4:2:0 needs even sides: an odd side loses its last row or column.
    c->width = std::max(2, input.width & ~1);
    c->height = std::max(2, input.height & ~1);
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    const CMTime pts = sample.presentationTimeStamp();
    input.timeBase = AVRational{1, pts.isValid() ? pts.timescale : 90000};
    c->time_base = input.timeBase;
    const CMTime d = sample.duration();
    if (d.isValid() && d.value > 0) {
      av_reduce(&c->framerate.num, &c->framerate.den, d.timescale, d.value, INT32_MAX);
    } else {
      c->framerate = AVRational{30, 1};
    }
    c->bit_rate = input.bitrate;
    c->thread_count = 0;  // one per core, as the ffmpeg command line does
    c->color_range = AVCOL_RANGE_MPEG;
    if ((out->oformat->flags & AVFMT_GLOBALHEADER) != 0) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int r = avcodec_open2(c, codec, nullptr); r < 0) {
      fail("The H.264 encoder cannot be opened (" + media::errorText(r) + ")");
      return false;
    }
    input.formatKnown = true;
    tryWriteHeader();
    return status == AVAssetWriterStatus::writing;
  }

  void encode(AVAssetWriterInput::State& input, const CMSampleBuffer& sample) {
    if (status != AVAssetWriterStatus::writing || input.flushed) return;
    if (!input.encoder && !openEncoder(input, sample)) return;
    const auto& pixels = *sample.imageBuffer();
    if (pixels.planeCount() != 2) return fail("Frames must be biplanar 4:2:0 ('420v' or '420f')");
    auto* c = input.encoder.get();
    const int srcW = static_cast<int>(pixels.width()), srcH = static_cast<int>(pixels.height());
    if (!input.scaler || input.scalerSourceWidth != srcW || input.scalerSourceHeight != srcH) {
      // Scaling a full camera frame is the writer's heaviest step besides the
      // encoder: it runs in slices on every core.
      input.scaler.reset(sws_alloc_context());
      SwsContext* sws = input.scaler.get();
      if (sws == nullptr || av_opt_set_int(sws, "srcw", srcW, 0) < 0 ||
          av_opt_set_int(sws, "srch", srcH, 0) < 0 ||
          av_opt_set_int(sws, "src_format", AV_PIX_FMT_NV12, 0) < 0 ||
          av_opt_set_int(sws, "dstw", c->width, 0) < 0 || av_opt_set_int(sws, "dsth", c->height, 0) < 0 ||
          av_opt_set_int(sws, "dst_format", AV_PIX_FMT_YUV420P, 0) < 0 ||
          av_opt_set_int(sws, "sws_flags", SWS_BICUBIC, 0) < 0 || av_opt_set_int(sws, "threads", 0, 0) < 0 ||
          sws_init_context(sws, nullptr, nullptr) < 0) {
        input.scaler.reset();
        return fail("Frames cannot be scaled");
      }
      input.scalerSourceWidth = srcW;
      input.scalerSourceHeight = srcH;
    }
    media::Frame frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = c->width;
    frame->height = c->height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return fail("Frames cannot be scaled");
    // The source frame views the pixel buffer, which its buffer reference keeps alive.
    media::Frame source(av_frame_alloc());
    source->format = AV_PIX_FMT_NV12;
    source->width = srcW;
    source->height = srcH;
    for (int i = 0; i < 2; ++i) {
      source->data[i] = const_cast<std::uint8_t*>(pixels.plane(static_cast<std::size_t>(i)).base);
      source->linesize[i] = static_cast<int>(pixels.bytesPerRowOfPlane(static_cast<std::size_t>(i)));
    }
    auto* owner = new CVPixelBufferRef(sample.imageBuffer());
    source->buf[0] = av_buffer_create(
        source->data[0], static_cast<std::size_t>(source->linesize[0]) * static_cast<std::size_t>(srcH),
        [](void* opaque, std::uint8_t*) { delete static_cast<CVPixelBufferRef*>(opaque); }, owner,
        AV_BUFFER_FLAG_READONLY);
    if (source->buf[0] == nullptr) {
      delete owner;
      return fail("Out of memory");
    }
    if (sws_scale_frame(input.scaler.get(), frame.get(), source.get()) < 0)
      return fail("Frames cannot be scaled");
    std::int64_t pts = media::timeIn(sample.presentationTimeStamp(), input.timeBase);
    if (pts == AV_NOPTS_VALUE) pts = input.lastPts == AV_NOPTS_VALUE ? 0 : input.lastPts + 1;
    pts -= media::timeIn(sessionStart, input.timeBase);
    if (input.lastPts != AV_NOPTS_VALUE && pts <= input.lastPts) pts = input.lastPts + 1;  // never backwards
    input.lastPts = pts;
    frame->pts = pts;
    if (const auto ticks = media::timeIn(sample.duration(), input.timeBase);
        ticks != AV_NOPTS_VALUE && ticks > 0) {
      frame->pkt_duration = ticks;
    }
    if (const int r = avcodec_send_frame(c, frame.get()); r < 0) {
      return fail("The video cannot be encoded (" + media::errorText(r) + ")");
    }
    drainEncoder(input);
  }

  void flush(AVAssetWriterInput::State& input) {
    if (!input.encodes || !input.encoder || input.flushed) return;
    input.flushed = true;
    if (status != AVAssetWriterStatus::writing) return;
    avcodec_send_frame(input.encoder.get(), nullptr);
    drainEncoder(input);
  }

  void passThrough(AVAssetWriterInput::State& input, const CMSampleBuffer& sample) {
    if (status != AVAssetWriterStatus::writing) return;
    const auto& format = sample.formatDescription();
    if (!input.formatKnown) {
      if (!format->parameters) return fail("The samples carry no format");
      input.format = format;
      input.timeBase = format->timeBase;
      const std::int64_t first = media::timeIn(sample.presentationTimeStamp(), input.timeBase) -
                                 media::timeIn(sessionStart, input.timeBase);
      // A trim at the start of a track that starts at zero becomes the
      // track's edit: its first samples are written before zero and players
      // skip them (codec priming). A track whose first sample already lies
      // before zero states its own priming; one that starts later keeps its
      // timing, so sound stays in step with the picture.
      if (const auto trim = sample.attachment(kCMSampleBufferAttachmentKey_TrimDurationAtStart);
          trim && first == 0) {
        const CMTime t = cmTimeFromDictionary(*trim);
        if (t.isValid() && t.value > 0) input.shift = -media::timeIn(t, input.timeBase);
      }
      input.formatKnown = true;
      tryWriteHeader();
      if (status != AVAssetWriterStatus::writing) return;
    } else if (!format->parameters || format->parameters->codec_id != input.format->parameters->codec_id) {
      return fail("The samples change format midway");
    }
    media::Packet packet(av_packet_alloc());
    const auto& bytes = *sample.dataBuffer();
    if (av_new_packet(packet.get(), static_cast<int>(bytes.dataLength())) < 0) return fail("Out of memory");
    if (bytes.dataLength() > 0) std::memcpy(packet->data, bytes.data(), bytes.dataLength());
    const std::int64_t offset = input.shift - media::timeIn(sessionStart, input.timeBase);
    std::int64_t pts = media::timeIn(sample.presentationTimeStamp(), input.timeBase);
    std::int64_t dts = media::timeIn(sample.decodeTimeStamp(), input.timeBase);
    if (dts == AV_NOPTS_VALUE) dts = pts;
    if (pts != AV_NOPTS_VALUE) pts += offset;
    if (dts != AV_NOPTS_VALUE) dts += offset;
    if (input.lastDts != AV_NOPTS_VALUE && dts != AV_NOPTS_VALUE && dts <= input.lastDts) {
      return fail("The samples are not in decode order");
    }
    input.lastDts = dts;
    packet->pts = pts;
    packet->dts = dts;
    const std::int64_t duration = media::timeIn(sample.duration(), input.timeBase);
    packet->duration = duration == AV_NOPTS_VALUE ? 0 : duration;
    packet->flags = AV_PKT_FLAG_KEY;
    writePacket(input, packet.get());
  }

  void finish() {
    for (const auto& input : inputsCopy()) flush(*input);
    tryWriteHeader();
    if (status == AVAssetWriterStatus::writing && !headerWritten) fail("No samples were written");
    if (status == AVAssetWriterStatus::writing) {
      int r = av_write_trailer(out.get());
      if (r >= 0 && out->pb->error < 0) r = out->pb->error;
      const int closed = avio_closep(&out->pb);
      if (r >= 0) r = closed;
      std::string failure;
      if (r < 0) {
        fail("The movie cannot be written (" + media::errorText(r) + ")");
      } else if (!moveIntoPlace(failure)) {
        fail("The movie cannot be moved to \"" + destination + "\" (" + failure + ")");
      } else {
        tempPath.clear();
        auto expected = AVAssetWriterStatus::writing;
        status.compare_exchange_strong(expected, AVAssetWriterStatus::completed);
      }
    }
    cleanup();
  }
};

bool AVAssetWriterInput::State::isReady() const {
  const auto w = writer.lock();
  return w && w->status == AVAssetWriterStatus::writing && !finished && pending.load() < limit;
}

void AVAssetWriterInput::State::kick(const std::shared_ptr<State>& self) {
  std::optional<dispatch::DispatchQueue> q;
  std::function<void()> block;
  {
    std::lock_guard lock(m);
    if (!requestBlock || !requestQueue) return;
    q = requestQueue;
    block = requestBlock;
  }
  if (!isReady() || scheduled.exchange(true)) return;
  q->async([self, block = std::move(block)] {
    block();
    self->scheduled = false;
    // Readiness may have come back while the block ran.
    if (self->isReady()) self->kick(self);
  });
}

// ----- AVAssetWriterInput ------------------------------------------------------------------

std::shared_ptr<AVAssetWriterInput> AVAssetWriterInput::make(AVMediaType mediaType,
                                                             std::optional<CFDictionary> outputSettings) {
  auto input = std::shared_ptr<AVAssetWriterInput>(new AVAssetWriterInput());
  input->state_ = std::make_shared<State>();
  input->state_->mediaType = mediaType;
  input->state_->encodes = outputSettings.has_value();
  input->state_->limit = outputSettings ? kVideoQueueLimit : kPassThroughQueueLimit;
  input->state_->settings = std::move(outputSettings);
  return input;
}

AVAssetWriterInput::~AVAssetWriterInput() { state_->clearRequest(); }

AVMediaType AVAssetWriterInput::mediaType() const { return state_->mediaType; }
const std::optional<CFDictionary>& AVAssetWriterInput::outputSettings() const { return state_->settings; }
bool AVAssetWriterInput::expectsMediaDataInRealTime() const { return state_->realTime; }
void AVAssetWriterInput::setExpectsMediaDataInRealTime(bool value) { state_->realTime = value; }

quartz::CGAffineTransform AVAssetWriterInput::transform() const {
  std::lock_guard lock(state_->m);
  return state_->transform;
}

void AVAssetWriterInput::setTransform(const quartz::CGAffineTransform& value) {
  std::lock_guard lock(state_->m);
  state_->transform = value;
}

bool AVAssetWriterInput::isReadyForMoreMediaData() const { return state_->isReady(); }

bool AVAssetWriterInput::append(const CMSampleBufferRef& sampleBuffer) {
  const auto w = state_->writer.lock();
  if (!w || w->status != AVAssetWriterStatus::writing || state_->finished || !sampleBuffer) return false;
  if (state_->encodes ? !sampleBuffer->imageBuffer()
                      : (!sampleBuffer->dataBuffer() || !sampleBuffer->formatDescription())) {
    return false;
  }
  ++state_->pending;
  w->run([w, s = state_, sampleBuffer] {
    if (s->encodes) {
      w->encode(*s, *sampleBuffer);
    } else {
      w->passThrough(*s, *sampleBuffer);
    }
    --s->pending;
    s->kick(s);
  });
  return true;
}

void AVAssetWriterInput::markAsFinished() {
  if (state_->finished.exchange(true)) return;
  state_->clearRequest();
  if (const auto w = state_->writer.lock(); w && w->status == AVAssetWriterStatus::writing) {
    w->run([w, s = state_] {
      w->flush(*s);
      w->tryWriteHeader();
    });
  }
}

void AVAssetWriterInput::requestMediaDataWhenReady(const dispatch::DispatchQueue& on,
                                                   std::function<void()> block) {
  const auto w = state_->writer.lock();
  if (w && w->status == AVAssetWriterStatus::failed) {
    on.async(std::move(block));  // the failure is seen on the first call
    return;
  }
  {
    std::lock_guard lock(state_->m);
    state_->requestQueue = on;
    state_->requestBlock = std::move(block);
  }
  state_->kick(state_);
}

// ----- AVAssetWriter -----------------------------------------------------------------------

std::shared_ptr<AVAssetWriter> AVAssetWriter::make(const foundation::URL& outputURL, AVFileType fileType) {
  if (!outputURL.isFileURL() || outputURL.path().empty() || outputURL.hasDirectoryPath()) {
    throw foundation::NSError("AVFoundationErrorDomain", -11838,
                              "The output must be a file URL: " + outputURL.absoluteString());
  }
  media::quietLogs();
  auto writer = std::shared_ptr<AVAssetWriter>(new AVAssetWriter());
  writer->impl_ = std::make_shared<Impl>();
  writer->impl_->url = outputURL;
  writer->impl_->fileType = fileType;
  writer->impl_->destination = outputURL.path();
  return writer;
}

AVAssetWriter::~AVAssetWriter() {
  // An unfinished file goes with the writer; work still queued keeps the state alive.
  if (impl_->status == AVAssetWriterStatus::writing) cancelWriting();
}

const foundation::URL& AVAssetWriter::outputURL() const { return impl_->url; }

bool AVAssetWriter::canAdd(const std::shared_ptr<AVAssetWriterInput>& input) const {
  return input && input->state_->writer.expired() && impl_->status == AVAssetWriterStatus::unknown;
}

void AVAssetWriter::add(const std::shared_ptr<AVAssetWriterInput>& input) {
  if (!canAdd(input)) return;
  std::lock_guard lock(impl_->m);
  input->state_->writer = impl_;
  input->state_->index = static_cast<int>(impl_->inputs.size());
  impl_->inputs.push_back(input->state_);
}

bool AVAssetWriter::startWriting() {
  auto& w = *impl_;
  if (w.status != AVAssetWriterStatus::unknown) return w.status == AVAssetWriterStatus::writing;
  auto refuse = [&](const std::string& message) {
    w.fail(message);
    w.cleanup();
    return false;
  };
  for (const auto& input : w.inputsCopy()) {
    if (!input->encodes) continue;
    const auto& s = *input->settings;
    auto number = [&](const CFDictionary& d, const char* key) -> std::int64_t {
      const auto it = d.find(key);
      return it == d.end() ? 0 : it->second.integer().value_or(0);
    };
    const auto codec = s.find(AVVideoCodecKey);
    if (input->mediaType != AVMediaType::video || codec == s.end() || codec->second.string() == nullptr ||
        *codec->second.string() != AVVideoCodecType::h264) {
      return refuse("Only H.264 video can be encoded");
    }
    input->width = static_cast<int>(std::min<std::int64_t>(number(s, AVVideoWidthKey), 16384));
    input->height = static_cast<int>(std::min<std::int64_t>(number(s, AVVideoHeightKey), 16384));
    if (input->width < 2 || input->height < 2)
      return refuse("The video's width and height must be at least 2");
    if (const auto props = s.find(AVVideoCompressionPropertiesKey);
        props != s.end() && props->second.dictionary()) {
      input->bitrate = number(*props->second.dictionary(), AVVideoAverageBitRateKey);
    }
    if (input->bitrate < 0) return refuse("The average bitrate must not be negative");
  }
  const std::string folder = parentFolder(w.destination);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return refuse("The folder \"" + folder + "\" does not exist");
  }
  const std::string name = w.destination.substr(w.destination.find_last_of('/') + 1);
  w.spool = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (w.spool < 0) {
    std::string spoolPath = folder + "/." + name + ".spool.XXXXXX";
    w.spool = ::mkstemp(spoolPath.data());
    if (w.spool >= 0) ::unlink(spoolPath.c_str());
  }
  if (w.spool < 0) return refuse("Cannot create a file in \"" + folder + "\" (" + std::strerror(errno) + ")");
  AVFormatContext* raw = nullptr;
  avformat_alloc_output_context2(&raw, nullptr, w.fileType == AVFileType::mov ? "mov" : "mp4", nullptr);
  if (raw == nullptr) return refuse("The movie format is not available");
  w.out.reset(raw);
  // The movie is written as an unnamed file where the folder's file system
  // allows, so a process that ends midway leaves nothing; elsewhere as a
  // hidden file beside the destination. Either gets the mode of a new file.
  w.unnamed = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (w.unnamed >= 0) {
    const std::string self = "/proc/self/fd/" + std::to_string(w.unnamed);
    if (avio_open(&w.out->pb, self.c_str(), AVIO_FLAG_WRITE) >= 0) {
      w.status = AVAssetWriterStatus::writing;
      return true;
    }
    ::close(w.unnamed);  // no /proc to reach it through: a named file instead
    w.unnamed = -1;
  }
  std::string temp;
  const int fd = createHiddenFile(folder, name, temp);
  if (fd < 0) return refuse("Cannot create a file in \"" + folder + "\" (" + std::strerror(errno) + ")");
  ::close(fd);
  w.tempPath = temp;
  if (const int r = avio_open(&w.out->pb, temp.c_str(), AVIO_FLAG_WRITE); r < 0) {
    return refuse("Cannot create \"" + temp + "\" (" + media::errorText(r) + ")");
  }
  w.status = AVAssetWriterStatus::writing;
  return true;
}

void AVAssetWriter::startSession(CMTime atSourceTime) {
  impl_->run([w = impl_.get(), atSourceTime] {
    w->sessionStart = atSourceTime.isValid() ? atSourceTime : CMTime::zero();
  });
}

void AVAssetWriter::finishWriting(std::function<void()> completionHandler) {
  for (const auto& input : impl_->inputsCopy()) {
    input->finished = true;
    input->clearRequest();
  }
  impl_->run([w = impl_.get(), handler = std::move(completionHandler)] {
    if (w->status == AVAssetWriterStatus::writing) w->finish();
    w->cleanup();
    if (handler) handler();
  });
}

void AVAssetWriter::cancelWriting() {
  auto& w = *impl_;
  auto expected = AVAssetWriterStatus::writing;
  if (!w.status.compare_exchange_strong(expected, AVAssetWriterStatus::cancelled)) {
    expected = AVAssetWriterStatus::unknown;
    // A failed writer keeps its status, but its partial file still goes now.
    if (!w.status.compare_exchange_strong(expected, AVAssetWriterStatus::cancelled) &&
        expected != AVAssetWriterStatus::failed) {
      return;
    }
  }
  for (const auto& input : w.inputsCopy()) {
    input->finished = true;
    input->clearRequest();
  }
  // Synchronous, as on the platform: the partial file is gone on return.
  if (w.queueThread.load() == std::this_thread::get_id()) {
    w.cleanup();
  } else {
    w.queue.sync([&w] { w.cleanup(); });
  }
}

AVAssetWriterStatus AVAssetWriter::status() const { return impl_->status.load(); }

std::optional<foundation::NSError> AVAssetWriter::error() const {
  std::lock_guard lock(impl_->m);
  return impl_->error;
}

}  // namespace avf

// FFmpeg handles and the format description shared by the asset reader and
// writer. Internal to the media library.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

#include <cstdarg>
#include <memory>
#include <string>

#include "morvik/platform/avf/AVAsset.h"
#include "morvik/platform/avf/CoreMedia.h"

namespace avf {

// The codec and parameters of a pass-through track, carried by each of its
// compressed samples so a writer can make the matching track.
class CMFormatDescription {
 public:
  struct ParametersFree {
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
  };
  CMFormatDescription(AVMediaType type, const AVCodecParameters* source, AVRational timeBase)
      : mediaType(type), parameters(avcodec_parameters_alloc()), timeBase(timeBase) {
    if (parameters) avcodec_parameters_copy(parameters.get(), source);
  }
  AVMediaType mediaType;
  std::unique_ptr<AVCodecParameters, ParametersFree> parameters;
  AVRational timeBase;
};

namespace media {

struct FormatInputClose {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using FormatInput = std::unique_ptr<AVFormatContext, FormatInputClose>;
using Codec = std::unique_ptr<AVCodecContext, CodecFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;
using Sws = std::unique_ptr<SwsContext, SwsFree>;

inline std::string errorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// A timestamp in a stream's time base as a CMTime (invalid for "no time").
inline CMTime timeFrom(std::int64_t ts, AVRational tb) {
  if (ts == AV_NOPTS_VALUE || tb.den <= 0) return CMTime::invalid();
  if (tb.num == 1) return CMTimeMake(ts, tb.den);
  // Exact while it fits (a 125/2997 base counts in 2997ths); else 90 kHz.
  if (std::int64_t value = 0; !__builtin_mul_overflow(ts, static_cast<std::int64_t>(tb.num), &value)) {
    return CMTimeMake(value, tb.den);
  }
  return CMTimeMake(av_rescale_q(ts, tb, AVRational{1, 90000}), 90000);
}

// A CMTime in a time base, rounded to the nearest tick.
inline std::int64_t timeIn(const CMTime& t, AVRational tb) {
  if (!t.isValid()) return AV_NOPTS_VALUE;
  return av_rescale_q_rnd(t.value, AVRational{1, t.timescale}, tb,
                          static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

// FFmpeg's log level while our quiet policy holds.
inline constexpr int kQuietLogLevel = AV_LOG_ERROR;

// Keeps FFmpeg off the host's stderr: its chatter (encoder statistics) and
// its error lines ("moov atom not found") alike, since every failure reaches
// the caller through an error value. Lines before an abort still show, and
// everything does once the host sets a log level of its own.
inline void quietLogCallback(void* context, int level, const char* format, va_list arguments) {
  if (level <= AV_LOG_FATAL || av_log_get_level() != kQuietLogLevel) {
    av_log_default_callback(context, level, format, arguments);
  }
}

// Takes FFmpeg's log over unless the host chose a level of its own before.
inline void quietLogs() {
  static const bool once = [] {
    if (av_log_get_level() == AV_LOG_INFO) {
      av_log_set_level(kQuietLogLevel);
      av_log_set_callback(quietLogCallback);
    }
    return true;
  }();
  (void)once;
}

// Opens a file for demuxing with its streams probed; an error text on failure.
FormatInput openInput(const std::string& path, std::string& error);

}  // namespace media
}  // namespace avf

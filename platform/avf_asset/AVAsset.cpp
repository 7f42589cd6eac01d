#include "morvik/platform/avf/AVAsset.h"

extern "C" {
#include <libavutil/display.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include "Media.h"

namespace avf {

namespace media {

FormatInput openInput(const std::string& path, std::string& error) {
  quietLogs();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = "The file \"" + path + "\" does not exist";
    return nullptr;
  }
  if (!S_ISREG(st.st_mode) || st.st_size == 0) {
    error = "The file \"" + path + "\" is empty or not a regular file";
    return nullptr;
  }
  AVFormatContext* raw = nullptr;
  if (const int r = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); r < 0) {
    error = "The file \"" + path + "\" is not a readable movie (" + errorText(r) + ")";
    return nullptr;
  }
  FormatInput input(raw);
  if (const int r = avformat_find_stream_info(input.get(), nullptr); r < 0) {
    error = "The file \"" + path + "\" is not a readable movie (" + errorText(r) + ")";
    return nullptr;
  }
  return input;
}

}  // namespace media

namespace {

double rationalOrZero(AVRational r) { return r.num > 0 && r.den > 0 ? av_q2d(r) : 0.0; }

// Bits per second of a stream's samples: what the container says, else the
// sizes of its indexed samples, else the whole file's rate.
double dataRate(const AVFormatContext* format, const AVStream* stream, double seconds) {
  if (stream->codecpar->bit_rate > 0) return static_cast<double>(stream->codecpar->bit_rate);
  const int count = avformat_index_get_entries_count(stream);
  if (count > 0 && seconds > 0) {
    double bytes = 0;
    for (int i = 0; i < count; ++i) bytes += avformat_index_get_entry(const_cast<AVStream*>(stream), i)->size;
    return bytes * 8.0 / seconds;
  }
  return format->bit_rate > 0 ? static_cast<double>(format->bit_rate) : 0.0;
}

}  // namespace

std::vector<std::shared_ptr<const AVAssetTrack>> AVAsset::tracks(AVMediaType withMediaType) const {
  std::vector<std::shared_ptr<const AVAssetTrack>> out;
  for (const auto& t : tracks_) {
    if (t->mediaType() == withMediaType) out.push_back(t);
  }
  return out;
}

std::shared_ptr<AVURLAsset> AVURLAsset::make(const foundation::URL& url, std::nullptr_t) {
  auto asset = std::shared_ptr<AVURLAsset>(new AVURLAsset(url));
  if (!url.isFileURL()) {
    asset->loadError_ = "Only file URLs can be read: " + url.absoluteString();
    return asset;
  }
  std::string error;
  const auto format = media::openInput(url.path(), error);
  if (!format) {
    asset->loadError_ = error;
    return asset;
  }
  const double formatSeconds =
      format->duration != AV_NOPTS_VALUE ? static_cast<double>(format->duration) / AV_TIME_BASE : 0.0;
  double longest = 0;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream* stream = format->streams[i];
    const auto type = stream->codecpar->codec_type;
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) continue;
    if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) continue;  // cover art, not a track
    AVAssetTrack::Description d;
    d.mediaType = type == AVMEDIA_TYPE_VIDEO ? AVMediaType::video : AVMediaType::audio;
    d.trackID = static_cast<std::int32_t>(i);
    double seconds = stream->duration != AV_NOPTS_VALUE && stream->duration > 0
                         ? static_cast<double>(stream->duration) * av_q2d(stream->time_base)
                         : formatSeconds;
    d.duration = CMTimeMakeWithSeconds(seconds, 600000);
    longest = std::max(longest, seconds);
    d.estimatedDataRate = static_cast<float>(dataRate(format.get(), stream, seconds));
    if (d.mediaType == AVMediaType::video) {
      d.naturalSize = {static_cast<double>(stream->codecpar->width),
                       static_cast<double>(stream->codecpar->height)};
      double fps = rationalOrZero(stream->avg_frame_rate);
      if (fps <= 0) fps = rationalOrZero(stream->r_frame_rate);
      d.nominalFrameRate = static_cast<float>(fps);
      std::size_t size = 0;
      const auto* matrix = reinterpret_cast<const std::int32_t*>(
          av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size));
      if (matrix != nullptr && size >= 9 * sizeof(std::int32_t)) {
        // The container's matrix is (a b u; c d v; tx ty w), a..ty in 16.16.
        d.preferredTransform = {matrix[0] / 65536.0, matrix[1] / 65536.0, matrix[3] / 65536.0,
                                matrix[4] / 65536.0, matrix[6] / 65536.0, matrix[7] / 65536.0};
      }
    }
    asset->tracks_.push_back(std::make_shared<const AVAssetTrack>(d));
  }
  if (longest <= 0) longest = formatSeconds;
  asset->duration_ = CMTimeMakeWithSeconds(longest, 600000);
  return asset;
}

}  // namespace avf

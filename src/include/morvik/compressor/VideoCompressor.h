// VideoCompressor: re-encodes a video file into an H.264 QuickTime movie at a
// lower bitrate and, unless told otherwise, a smaller frame size; the audio
// track is copied without re-encoding. Stands alone: link morvik::compressor
// (FFmpeg comes with it); nothing else in the SDK uses it.
//
// Calling order seen by the caller of compressVideo():
// - completion(onStart), always first, on the calling thread, before return;
// - then either one early completion(onFailure), also before return (the
//   returned Compression is then a fresh one, unrelated to any work),
// - or, later and on other threads, any number of progressHandler calls on
//   progressQueue and at most one of completion(onSuccess(destination)),
//   completion(onFailure(...)) or completion(onCancelled).
// onSuccess means the movie was written completely; any read or write failure
// on the way is an onFailure whose title says what went wrong, and leaves no
// file at the destination. FFmpeg's own log lines stay off stderr (a host
// that sets FFmpeg's log level itself gets them).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "morvik/Export.h"
#include "morvik/platform/dispatch/Dispatch.h"
#include "morvik/platform/foundation/Progress.h"
#include "morvik/platform/foundation/URL.h"

namespace morvik {

enum class VideoQuality { very_high, high, medium, low, very_low };

// A failure's message. Read it from title(): errorDescription() gives nothing.
class MORVIK_API CompressionError {
 public:
  const std::string& title() const { return title_; }
  std::optional<std::string> errorDescription() const { return std::nullopt; }

 private:
  explicit CompressionError(std::string title) : title_(std::move(title)) {}
  std::string title_;
  friend class VideoCompressor;
  friend struct CompressionJob;
};

class MORVIK_API CompressionResult {
 public:
  enum class Kind { onSuccess, onFailure, onStart, onCancelled };

  static CompressionResult onSuccess(foundation::URL url) { return CompressionResult(std::move(url)); }
  static CompressionResult onFailure(CompressionError error) { return CompressionResult(std::move(error)); }
  static CompressionResult onStart() { return CompressionResult(Kind::onStart); }
  static CompressionResult onCancelled() { return CompressionResult(Kind::onCancelled); }

  Kind kind() const { return kind_; }
  // The destination, for onSuccess only.
  const foundation::URL* url() const { return std::get_if<foundation::URL>(&payload_); }
  // The error, for onFailure only.
  const CompressionError* error() const { return std::get_if<CompressionError>(&payload_); }

 private:
  explicit CompressionResult(Kind kind) : kind_(kind) {}
  explicit CompressionResult(foundation::URL url) : kind_(Kind::onSuccess), payload_(std::move(url)) {}
  explicit CompressionResult(CompressionError error) : kind_(Kind::onFailure), payload_(std::move(error)) {}
  Kind kind_;
  std::variant<std::monostate, foundation::URL, CompressionError> payload_;
};

// The handle of one compression. Set `cancel` to true (from any thread) to
// stop it: the video pass sees it at its next turn and reports onCancelled.
// Once the audio is being copied, the compression runs to its end.
class MORVIK_API Compression {
 public:
  Compression() = default;
  std::atomic<bool> cancel{false};
};

class MORVIK_API VideoCompressor {
 public:
  using ProgressHandler = std::function<void(const std::shared_ptr<foundation::Progress>&)>;
  using Completion = std::function<void(CompressionResult)>;

  VideoCompressor() = default;

  // Reads `source` and writes an H.264 movie to `destination` (replacing a
  // file there only once the new one is complete). `quality` scales the
  // source's data rate (very_high 0.5, high 0.3, medium 0.2, low 0.1,
  // very_low 0.08); with `isMinBitRateEnabled`, sources at or below
  // 2,000,000 bits per second are refused. The frame size is halved from
  // 1920, three-quartered from 1280, fixed to 608 x 336 (or 336 x 608) from
  // 960 and shrunk by a tenth below, each side a multiple of 16, unless
  // `keepOriginalResolution`. Progress counts frames; `progressHandler`
  // (optional) gets the one shared Progress on `progressQueue`. A destination
  // that is the source file itself (by any path, link or spelling) is an
  // early failure, and the source is left as it was.
  std::shared_ptr<Compression> compressVideo(const foundation::URL& source,
                                             const foundation::URL& destination, VideoQuality quality,
                                             bool isMinBitRateEnabled, bool keepOriginalResolution,
                                             const dispatch::DispatchQueue& progressQueue,
                                             ProgressHandler progressHandler, Completion completion) const;

 private:
  static constexpr float MIN_BITRATE = 2000000;
  static constexpr double MIN_HEIGHT = 640;
  static constexpr double MIN_WIDTH = 360;
  friend struct CompressionJob;
};

}  // namespace morvik

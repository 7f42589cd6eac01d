// Writing samples to a movie file.
//
// A video input with output settings encodes '420v'/'420f' frames to H.264
// (libx264) at the settings' size and average bitrate; an input without
// settings writes compressed samples unchanged (audio pass-through). The
// writer writes to an unnamed file in the destination's folder (a hidden file
// beside the destination where the file system has no unnamed files) and
// gives it the destination's name only when finishWriting() succeeds: a
// failed or cancelled writer, or a process that ends midway, leaves no file
// behind (and an existing destination untouched). The movie gets the mode a
// new file gets under the process's umask.
//
// Threads: inputs may be fed from any thread (one thread per input at a
// time). Encoding and file writing run on the writer's own serial queue, so
// append() returns quickly and isReadyForMoreMediaData() turns false while
// the encoder has a few frames waiting: that is the back-pressure feeders
// must honour. requestMediaDataWhenReady's block runs on the given queue each
// time the input becomes ready again, and once more if the writer fails, so a
// feeder can notice the failure. finishWriting's handler runs on the writer's
// queue after status() has become completed or failed.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "morvik/platform/avf/AVAsset.h"
#include "morvik/platform/avf/CoreMedia.h"
#include "morvik/platform/dispatch/Dispatch.h"
#include "morvik/platform/foundation/Error.h"
#include "morvik/platform/foundation/URL.h"
#include "morvik/platform/quartz/CGGeometry.h"

namespace avf {

// Output-settings keys and values.
inline constexpr const char* AVVideoCodecKey = "AVVideoCodecKey";
inline constexpr const char* AVVideoWidthKey = "AVVideoWidthKey";
inline constexpr const char* AVVideoHeightKey = "AVVideoHeightKey";
inline constexpr const char* AVVideoCompressionPropertiesKey = "AVVideoCompressionPropertiesKey";
inline constexpr const char* AVVideoAverageBitRateKey = "AverageBitRate";
struct AVVideoCodecType {
  static constexpr const char* h264 = "avc1";
};

enum class AVFileType { mov, mp4 };
enum class AVAssetWriterStatus { unknown, writing, completed, failed, cancelled };

class AVAssetWriter;

class AVAssetWriterInput {
 public:
  static std::shared_ptr<AVAssetWriterInput> make(AVMediaType mediaType,
                                                  std::optional<CFDictionary> outputSettings);
  ~AVAssetWriterInput();
  AVAssetWriterInput(const AVAssetWriterInput&) = delete;
  AVAssetWriterInput& operator=(const AVAssetWriterInput&) = delete;

  AVMediaType mediaType() const;
  const std::optional<CFDictionary>& outputSettings() const;
  // Set before startWriting().
  bool expectsMediaDataInRealTime() const;
  void setExpectsMediaDataInRealTime(bool value);
  // Written as the track's display matrix (rotation, mirroring).
  quartz::CGAffineTransform transform() const;
  void setTransform(const quartz::CGAffineTransform& value);

  // True while the writer is writing, the input is not finished and its
  // queue of work has room.
  bool isReadyForMoreMediaData() const;
  // False when the sample is not taken: the writer is not writing, the input
  // is finished, or the sample has no frame (video) or bytes (pass-through).
  bool append(const CMSampleBufferRef& sampleBuffer);
  void markAsFinished();
  void requestMediaDataWhenReady(const dispatch::DispatchQueue& on, std::function<void()> block);

  struct State;

 private:
  AVAssetWriterInput() = default;
  std::shared_ptr<State> state_;
  friend class AVAssetWriter;
};

class AVAssetWriter : public std::enable_shared_from_this<AVAssetWriter> {
 public:
  // Throws foundation::NSError when the URL is not a file URL.
  static std::shared_ptr<AVAssetWriter> make(const foundation::URL& outputURL, AVFileType fileType);
  ~AVAssetWriter();
  AVAssetWriter(const AVAssetWriter&) = delete;
  AVAssetWriter& operator=(const AVAssetWriter&) = delete;

  const foundation::URL& outputURL() const;
  bool canAdd(const std::shared_ptr<AVAssetWriterInput>& input) const;
  void add(const std::shared_ptr<AVAssetWriterInput>& input);

  // False (status failed, with an error) when the output cannot be created
  // (a missing folder, no permission) or an input's settings are not usable.
  bool startWriting();
  // Sample times are written relative to this time.
  void startSession(CMTime atSourceTime);
  // Finishes every input, completes the file and calls the handler.
  void finishWriting(std::function<void()> completionHandler);
  // Stops at once; nothing is written to the destination.
  void cancelWriting();

  AVAssetWriterStatus status() const;
  std::optional<foundation::NSError> error() const;

  struct Impl;

 private:
  AVAssetWriter() = default;
  std::shared_ptr<Impl> impl_;
};

}  // namespace avf
